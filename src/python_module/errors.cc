#include "python_module/errors.h"

#include <exception>
#include <new>

#include "python_module/py_ref.h"
#include "support/fatal_error.h"

namespace python_module {

PyObject* raise(PyObject* type, std::string_view text) noexcept {
  Owned message = Owned::steal(
      PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace"));
  if (!message) return nullptr;  // MemoryError is set
  PyErr_SetObject(type, message.get());
  return nullptr;
}

PyObject* panic_exception_type() noexcept {
  // Created under the interpreter lock and never released: worker threads and
  // late calls during shutdown may still raise it.
  static PyObject* type = nullptr;
  if (type == nullptr) {
    type = PyErr_NewException("pyo3_runtime.PanicException", PyExc_BaseException, nullptr);
  }
  return type;
}

void raise_panic(std::string_view text) noexcept {
  PyObject* type = panic_exception_type();
  if (type == nullptr) return;  // the failure to create it is set instead
  raise(type, text);
}

void set_error_from_current_exception() noexcept {
  try {
    throw;
  } catch (const tolva::FatalError& error) {
    raise_panic(error.message());
  } catch (const std::bad_alloc&) {
    PyErr_NoMemory();
  } catch (const std::exception& error) {
    raise_panic(error.what());
  } catch (...) {
    raise_panic("unknown C++ exception");
  }
}

}  // namespace python_module
