#include "python_module/errors.h"

#include <gtest/gtest.h>

#include <new>
#include <stdexcept>

#include "python_module/interpreter_lock.h"
#include "support/fatal_error.h"
#include "test_support/python_module/test_interpreter.h"

namespace python_module {
namespace {

using testing::eval;
using testing::InterpreterTest;
using testing::show;
using testing::take_error;

TEST_F(InterpreterTest, ErrorTextsBecomeExceptionsWithTheTextAsOnlyArgument) {
  EXPECT_EQ(raise_value_error("Unknown string format: Hello"), nullptr);
  ASSERT_TRUE(PyErr_ExceptionMatches(PyExc_ValueError));
  PyObject *type = nullptr, *value = nullptr, *traceback = nullptr;
  PyErr_Fetch(&type, &value, &traceback);
  PyErr_NormalizeException(&type, &value, &traceback);
  Owned error = Owned::steal(value);
  Py_XDECREF(type);
  Py_XDECREF(traceback);
  Owned args = Owned::steal(PyObject_GetAttrString(error.get(), "args"));
  EXPECT_EQ(show(args.get()), "('Unknown string format: Hello',)");

  raise_os_error("No such file or directory (os error 2)");
  EXPECT_EQ(take_error(), "OSError: No such file or directory (os error 2)");
  raise_type_error("t");
  EXPECT_EQ(take_error(), "TypeError: t");
  raise_overflow_error("Duration value is out of range");
  EXPECT_EQ(take_error(), "OverflowError: Duration value is out of range");
  // Bytes that are not UTF-8 never make the error itself fail.
  raise_value_error("bad \xff byte");
  EXPECT_EQ(take_error(), "ValueError: bad \xef\xbf\xbd byte");
}

TEST_F(InterpreterTest, PanicExceptionIsABaseExceptionCreatedOnce) {
  PyObject* panic = panic_exception_type();
  ASSERT_NE(panic, nullptr);
  EXPECT_EQ(panic_exception_type(), panic);
  EXPECT_TRUE(PyType_Check(panic));
  EXPECT_TRUE(PyObject_IsSubclass(panic, PyExc_BaseException) == 1);
  EXPECT_TRUE(PyObject_IsSubclass(panic, PyExc_Exception) == 0);
  Owned module = Owned::steal(PyObject_GetAttrString(panic, "__module__"));
  Owned name = Owned::steal(PyObject_GetAttrString(panic, "__qualname__"));
  EXPECT_EQ(show(module.get()) + "." + show(name.get()), "pyo3_runtime.PanicException");
}

// What a guarded entry point gives for a body that throws `thrown`.
template <class Throw>
std::string guarded_outcome(Throw thrown) {
  PyObject* result = guarded([&]() -> PyObject* {
    thrown();
    return Py_NewRef(Py_None);
  });
  EXPECT_EQ(result, nullptr);
  return take_error();
}

TEST_F(InterpreterTest, NoCppExceptionCrossesTheBoundary) {
  EXPECT_EQ(guarded_outcome([] { tolva::fatal("function parameter location should exist"); }),
            "PanicException: function parameter location should exist");
  EXPECT_EQ(guarded_outcome([] { throw std::bad_alloc(); }), "MemoryError: ");
  EXPECT_EQ(guarded_outcome([] { throw std::runtime_error("boom"); }), "PanicException: boom");
  EXPECT_EQ(guarded_outcome([] { throw 42; }), "PanicException: unknown C++ exception");

  EXPECT_EQ(guarded_status([]() -> int { tolva::fatal("in the exec slot"); }), -1);
  EXPECT_EQ(take_error(), "PanicException: in the exec slot");
  EXPECT_EQ(guarded_status([] { return 0; }), 0);
}

TEST_F(InterpreterTest, FatalErrorWithoutTheLockTakesItBackBeforeRaising) {
  // A failure inside unlocked native work takes the lock back before it
  // leaves, so the handler runs with it held.
  PyObject* result = guarded([&]() -> PyObject* {
    return run_unlocked([]() -> PyObject* {
      EXPECT_FALSE(PyGILState_Check());
      tolva::fatal("invariant broken without the lock");
    });
  });
  EXPECT_EQ(result, nullptr);
  EXPECT_TRUE(PyGILState_Check());
  EXPECT_EQ(take_error(), "PanicException: invariant broken without the lock");
}

TEST_F(InterpreterTest, RunNativeReleasesTheLockOnlyForLongInputs) {
  EXPECT_TRUE(run_native(kReleaseLockMinInputBytes - 1, [] { return PyGILState_Check() == 1; }));
  EXPECT_FALSE(run_native(kReleaseLockMinInputBytes, [] { return PyGILState_Check() == 1; }));
  EXPECT_TRUE(PyGILState_Check());
}

}  // namespace
}  // namespace python_module
