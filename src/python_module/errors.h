#pragma once

// Native failures to Python exceptions, and the boundary that keeps C++
// exceptions out of the interpreter.
//
// An error text of the system becomes an exception of the stated class whose
// single argument is the text. A broken invariant (tolva::FatalError) or any
// other C++ exception that reaches a C entry point becomes PanicException, a
// BaseException subclass named "pyo3_runtime.PanicException", so that an
// `except Exception` handler does not swallow it; std::bad_alloc becomes
// MemoryError. Every C entry point of the module runs its body through
// `guarded`, which guarantees that no C++ exception crosses into the
// interpreter. The one unwind let through is the forced unwind with which
// CPython up to 3.13 ends a thread that comes back while the interpreter
// finalises: it passes through CPython's own frames as well, ends the thread
// and is no error. It may start in any call that runs Python code (an
// argument's __iter__, a finaliser, a time zone's constructor), so no frame
// of the binding layer is noexcept.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <string_view>

#include "support/foreign_exception.h"

namespace python_module {

// Sets an exception of class `type` whose single argument is `text` (UTF-8;
// undecodable bytes become U+FFFD so that the error itself never fails).
// Returns NULL, so a wrapper can `return raise(...)`.
PyObject* raise(PyObject* type, std::string_view text);

inline PyObject* raise_value_error(std::string_view text) { return raise(PyExc_ValueError, text); }
inline PyObject* raise_os_error(std::string_view text) { return raise(PyExc_OSError, text); }
inline PyObject* raise_type_error(std::string_view text) { return raise(PyExc_TypeError, text); }
inline PyObject* raise_overflow_error(std::string_view text) { return raise(PyExc_OverflowError, text); }

// The PanicException class of the calling interpreter: a BORROWED reference
// to a class created on first use in that interpreter and kept until the
// interpreter is cleared, or NULL with an exception set if it cannot be made.
PyObject* panic_exception_type();

// Sets PanicException with `text` as its argument.
void raise_panic(std::string_view text);

// Turns the C++ exception being handled into a Python exception. Call only
// from inside a catch block.
void set_error_from_current_exception();

// Runs `body` and returns its result; a C++ exception becomes a Python
// exception and the result NULL. For entry points that return an object.
template <class Body>
PyObject* guarded(Body&& body) {
  try {
    return body();
  } catch (...) {
    if (tolva::handling_foreign_exception()) throw;  // a forced unwind ends the thread: let it through
    set_error_from_current_exception();
    return nullptr;
  }
}

// The same for entry points that return a status (0 or -1).
template <class Body>
int guarded_status(Body&& body) {
  try {
    return body();
  } catch (...) {
    if (tolva::handling_foreign_exception()) throw;  // a forced unwind ends the thread: let it through
    set_error_from_current_exception();
    return -1;
  }
}

}  // namespace python_module
