#include "python_module/interpreter_lock.h"

#include <unistd.h>

#include "python_module/compat.h"

namespace python_module {

namespace {

// The thread's end while its interpreter finalises: it waits for the process
// to exit, holding nothing of ours.
[[noreturn]] void park_for_ever() {
  for (;;) pause();
}

// Whether this is the process's first thread, the one that runs the
// interpreter's main() and so finalises it. Needs no interpreter lock.
bool on_first_thread() { return ::gettid() == ::getpid(); }

}  // namespace

void take_back(PyThreadState* saved) {
  // Read without the interpreter lock, as CPython reads it on the way in.
  // Not waiting for the lock at all once finalisation has begun keeps the
  // thread out of CPython 3.10's wait for it, which may touch the
  // interpreter after finalisation freed it. The first thread may be the
  // one that finalises, which takes the lock back as usual.
  if (compat::is_finalizing() && !on_first_thread()) park_for_ever();
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
