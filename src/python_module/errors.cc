#include "python_module/errors.h"

#include <exception>
#include <new>

#include "python_module/py_ref.h"
#include "support/fatal_error.h"

namespace python_module {

PyObject* raise(PyObject* type, std::string_view text) {
  Owned message = Owned::steal(
      PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace"));
  if (!message) return nullptr;  // MemoryError is set
  PyErr_SetObject(type, message.get());
  return nullptr;
}

PyObject* panic_exception_type() {
  // One class per interpreter, kept in the interpreter's own dict, so that a
  // boundary with no module object at hand finds the class of the calling
  // interpreter, and every module object of one interpreter raises the same
  // class. The dict lives until the interpreter is cleared, after its last
  // call into the module; the module state holds the class too.
  constexpr const char* kKey = "tolva_rs.PanicException";
  PyObject* interpreter_dict = PyInterpreterState_GetDict(PyInterpreterState_Get());  // BORROWED
  if (interpreter_dict == nullptr) return PyErr_NoMemory();
  PyObject* type = PyDict_GetItemString(interpreter_dict, kKey);  // BORROWED
  if (type != nullptr) return type;
  Owned made = Owned::steal(PyErr_NewException("pyo3_runtime.PanicException", PyExc_BaseException, nullptr));
  if (!made || PyDict_SetItemString(interpreter_dict, kKey, made.get()) < 0) return nullptr;
  return made.get();  // the dict keeps it
}

void raise_panic(std::string_view text) {
  PyObject* type = panic_exception_type();
  if (type == nullptr) return;  // the failure to create it is set instead
  raise(type, text);
}

void set_error_from_current_exception() {
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
