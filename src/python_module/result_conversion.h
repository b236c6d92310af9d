#pragma once

// Native results to new Python values.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstdint>
#include <string_view>

namespace python_module {

// A new `str` from UTF-8 text. NEW reference, or NULL with an exception set
// (UnicodeDecodeError if the text is not UTF-8, which the system's texts
// always are).
inline PyObject* new_text(std::string_view text) {
  return PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), nullptr);
}

// A new `int`. NEW reference, or NULL with an exception set.
inline PyObject* new_int(std::int64_t value) { return PyLong_FromLongLong(value); }
inline PyObject* new_int(std::uint32_t value) { return PyLong_FromUnsignedLong(value); }

}  // namespace python_module
