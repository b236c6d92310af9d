#include "python_module/interpreter_lock.h"

#include <unistd.h>

namespace python_module {

namespace {

// The thread's end while its interpreter finalises: it waits for the process
// to exit, holding nothing of ours.
[[noreturn]] void park_for_ever() {
  for (;;) pause();
}

}  // namespace

void take_back(PyThreadState* saved) {
  try {
    PyEval_RestoreThread(saved);
  } catch (...) {
    // A C function throws nothing else than the forced unwind that ends the
    // thread. Not rethrown: the handler is never left, so the thread neither
    // runs on nor unwinds through frames that would need the interpreter
    // lock.
    park_for_ever();
  }
}

}  // namespace python_module
