#include "python_ast/int.h"

#include <string>

namespace python_ast {

namespace {

// The value of `byte` as a digit: 0..9 for "0".."9", 10..35 for letters of
// either case; 36 or more for anything else.
constexpr std::uint32_t digit_value(unsigned char byte) {
  if (byte >= '0' && byte <= '9') return byte - '0';
  unsigned char lower = byte | 0x20;
  if (lower >= 'a' && lower <= 'z') return lower - 'a' + 10;
  return 36;
}

}  // namespace

Int Int::big(std::string_view text) {
  Int result;
  result.word_ = text.size();
  // A big value is told from a small one by its non-null text pointer; an
  // empty text (whose view may carry no pointer at all) points at "".
  result.text_ = text.data() != nullptr ? text.data() : "";
  return result;
}

IntResult Int::from_str_radix(std::string_view digits, std::uint32_t radix, std::string_view literal,
                              Arena& arena) {
  if (radix < 2 || radix > 36) [[unlikely]] {
    tolva::fatal("from_str_radix: radix must lie in the range `[2, 36]` - found " + std::to_string(radix));
  }
  if (digits.empty()) return ParseIntError{IntErrorKind::Empty};
  if (digits.size() == 1 && (digits[0] == '+' || digits[0] == '-')) return ParseIntError{IntErrorKind::InvalidDigit};
  if (digits[0] == '+') digits.remove_prefix(1);

  std::uint64_t value = 0;
  // Sixteen digits of a radix up to 16 stay below 2^64: no overflow checks.
  if (radix <= 16 && digits.size() <= 16) {
    for (char c : digits) {
      std::uint32_t digit = digit_value(static_cast<unsigned char>(c));
      if (digit >= radix) return ParseIntError{IntErrorKind::InvalidDigit};
      value = value * radix + digit;
    }
    return Int::small(value);
  }
  for (char c : digits) {
    std::uint32_t digit = digit_value(static_cast<unsigned char>(c));
    if (digit >= radix) return ParseIntError{IntErrorKind::InvalidDigit};
    std::uint64_t next = 0;
    if (__builtin_mul_overflow(value, std::uint64_t{radix}, &next) || __builtin_add_overflow(next, digit, &next)) {
      return Int::big(arena.copy_text(literal));
    }
    value = next;
  }
  return Int::small(value);
}

IntResult Int::from_str(std::string_view text, Arena& arena) { return from_str_radix(text, 10, text, arena); }

std::string Int::to_string() const {
  if (is_big()) return std::string(big_text());
  return std::to_string(word_);
}

std::ostream& operator<<(std::ostream& out, const Int& value) {
  if (value.is_big()) return out << value.big_text();
  return out << *value.as_u64();
}

}  // namespace python_ast
