#pragma once

// The few C API calls that the oldest supported interpreter (3.10) lacks,
// each behind a function of the same behaviour on every version.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace python_module::compat {

// The name of a type as `type.__name__` gives it (the part after the last dot
// of a static type's tp_name). NEW reference, or NULL with an exception set.
inline PyObject* type_get_name(PyTypeObject* type) {
#if PY_VERSION_HEX >= 0x030B0000
  return PyType_GetName(type);
#else
  return PyObject_GetAttrString(reinterpret_cast<PyObject*>(type), "__name__");
#endif
}

// The object a weak reference points to: a NEW reference, or NULL (with no
// exception set) when the object is gone.
inline PyObject* weakref_target(PyObject* reference) {
#if PY_VERSION_HEX >= 0x030D0000
  PyObject* target = nullptr;
  if (PyWeakref_GetRef(reference, &target) < 0) PyErr_Clear();
  return target;
#else
  PyObject* target = PyWeakref_GetObject(reference);  // BORROWED; Py_None when gone
  if (target == nullptr) {
    PyErr_Clear();
    return nullptr;
  }
  return target == Py_None ? nullptr : Py_NewRef(target);
#endif
}

// Whether the interpreter's runtime has begun to finalise.
inline bool is_finalizing() {
#if PY_VERSION_HEX >= 0x030D0000
  return Py_IsFinalizing() != 0;
#else
  return _Py_IsFinalizing() != 0;
#endif
}

}  // namespace python_module::compat
