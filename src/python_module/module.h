#pragma once

// The extension module "tolva_rs": its definition, exec slot and body.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace python_module {

// The exec slot: runs the module body on a new module object made from the
// module's definition (module_definition() in module_state.h). Returns 0, or
// -1 with an exception set (TypeError when `module` is not a module object,
// SystemError when it was made from another definition).
int exec_module(PyObject* module);

// Adds `object` (BORROWED) to `module` under `name` and appends the name to
// the module's `__all__`, creating that list when the module has none. A
// `__all__` that is not a list is a TypeError. Returns false with an
// exception set on failure.
bool add_to_module(PyObject* module, const char* name, PyObject* object);

}  // namespace python_module
