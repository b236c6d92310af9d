#pragma once

// The seven classes of project analysis: the file system, the parse cache,
// the four read-only record classes and the project index.
//
// Each creator makes a new class object whose defining module is `module`
// (the module object being executed, which keeps it in its state): a NEW
// reference, or NULL with an exception set. The module body adds them in
// this order.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <string>
#include <string_view>
#include <vector>

#include "python_module/arguments.h"
#include "python_module/module_state.h"
#include "tolva_ast/ast_filesystem.h"
#include "tolva_ast/ast_types.h"

namespace python_module {

PyObject* create_std_ast_file_system_class(PyObject* module);
PyObject* create_ast_file_parser_cache_class(PyObject* module);
PyObject* create_feature_field_class(PyObject* module);
PyObject* create_feature_class_class(PyObject* module);
PyObject* create_function_arg_class(PyObject* module);
PyObject* create_resolver_class(PyObject* module);
PyObject* create_ast_project_index_class(PyObject* module);

// The arguments of the AstFileParserCache and AstProjectIndex constructors,
// (files, project_root, filesystem=None), bound to `signature` and converted
// in parameter order: `files` a list of texts (converted even when a file
// system is given); `filesystem` not given or None leaves it empty, a
// StdAstFileSystem object gives another shared reference to its native file
// system, anything else is a TypeError. False with the exception set on an
// argument error. `project_root` views the caller's `str`; `state` is the
// module state of the constructor's class.
struct ProjectArguments {
  std::vector<std::string> files;
  std::string_view project_root;
  tolva_ast::SharedAstFileSystem filesystem;
};
bool convert_project_arguments(ModuleState& state, const Signature& signature, PyObject* args, PyObject* kwargs,
                               ProjectArguments& out);

// A new record object of the class that `state` keeps, which owns `record`.
// NEW reference, or NULL with an exception set.
PyObject* new_resolver_object(const ModuleState& state, tolva_ast::ResolverAST record);
PyObject* new_feature_class_object(const ModuleState& state, tolva_ast::FeatureClassAST record);

}  // namespace python_module
