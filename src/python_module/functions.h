#pragma once

// The module functions: METH_FASTCALL | METH_KEYWORDS entry points, bound to
// the module object (`module` is the module, whose state those that keep
// Python objects read: module_state.h). Each binds and converts
// its arguments, runs its utility and builds the result; none lets a C++
// exception through. Each returns a NEW reference, or NULL with an exception
// set.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace python_module {

#define TOLVA_MODULE_FUNCTION(name) \
  PyObject* name(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames)

// Short duration strings.
TOLVA_MODULE_FUNCTION(parse_duration_ms);
TOLVA_MODULE_FUNCTION(parse_duration_s);
TOLVA_MODULE_FUNCTION(seconds_to_duration_string);
// ISO 8601 dates, times and durations; time zones.
TOLVA_MODULE_FUNCTION(parse_iso_date);
TOLVA_MODULE_FUNCTION(parse_iso_time);
TOLVA_MODULE_FUNCTION(parse_datetime);
TOLVA_MODULE_FUNCTION(parse_iso_duration);
TOLVA_MODULE_FUNCTION(duration_isoformat);
TOLVA_MODULE_FUNCTION(timezone_from_name);
// Names.
TOLVA_MODULE_FUNCTION(to_snake_case);
TOLVA_MODULE_FUNCTION(build_namespaced_name);

#undef TOLVA_MODULE_FUNCTION

}  // namespace python_module
