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

#include <string>
#include <string_view>
#include <vector>

#include "python_module/arguments.h"
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

// The arguments of the AstFileParserCache and AstProjectIndex constructors,
// (files, project_root, filesystem=None), bound to `signature` and converted
// in parameter order: `files` a list of texts (converted even when a file
// system is given); `filesystem` not given or None leaves it empty, a
// StdAstFileSystem object gives another shared reference to its native file
// system, anything else is a TypeError. False with the exception set on an
// argument error. `project_root` views the caller's `str`.
struct ProjectArguments {
  std::vector<std::string> files;
  std::string_view project_root;
  tolva_ast::SharedAstFileSystem filesystem;
};
bool convert_project_arguments(const Signature& signature, PyObject* args, PyObject* kwargs, ProjectArguments& out);

// A new record object that owns `record`. NEW reference, or NULL with an
// exception set.
PyObject* new_resolver_object(tolva_ast::ResolverAST record);
PyObject* new_feature_class_object(tolva_ast::FeatureClassAST record);

}  // namespace python_module
