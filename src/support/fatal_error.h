#pragma once

// The one exception type of a broken internal invariant.
//
// Code below the binding layer reports recoverable failures as values. A
// violated invariant (a recovery loop that consumes nothing, a range whose
// start is after its end, ...) throws `tolva::FatalError` with a fixed text
// instead. The binding layer catches it at the interpreter boundary and raises
// it as `PanicException`; background workers catch it and store it as a
// poisoned result. Nothing ever aborts the process.

#include <exception>
#include <string>
#include <string_view>

namespace tolva {

class FatalError final : public std::exception {
 public:
  explicit FatalError(std::string message) : message_(std::move(message)) {}

  const char* what() const noexcept override { return message_.c_str(); }
  const std::string& message() const noexcept { return message_; }

 private:
  std::string message_;
};

// Throws a FatalError carrying `message`; kept out of line so that the hot
// callers' check stays a compare and a cold call.
[[noreturn]] void fatal(std::string_view message);

// Checks an invariant; `message` is the exact text the failure reports.
inline void check(bool condition, std::string_view message) {
  if (!condition) [[unlikely]] {
    fatal(message);
  }
}

}  // namespace tolva
