#pragma once

// Unwinds that are not C++ exceptions.
//
// A thread ended by pthread_exit (as CPython ends a thread that comes back
// while the interpreter finalises) unwinds its stack with a forced unwind: a
// foreign exception, which a catch (...) handler sees but which carries no
// C++ object. It ends the thread rather than reporting a failure, so a
// handler must let it through (rethrow it) or never leave; it is never
// recorded as an error. Naming its type in a catch clause would bind a
// reference to an object it does not have, so handlers ask this instead:
// std::current_exception() hands out no foreign exception (it cannot count
// references to one), and always hands out a C++ one.

#include <exception>

namespace tolva {

// Call only inside a catch block: whether the exception being handled is a
// foreign one, such as a forced unwind.
inline bool handling_foreign_exception() noexcept { return std::current_exception() == nullptr; }

}  // namespace tolva
