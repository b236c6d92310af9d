#pragma once

// The seven classes of project analysis: the file system, the parse cache,
// the four read-only record classes and the project index.
//
// Each accessor returns the class object (a BORROWED reference to a type
// created on first use and kept for the life of the process), or NULL with
// an exception set when it cannot be created. The module body adds them in
// this order.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "tolva_ast/ast_filesystem.h"
#include "tolva_ast/ast_types.h"

namespace python_module {

PyTypeObject* std_ast_file_system_class() noexcept;
PyTypeObject* ast_file_parser_cache_class() noexcept;
PyTypeObject* feature_field_class() noexcept;
PyTypeObject* feature_class_class() noexcept;
PyTypeObject* function_arg_class() noexcept;
PyTypeObject* resolver_class() noexcept;
PyTypeObject* ast_project_index_class() noexcept;

// Converts the optional `filesystem` argument: not given or None gives no
// file system (`out` empty); a StdAstFileSystem object gives another shared
// reference to its native file system; anything else is a TypeError.
bool convert_filesystem(PyObject* object, tolva_ast::SharedAstFileSystem& out) noexcept;

// A new record object that owns `record`. NEW reference, or NULL with an
// exception set.
PyObject* new_resolver_object(tolva_ast::ResolverAST record);
PyObject* new_feature_class_object(tolva_ast::FeatureClassAST record);

}  // namespace python_module
