#pragma once

// `Int`: the value of an integer literal, exact at any size.
//
// Two words and trivially destructible, so it sits in arena nodes: either
// small, the value as an unsigned 64-bit integer, or big, a view of a text
// that spells the value, kept when the value does not fit into 64 bits.
// Which text a big value keeps is the caller's choice: the lexer passes the
// whole literal as written for hexadecimal, octal and binary literals (prefix
// and underscores included) and the decimal digits for decimal ones. The
// parsing entries copy that text into the parse's Arena, so a big value never
// depends on the lifetime of the caller's buffer; big literals are rare and
// the copy is their only cost. Small values allocate nothing.
//
// Integer literals are never negative: a minus sign in front of one is a unary
// operator of the expression.

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <type_traits>

#include "python_ast/arena.h"
#include "support/fatal_error.h"

namespace python_ast {

// Why a text is not an integer.
enum class IntErrorKind : std::uint8_t {
  Empty,         // no digits at all
  InvalidDigit,  // a byte that is not a digit of the radix (or a lone sign)
};

struct ParseIntError {
  IntErrorKind kind;

  // "ParseIntError { kind: Empty }" or "ParseIntError { kind: InvalidDigit }":
  // the text the lexer reports.
  constexpr std::string_view debug() const {
    return kind == IntErrorKind::Empty ? "ParseIntError { kind: Empty }" : "ParseIntError { kind: InvalidDigit }";
  }

  constexpr bool operator==(const ParseIntError&) const = default;
};

inline std::ostream& operator<<(std::ostream& out, ParseIntError error) { return out << error.debug(); }

class IntResult;

class Int {
 public:
  // Zero.
  constexpr Int() = default;

  static constexpr Int small(std::uint64_t value) {
    Int result;
    result.word_ = value;
    return result;
  }
  // A big value spelled by `text`, which must outlive the Int (the parsing
  // entries pass arena copies). The text may be empty: it is the caller's.
  static Int big(std::string_view text);

  // Parses `digits` in `radix` (2..36; any other radix throws FatalError):
  //   - no digits: Empty; a lone "+" or "-": InvalidDigit;
  //   - one leading "+" is skipped; a "-" fails as an invalid digit;
  //   - every other byte is a digit of the radix ("0".."9", then "a".."z" or
  //     "A".."Z" for 10..35), else InvalidDigit;
  //   - as soon as a valid digit would overflow 64 bits, the result is big,
  //     holding an arena copy of `literal`, and the remaining bytes are not
  //     examined.
  static IntResult from_str_radix(std::string_view digits, std::uint32_t radix, std::string_view literal,
                                  Arena& arena);
  // The same with radix 10; a big value keeps the whole of `text` (a leading
  // "+" included).
  static IntResult from_str(std::string_view text, Arena& arena);

  constexpr bool is_small() const { return text_ == nullptr; }
  constexpr bool is_big() const { return text_ != nullptr; }
  // The value when it is small.
  constexpr std::optional<std::uint64_t> as_u64() const {
    if (is_big()) return std::nullopt;
    return word_;
  }
  // The kept text when it is big; empty when it is small.
  constexpr std::string_view big_text() const {
    if (is_small()) return {};
    return {text_, static_cast<std::size_t>(word_)};
  }

  // Decimal digits for a small value, the kept text for a big one.
  std::string to_string() const;

  // Small values compare by value, big ones by their kept text; a small and
  // a big value are never equal.
  constexpr bool operator==(const Int& other) const {
    if (is_small() != other.is_small()) return false;
    return is_small() ? word_ == other.word_ : big_text() == other.big_text();
  }

 private:
  // Small: the value, and text_ null. Big: the text's length, and text_
  // pointing at its first byte.
  std::uint64_t word_ = 0;
  const char* text_ = nullptr;
};

static_assert(sizeof(Int) == 16);
static_assert(std::is_trivially_copyable_v<Int>);
static_assert(std::is_trivially_destructible_v<Int>);

std::ostream& operator<<(std::ostream& out, const Int& value);

// An Int or a ParseIntError.
class [[nodiscard]] IntResult {
 public:
  constexpr IntResult(Int value) : value_(value), ok_(true) {}  // NOLINT: implicit by design
  constexpr IntResult(ParseIntError error) : error_(error), ok_(false) {}  // NOLINT

  constexpr bool has_value() const { return ok_; }
  constexpr explicit operator bool() const { return ok_; }

  // The value; throws FatalError on an error.
  const Int& value() const {
    if (!ok_) [[unlikely]] tolva::fatal("called `IntResult::value()` on an error value");
    return value_;
  }
  // The error; throws FatalError on a value.
  ParseIntError error() const {
    if (ok_) [[unlikely]] tolva::fatal("called `IntResult::error()` on a value");
    return error_;
  }

 private:
  Int value_;
  ParseIntError error_{IntErrorKind::Empty};
  bool ok_;
};

}  // namespace python_ast
