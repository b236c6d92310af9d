#pragma once

// `Result<T>`: a value or an owned error text.
//
// Below the binding layer every fallible operation returns one of these; the
// error texts are part of the interface and reach Python callers unchanged.

#include <string>
#include <utility>
#include <variant>

#include "support/fatal_error.h"

namespace tolva {

// The error half of a Result, constructed explicitly so that a text result
// (`Result<std::string>`) cannot be mistaken for its error.
struct Error {
  std::string text;
};

template <class T>
class [[nodiscard]] Result {
 public:
  Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}  // NOLINT: implicit by design
  Result(Error error) : state_(std::in_place_index<1>, std::move(error.text)) {}  // NOLINT

  bool has_value() const noexcept { return state_.index() == 0; }
  explicit operator bool() const noexcept { return has_value(); }

  T& value() & {
    check(has_value(), "called `Result::value()` on an error value");
    return std::get<0>(state_);
  }
  const T& value() const& {
    check(has_value(), "called `Result::value()` on an error value");
    return std::get<0>(state_);
  }
  T&& value() && {
    check(has_value(), "called `Result::value()` on an error value");
    return std::get<0>(std::move(state_));
  }
  const std::string& error() const& {
    check(!has_value(), "called `Result::error()` on a value");
    return std::get<1>(state_);
  }
  std::string&& error() && {
    check(!has_value(), "called `Result::error()` on a value");
    return std::get<1>(std::move(state_));
  }

 private:
  std::variant<T, std::string> state_;
};

}  // namespace tolva
