#pragma once

// The few C API calls that the oldest supported interpreter (3.10) lacks,
// each behind a function of the same behaviour on every version.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace python_module::compat {

// The name of a type as `type.__name__` gives it (the part after the last dot
// of a static type's tp_name). NEW reference, or NULL with an exception set.
inline PyObject* type_get_name(PyTypeObject* type) noexcept {
#if PY_VERSION_HEX >= 0x030B0000
  return PyType_GetName(type);
#else
  return PyObject_GetAttrString(reinterpret_cast<PyObject*>(type), "__name__");
#endif
}

}  // namespace python_module::compat
