#include "python_ast/int.h"

#include <gtest/gtest.h>

#include <charconv>
#include <random>
#include <sstream>
#include <string>
#include <system_error>

#include "python_ast/arena.h"
#include "support/fatal_error.h"

namespace python_ast {
namespace {

constexpr std::string_view kInvalidDigit = "ParseIntError { kind: InvalidDigit }";
constexpr std::string_view kEmpty = "ParseIntError { kind: Empty }";

// "small N", "big TEXT" or the error's debug form.
std::string outcome(const IntResult& result) {
  if (!result) return std::string(result.error().debug());
  const Int& value = result.value();
  return (value.is_small() ? "small " : "big ") + value.to_string();
}

TEST(Int, FromStr) {
  struct Case {
    std::string_view text;
    std::string_view expected;
  };
  const Case cases[] = {
      {"0", "small 0"},
      {"7", "small 7"},
      {"+7", "small 7"},
      {"007", "small 7"},
      {"18446744073709551615", "small 18446744073709551615"},
      {"018446744073709551615", "small 18446744073709551615"},
      {"18446744073709551616", "big 18446744073709551616"},
      {"+18446744073709551616", "big +18446744073709551616"},  // the whole text is kept
      {"99999999999999999999999999999999", "big 99999999999999999999999999999999"},
      // Once the value overflows, the rest is not examined.
      {"18446744073709551616x", "big 18446744073709551616x"},
      {"1844674407370955161x", std::string_view(kInvalidDigit)},
      {"", std::string_view(kEmpty)},
      {"+", std::string_view(kInvalidDigit)},
      {"-", std::string_view(kInvalidDigit)},
      {"-7", std::string_view(kInvalidDigit)},
      {"++7", std::string_view(kInvalidDigit)},
      {"+-7", std::string_view(kInvalidDigit)},
      {" 7", std::string_view(kInvalidDigit)},
      {"7 ", std::string_view(kInvalidDigit)},
      {"1_000", std::string_view(kInvalidDigit)},
      {"0x10", std::string_view(kInvalidDigit)},
      {"1a", std::string_view(kInvalidDigit)},
      {"\xd9\xa3", std::string_view(kInvalidDigit)},  // ARABIC-INDIC DIGIT THREE is no digit here
  };
  Arena arena;
  for (const Case& c : cases) {
    EXPECT_EQ(outcome(Int::from_str(c.text, arena)), c.expected) << '"' << c.text << '"';
  }
}

TEST(Int, FromStrRadix) {
  struct Case {
    std::string_view digits;
    std::uint32_t radix;
    std::string_view literal;
    std::string_view expected;
  };
  const Case cases[] = {
      {"ffffffffffffffff", 16, "0xffffffffffffffff", "small 18446744073709551615"},
      {"FFFFFFFFFFFFFFFF", 16, "0xFFFF_FFFF_FFFF_FFFF", "small 18446744073709551615"},
      {"10000000000000000", 16, "0x1_0000_0000_0000_0000", "big 0x1_0000_0000_0000_0000"},
      {"fffffffffffffffff", 16, "0XfffffffffffffffffF", "big 0XfffffffffffffffffF"},
      {"0000000000000000000ff", 16, "0x0000000000000000000ff", "small 255"},  // long but small
      {"1111111111111111111111111111111111111111111111111111111111111111", 2, "0b1...",
       "small 18446744073709551615"},
      {"10000000000000000000000000000000000000000000000000000000000000000", 2, "0b1_0...", "big 0b1_0..."},
      {"1777777777777777777777", 8, "0o1777777777777777777777", "small 18446744073709551615"},
      {"2000000000000000000000", 8, "0o2000000000000000000000", "big 0o2000000000000000000000"},
      {"3w5e11264sgsf", 36, "L", "small 18446744073709551615"},
      {"3W5E11264SGSF", 36, "L", "small 18446744073709551615"},
      {"3w5e11264sgsg", 36, "L", "big L"},
      {"zz", 36, "zz", "small 1295"},
      {"101", 2, "0b101", "small 5"},
      {"12", 2, "0b12", std::string_view(kInvalidDigit)},
      {"8", 8, "0o8", std::string_view(kInvalidDigit)},
      {"g", 16, "0xg", std::string_view(kInvalidDigit)},
      {"", 16, "0x", std::string_view(kEmpty)},
      {"+", 16, "0x+", std::string_view(kInvalidDigit)},
      {"+f", 16, "0x+f", "small 15"},
      // The kept text is the caller's, whatever it is: an empty one too.
      {"10000000000000000", 16, "", "big "},
  };
  Arena arena;
  for (const Case& c : cases) {
    EXPECT_EQ(outcome(Int::from_str_radix(c.digits, c.radix, c.literal, arena)), c.expected)
        << '"' << c.digits << "\" radix " << c.radix;
  }
}

TEST(Int, BigValuesKeepAnArenaCopyOfTheLiteral) {
  Arena arena;
  std::string literal = "0x1_0000_0000_0000_0000";
  IntResult result = Int::from_str_radix("10000000000000000", 16, literal, arena);
  ASSERT_TRUE(result);
  literal.assign(literal.size(), '#');
  EXPECT_EQ(result.value().big_text(), "0x1_0000_0000_0000_0000");
  EXPECT_FALSE(result.value().as_u64().has_value());
  std::ostringstream out;
  out << result.value();
  EXPECT_EQ(out.str(), "0x1_0000_0000_0000_0000");

  // Small values take nothing from the arena.
  Arena untouched;
  IntResult small = Int::from_str("18446744073709551615", untouched);
  EXPECT_EQ(untouched.bytes_reserved(), 0u);
  EXPECT_EQ(small.value().as_u64(), 18446744073709551615u);
  EXPECT_EQ(small.value().big_text(), "");
  out.str("");
  out << small.value();
  EXPECT_EQ(out.str(), "18446744073709551615");
}

TEST(Int, EqualityByValueOrText) {
  Arena arena;
  EXPECT_EQ(Int::from_str("007", arena).value(), Int::small(7));
  EXPECT_EQ(Int::from_str("99999999999999999999", arena).value(), Int::from_str("99999999999999999999", arena).value());
  EXPECT_NE(Int::from_str("99999999999999999999", arena).value(), Int::small(7));
  EXPECT_EQ(Int(), Int::small(0));
}

TEST(Int, RadixOutsideTwoToThirtySixIsFatal) {
  Arena arena;
  for (std::uint32_t radix : {0u, 1u, 37u, 4294967295u}) {
    try {
      (void)Int::from_str_radix("1", radix, "1", arena);
      ADD_FAILURE() << "radix " << radix;
    } catch (const tolva::FatalError& error) {
      EXPECT_EQ(error.message(),
                "from_str_radix: radix must lie in the range `[2, 36]` - found " + std::to_string(radix));
    }
  }
  EXPECT_THROW((void)Int::from_str("x", arena).value(), tolva::FatalError);
  EXPECT_THROW((void)Int::from_str("1", arena).error(), tolva::FatalError);
}

// Against the standard library's unsigned parser: over random texts of
// digits, letters, signs and other bytes, in every radix, the two agree on
// the value, on invalid input and on which values exceed 64 bits.
TEST(Int, AgreesWithStdFromChars) {
  std::mt19937_64 random(20240611);
  const std::string alphabet = "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ+-_ .\xff";
  Arena arena;
  for (int round = 0; round < 200000; ++round) {
    std::uint32_t radix = 2 + static_cast<std::uint32_t>(random() % 35);
    std::size_t length = random() % 40;
    std::string digits;
    // Mostly valid digits of the radix, so that long values and overflow are
    // common; sometimes any byte of the alphabet.
    for (std::size_t i = 0; i < length; ++i) {
      if (random() % 16 == 0) {
        digits.push_back(alphabet[random() % alphabet.size()]);
      } else {
        digits.push_back(alphabet[random() % radix]);
      }
    }
    if (random() % 8 == 0) digits.insert(digits.begin(), '+');

    std::string expected;
    if (digits.empty()) {
      expected = kEmpty;
    } else if (digits == "+" || digits == "-") {
      expected = kInvalidDigit;
    } else {
      std::string_view rest = digits;
      if (rest[0] == '+') rest.remove_prefix(1);
      std::uint64_t value = 0;
      auto [end, error] = std::from_chars(rest.data(), rest.data() + rest.size(), value, static_cast<int>(radix));
      if (error == std::errc::result_out_of_range) {
        expected = "big " + digits;
      } else if (error != std::errc() || end != rest.data() + rest.size() || rest.empty()) {
        expected = kInvalidDigit;
      } else {
        expected = "small " + std::to_string(value);
      }
    }
    ASSERT_EQ(outcome(Int::from_str_radix(digits, radix, digits, arena)), expected)
        << '"' << digits << "\" radix " << radix;
  }
}

}  // namespace
}  // namespace python_ast
