#pragma once

// Object handles over the CPython C API.
//
// `Owned` holds an OWNED (strong) reference and releases it when it goes out
// of scope, so a wrapper has one exit path no matter where it returns.
// `Borrowed` names a BORROWED reference: the caller keeps the object alive
// for as long as the handle is used, and the handle never touches the count.
// Both may hold NULL; for `Owned`, NULL after a C API call means "a Python
// exception is set" unless the call documents otherwise.
//
// Every use of either handle needs the interpreter lock, but for the drop of
// an `Owned` once the interpreter finalises (see drop_reference).

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <utility>

#include "python_module/compat.h"

namespace python_module {

// Releases an OWNED reference that a handle drops. A handle may also be
// dropped while a forced unwind ends its thread (interpreter_lock.h), which
// then no longer holds the interpreter lock, possibly after the interpreter
// is gone. So once the runtime has begun to finalise, handles leave their
// references alone (leaked, as the interpreter's own frames leave theirs
// when such a thread ends): no lock-free check of the interpreter lock
// stays true through finalisation. Before that this costs one call that
// reads the runtime's state.
inline void drop_reference(PyObject* object) {
  if (object == nullptr) return;
  if (compat::is_finalizing()) [[unlikely]] return;
  Py_DECREF(object);
}

class Borrowed {
 public:
  constexpr Borrowed() noexcept = default;
  constexpr explicit Borrowed(PyObject* object) noexcept : object_(object) {}

  constexpr PyObject* get() const noexcept { return object_; }
  constexpr explicit operator bool() const noexcept { return object_ != nullptr; }

 private:
  PyObject* object_ = nullptr;
};

class Owned {
 public:
  constexpr Owned() noexcept = default;
  Owned(const Owned&) = delete;
  Owned& operator=(const Owned&) = delete;
  Owned(Owned&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
  Owned& operator=(Owned&& other) {
    if (this != &other) {
      drop_reference(object_);
      object_ = std::exchange(other.object_, nullptr);
    }
    return *this;
  }
  // Releasing a reference may run Python code (a finaliser), which may end
  // the thread with a forced unwind (see interpreter_lock.h): let it through.
  ~Owned() noexcept(false) { drop_reference(object_); }

  // Takes over a NEW reference (the result of a C API call that returns one).
  static Owned steal(PyObject* object) noexcept { return Owned(object); }
  // Adds a reference to a BORROWED object and owns that one.
  static Owned share(PyObject* object) noexcept {
    Py_XINCREF(object);
    return Owned(object);
  }

  PyObject* get() const noexcept { return object_; }
  Borrowed borrow() const noexcept { return Borrowed(object_); }
  explicit operator bool() const noexcept { return object_ != nullptr; }

  // Gives the reference away: the caller owns it from now on.
  [[nodiscard]] PyObject* release() noexcept { return std::exchange(object_, nullptr); }

 private:
  constexpr explicit Owned(PyObject* object) noexcept : object_(object) {}

  PyObject* object_ = nullptr;
};

}  // namespace python_module
