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
// Every use of either handle needs the interpreter lock.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <utility>

namespace python_module {

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
  Owned& operator=(Owned&& other) noexcept {
    if (this != &other) {
      Py_XDECREF(object_);
      object_ = std::exchange(other.object_, nullptr);
    }
    return *this;
  }
  ~Owned() { Py_XDECREF(object_); }

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
