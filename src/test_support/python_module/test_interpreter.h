#pragma once

// For the C++ tests of python_module: an embedded interpreter, started once per
// test executable and kept running, and small helpers to evaluate Python code
// and read the pending exception.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <gtest/gtest.h>

#include <string>

#include "python_module/module_state.h"
#include "python_module/py_ref.h"

namespace python_module::testing {

// The globals in which `run` and `eval` execute: one namespace for the whole
// test run, so a test can define helpers and use them in later lines.
inline PyObject* test_globals() {
  static PyObject* globals = [] {
    if (!Py_IsInitialized()) Py_InitializeEx(0);
    PyObject* dict = PyDict_New();
    PyDict_SetItemString(dict, "__builtins__", PyEval_GetBuiltins());
    return dict;
  }();
  return globals;
}

// A module object made from the module's definition and executed, kept for
// the whole test run: its state serves the tests that need one, and the
// classes it defines are those that later module objects of the test
// interpreter share.
inline PyObject* test_module() {
  static PyObject* module = [] {
    test_globals();
    Owned spec = Owned::steal(
        PyRun_String("__import__('types').SimpleNamespace(name='tolva_rs')", Py_eval_input, test_globals(), test_globals()));
    PyObject* made = spec ? PyModule_FromDefAndSpec(module_definition(), spec.get()) : nullptr;
    if (made != nullptr && PyModule_ExecDef(made, module_definition()) < 0) Py_CLEAR(made);
    return made;
  }();
  return module;
}

inline ModuleState& test_state() {
  PyObject* module = test_module();
  EXPECT_NE(module, nullptr) << "the module could not be made";
  return *static_cast<ModuleState*>(PyModule_GetState(module));
}

// The UTF-8 form of a str, lone surrogates shown as "\udc80".
inline std::string utf8_of(PyObject* text) {
  Owned bytes = Owned::steal(PyUnicode_AsEncodedString(text, "utf-8", "backslashreplace"));
  if (!bytes) {
    PyErr_Clear();
    return "<unencodable>";
  }
  return std::string(PyBytes_AS_STRING(bytes.get()), static_cast<std::size_t>(PyBytes_GET_SIZE(bytes.get())));
}

// "TypeError: message" for the pending exception, which is cleared; "" when
// none is pending.
inline std::string take_error() {
  if (!PyErr_Occurred()) return "";
  PyObject *type = nullptr, *value = nullptr, *traceback = nullptr;
  PyErr_Fetch(&type, &value, &traceback);
  PyErr_NormalizeException(&type, &value, &traceback);
  Owned owned_type = Owned::steal(type);
  Owned owned_value = Owned::steal(value);
  Owned owned_traceback = Owned::steal(traceback);
  Owned name = Owned::steal(PyObject_GetAttrString(type, "__qualname__"));
  Owned text = Owned::steal(owned_value ? PyObject_Str(owned_value.get()) : PyUnicode_FromString(""));
  if (!name || !text) {
    PyErr_Clear();
    return "<unprintable exception>";
  }
  return utf8_of(name.get()) + ": " + utf8_of(text.get());
}

// Runs statements; returns "" or the error they raised.
inline std::string run(const std::string& code) {
  Owned result = Owned::steal(PyRun_String(code.c_str(), Py_file_input, test_globals(), test_globals()));
  return result ? "" : take_error();
}

// Evaluates an expression. NEW reference, or NULL with the exception pending.
inline Owned eval(const std::string& expression) {
  return Owned::steal(PyRun_String(expression.c_str(), Py_eval_input, test_globals(), test_globals()));
}

// str() of an object, or the pending error when `object` is NULL.
inline std::string show(PyObject* object) {
  if (object == nullptr) return "error " + take_error();
  Owned text = Owned::steal(PyObject_Str(object));
  if (!text) return "error " + take_error();
  return utf8_of(text.get());
}

// A test fixture whose tests run with the interpreter started.
class InterpreterTest : public ::testing::Test {
 protected:
  void SetUp() override { test_globals(); }
  void TearDown() override { EXPECT_EQ(take_error(), "") << "a test left an exception pending"; }
};

}  // namespace python_module::testing
