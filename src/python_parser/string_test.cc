#include "python_parser/string.h"

#include <gtest/gtest.h>
#include <unicode/uchar.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <optional>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "python_ast/arena.h"
#include "support/fatal_error.h"
#include "test_support/oracle.h"

namespace python_parser {
namespace {

using python_ast::AnyStringFlags;
using python_ast::Arena;
using text_size::TextOffset;
using text_size::TextRange;

// ---------------------------------------------------------------------------
// Helpers: a literal written as Python source, split the way the lexer splits
// it (prefix, quotes, body).

struct Literal {
  std::string_view body;
  AnyStringFlags flags;
  TextRange range;  // the whole literal, starting at offset 0
};

AnyStringFlags flags_of_prefix(std::string_view prefix, char quote, bool triple) {
  std::uint16_t bits = 0;
  for (char c : prefix) {
    switch (c) {
      case 'u': case 'U': bits |= AnyStringFlags::kPrefixU; break;
      case 'b': case 'B': bits |= AnyStringFlags::kPrefixB; break;
      case 'f': case 'F': bits |= AnyStringFlags::kPrefixF; break;
      case 't': case 'T': bits |= AnyStringFlags::kPrefixT; break;
      case 'r': bits |= AnyStringFlags::kPrefixLowerR; break;
      case 'R': bits |= AnyStringFlags::kPrefixUpperR; break;
      default: ADD_FAILURE() << "bad prefix " << prefix;
    }
  }
  if (quote == '"') bits |= AnyStringFlags::kDoubleQuoted;
  if (triple) bits |= AnyStringFlags::kTripleQuoted;
  return AnyStringFlags::from_bits(bits);
}

// Splits a complete, closed literal such as rb'''x'''. Returns false when the
// text is not one.
bool split_literal(std::string_view text, Literal& out) {
  std::size_t quote_at = text.find_first_of("'\"");
  if (quote_at == std::string_view::npos || quote_at > 2) return false;
  char quote = text[quote_at];
  bool triple = text.size() >= quote_at + 6 && text[quote_at + 1] == quote && text[quote_at + 2] == quote;
  std::size_t quote_len = triple ? 3 : 1;
  if (text.size() < quote_at + 2 * quote_len) return false;
  out.flags = flags_of_prefix(text.substr(0, quote_at), quote, triple);
  out.body = text.substr(quote_at + quote_len, text.size() - quote_at - 2 * quote_len);
  out.range = TextRange(0, static_cast<std::uint32_t>(text.size()));
  return true;
}

DecodeResult<std::string_view> decode(std::string_view python_literal, Arena& arena) {
  Literal literal;
  if (!split_literal(python_literal, literal)) tolva::fatal("test literal is malformed");
  return parse_string_literal(literal.body, literal.flags, literal.range, arena);
}

std::string error_text(const LexicalError& error) { return error.error.display() + " at " + error.range.debug(); }

// Shows a decoded value with its non-printable bytes escaped.
std::string printable(std::string_view value) {
  std::string out;
  char buffer[8];
  for (char c : value) {
    auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte < 0x7F && byte != '\\') {
      out.push_back(c);
    } else {
      std::snprintf(buffer, sizeof buffer, "\\x%02x", byte);
      out += buffer;
    }
  }
  return out;
}

// ---------------------------------------------------------------------------
// Values.

struct ValueCase {
  std::string_view literal;  // Python source
  std::string_view value;    // expected bytes of the value
};

TEST(ParseStringLiteralTest, DecodesEscapes) {
  using namespace std::string_view_literals;
  const ValueCase cases[] = {
      // Plain escapes.
      {R"('a\tb')", "a\tb"},
      {R"('\a\b\f\n\r\t\v')", "\a\b\f\n\r\t\v"},
      {R"('\\ \' \"')", "\\ ' \""},
      {R"("it\'s")", "it's"},
      // Unrecognised escapes keep their backslash.
      {R"('\d')", "\\d"},
      {R"('\8\9')", "\\8\\9"},
      {R"('\ ')", "\\ "},
      {"'\\\t'", "\\\t"},
      {"'\\\u00e9'", "\\\u00e9"},
      {"'\\\U0001F600!'", "\\\U0001F600!"},
      // Line continuations disappear with their line break.
      {"'''a\\\nb'''", "ab"},
      {"'''a\\\r\nb'''", "ab"},
      {"'''a\\\rb'''", "ab"},
      {"'''a\\\n\\\nb'''", "ab"},
      {"'''\\\\\nb'''", "\\\nb"},
      // Hexadecimal.
      {R"('\x41')", "A"},
      {R"('\x4a\x4A')", "JJ"},
      {R"('\xff')", "\u00ff"},
      {R"('\x00')", "\0"sv},
      {R"('\u00e9')", "\u00e9"},
      {R"('\u20AC')", "\u20ac"},
      {R"('\U0001F600')", "\U0001F600"},
      {R"('\U0010FFFF')", "\U0010FFFF"},
      {R"('\u12345')", "\u12345"},
      // A lone surrogate becomes U+FFFD.
      {R"('\ud83d')", "\uFFFD"},
      {R"('\udfff\U0000D800')", "\uFFFD\uFFFD"},
      // Octal: one to three digits.
      {R"('\101')", "A"},
      {R"('\0')", "\0"sv},
      {R"('\12')", "\n"},
      {R"('\1234')", "S4"},
      {R"('\18')", "\x01" "8"},
      {R"('\400')", "\u0100"},
      {R"('\777')", "\u01FF"},
      // Named characters.
      {R"('\N{LATIN SMALL LETTER A}')", "a"},
      {R"('\N{latin small letter a}')", "a"},
      {R"('\N{EM DASH}-\N{BULLET}')", "\u2014-\u2022"},
      {R"('\N{NBSP}\N{LINE FEED}\N{BOM}')", "\u00a0\n\ufeff"},
      {R"('\N{HANGUL SYLLABLE KAG}')", "\ucE75"},
      {R"('\N{CJK UNIFIED IDEOGRAPH-4E00}')", "\u4e00"},
      {R"('\N{NULL}')", "\0"sv},
      // Prefixes.
      {R"(u'\x41')", "A"},
      {R"(U"\x41")", "A"},
      {R"("""\x41""")", "A"},
      {R"(r'a\tb')", "a\\tb"},
      {R"(R'\x4')", "\\x4"},
      {R"(r'\N{NOT A NAME}')", "\\N{NOT A NAME}"},
      {R"(r'\')", "\\"},
      // Nothing to decode.
      {"''", ""},
      {"'plain text'", "plain text"},
      {"'\u00e9t\u00e9'", "\u00e9t\u00e9"},
  };
  for (const ValueCase& c : cases) {
    Arena arena;
    DecodeResult<std::string_view> result = decode(c.literal, arena);
    ASSERT_TRUE(result.has_value()) << c.literal << ": " << error_text(result.error());
    EXPECT_EQ(printable(result.value()), printable(c.value)) << c.literal;
  }
}

TEST(ParseStringLiteralTest, DecodesBytes) {
  using namespace std::string_view_literals;
  const ValueCase cases[] = {
      {R"(b'abc')", "abc"},
      {R"(b'\d')", "\\d"},
      {R"(b'\x41\xff\x00')", "A\xff\0"sv},
      {R"(b'\101\777\400')", "A\xff\0"sv},
      {R"(b'\n\t\\')", "\n\t\\"},
      // \u, \U and \N are no escapes in bytes.
      {R"(b'\u1234')", "\\u1234"},
      {R"(b'\U0001F600')", "\\U0001F600"},
      {R"(b'\N{DASH}')", "\\N{DASH}"},
      {R"(b'\N')", "\\N"},
      {"b'''a\\\nb'''", "ab"},
      {R"(rb'\x41')", "\\x41"},
      {R"(Rb'\n')", "\\n"},
      {R"(B'\x41')", "A"},
  };
  for (const ValueCase& c : cases) {
    Arena arena;
    DecodeResult<std::string_view> result = decode(c.literal, arena);
    ASSERT_TRUE(result.has_value()) << c.literal << ": " << error_text(result.error());
    EXPECT_EQ(printable(result.value()), printable(c.value)) << c.literal;
  }
}

// A body that needs no decoding is returned as the very same bytes; one that
// does is written into the arena.
TEST(ParseStringLiteralTest, ReusesTheSourceWhenNothingIsDecoded) {
  const std::string_view cases[] = {"'abc'", "r'a\\tb'", "rb'\\x41'", "b'abc'", "''"};
  for (std::string_view text : cases) {
    Arena arena;
    Literal literal;
    ASSERT_TRUE(split_literal(text, literal));
    DecodeResult<std::string_view> result = parse_string_literal(literal.body, literal.flags, literal.range, arena);
    ASSERT_TRUE(result.has_value());
    EXPECT_EQ(result.value().data(), literal.body.data()) << text;
    EXPECT_EQ(arena.bytes_reserved(), 0u) << text;
  }
  Arena arena;
  DecodeResult<std::string_view> decoded = decode("'a\\tb'", arena);
  ASSERT_TRUE(decoded.has_value());
  EXPECT_EQ(decoded.value(), "a\tb");
  EXPECT_GT(arena.bytes_reserved(), 0u);
}

// ---------------------------------------------------------------------------
// Errors, with their exact texts and file ranges.

struct ErrorCase {
  std::string_view literal;
  std::string_view error;  // display text, " at ", range
};

TEST(ParseStringLiteralTest, ReportsErrorsWithTheirRanges) {
  const ErrorCase cases[] = {
      // Too few hex digits: an empty range at the end of the body.
      {R"('\x4')", "Got unexpected unicode at 4..4"},
      {R"('\x')", "Got unexpected unicode at 3..3"},
      {R"('\u12')", "Got unexpected unicode at 5..5"},
      {R"('\U0010FFF')", "Got unexpected unicode at 10..10"},
      // A wrong digit: its own range, whole character.
      {R"('\xZ1')", "Got unexpected unicode at 3..4"},
      {R"('\x1Z')", "Got unexpected unicode at 4..5"},
      {"'\\x\u00e91'", "Got unexpected unicode at 3..5"},
      {"'\\u12\u20ac4'", "Got unexpected unicode at 5..8"},
      {R"('\x4\x41')", "Got unexpected unicode at 4..5"},
      // Beyond U+10FFFF: just after the last digit.
      {R"('\U00110000')", "Got unexpected unicode at 11..11"},
      {R"('ab\UFFFFFFFF')", "Got unexpected unicode at 13..13"},
      // Named characters.
      {R"('\N')", "Missing `{` in Unicode escape sequence at 3..3"},
      {R"('\Nx')", "Missing `{` in Unicode escape sequence at 3..3"},
      {R"('\N{abc')", "Missing `}` in Unicode escape sequence at 7..7"},
      {R"('\N{')", "Missing `}` in Unicode escape sequence at 4..4"},
      {R"('\N{NOT A NAME}')", "Got unexpected unicode at 4..14"},
      {R"('\N{}')", "Got unexpected unicode at 4..4"},
      {R"('\N{ EM DASH}')", "Got unexpected unicode at 4..12"},
      {"'\\N{EM\u00a0DASH}'", "Got unexpected unicode at 4..12"},
      // Offsets follow the prefix and the quotes.
      {R"(u'\x4')", "Got unexpected unicode at 5..5"},
      {R"("""\x4""")", "Got unexpected unicode at 6..6"},
      {R"(Rb'é')", "bytes can only contain ASCII literal characters at 3..5"},
      {R"(b"""ab\x4""")", "Got unexpected unicode at 9..9"},
      // Bytes: the first non-ASCII character, raw or not, before any escape.
      {"b'\u00e9'", "bytes can only contain ASCII literal characters at 2..4"},
      {"rb'x\u00e9'", "bytes can only contain ASCII literal characters at 4..6"},
      {"b'\\x4\u20ac'", "bytes can only contain ASCII literal characters at 5..8"},
      {"b'\U0001F600'", "bytes can only contain ASCII literal characters at 2..6"},
      {R"(b'\x4')", "Got unexpected unicode at 5..5"},
  };
  for (const ErrorCase& c : cases) {
    Arena arena;
    DecodeResult<std::string_view> result = decode(c.literal, arena);
    ASSERT_FALSE(result.has_value()) << c.literal << " decoded to " << printable(result.value());
    EXPECT_EQ(error_text(result.error()), c.error) << c.literal;
  }
}

TEST(ParseStringLiteralTest, BackslashAtTheEndOfAnUnclosedLiteral) {
  // `'ab\` at the end of the file: the body runs to the end of the text.
  Arena arena;
  AnyStringFlags flags = flags_of_prefix("", '\'', false);
  DecodeResult<std::string_view> result = parse_string_literal("ab\\", flags, TextRange(10, 14), arena);
  ASSERT_FALSE(result.has_value());
  EXPECT_EQ(error_text(result.error()), "Got unexpected string at 14..14");

  // An unclosed literal without such a backslash decodes normally.
  DecodeResult<std::string_view> fine = parse_string_literal("a\\tb", flags, TextRange(0, 5), arena);
  ASSERT_TRUE(fine.has_value());
  EXPECT_EQ(fine.value(), "a\tb");
}

TEST(ParseStringLiteralTest, OffsetsCountFromTheTokenStart) {
  // The same error inside a token at offset 100 of a file.
  Arena arena;
  AnyStringFlags flags = flags_of_prefix("rb", '"', true);
  DecodeResult<std::string_view> result = parse_string_literal("x\xc3\xa9", flags, TextRange(100, 109), arena);
  ASSERT_FALSE(result.has_value());
  EXPECT_EQ(error_text(result.error()), "bytes can only contain ASCII literal characters at 106..108");
}

TEST(ParseStringLiteralTest, InvalidUtf8IsHandledByteWise) {
  Arena arena;
  AnyStringFlags plain = flags_of_prefix("", '\'', false);
  // A stray byte after a backslash is kept verbatim, one byte long.
  DecodeResult<std::string_view> verbatim = parse_string_literal("\\\xff" "a", plain, TextRange(0, 5), arena);
  ASSERT_TRUE(verbatim.has_value());
  EXPECT_EQ(verbatim.value(), "\\\xff" "a");
  // A truncated sequence in place of a hex digit covers one byte.
  DecodeResult<std::string_view> hex = parse_string_literal("\\x\xe2\x82", plain, TextRange(0, 6), arena);
  ASSERT_FALSE(hex.has_value());
  EXPECT_EQ(error_text(hex.error()), "Got unexpected unicode at 3..4");
  // In bytes the first non-ASCII byte is the error, whatever follows it.
  DecodeResult<std::string_view> bytes =
      parse_string_literal("a\x80", flags_of_prefix("b", '\'', false), TextRange(0, 5), arena);
  ASSERT_FALSE(bytes.has_value());
  EXPECT_EQ(error_text(bytes.error()), "bytes can only contain ASCII literal characters at 3..4");
  // \N names are ASCII: a name with a non-ASCII or NUL byte is unknown.
  std::string with_nul = std::string("\\N{A\0B}", 7);
  DecodeResult<std::string_view> nul = parse_string_literal(with_nul, plain, TextRange(0, 9), arena);
  ASSERT_FALSE(nul.has_value());
  EXPECT_EQ(error_text(nul.error()), "Got unexpected unicode at 4..7");
}

TEST(ParseStringLiteralTest, BodyOutsideItsRangeIsFatal) {
  Arena arena;
  AnyStringFlags flags = flags_of_prefix("", '\'', false);
  EXPECT_THROW((void)parse_string_literal("abcdef", flags, TextRange(0, 4), arena), tolva::FatalError);
  EXPECT_THROW((void)parse_interpolated_string_literal_element("abcdef", flags, TextRange(2, 4), arena),
               tolva::FatalError);
  EXPECT_THROW((void)parse_string_literal("", flags_of_prefix("rb", '\'', true), TextRange(0, 3), arena),
               tolva::FatalError);
}

// ---------------------------------------------------------------------------
// Literal parts of f-strings and t-strings.

struct ElementCase {
  std::string_view prefix;  // of the enclosing f-string or t-string
  std::string_view source;  // the part as the lexer delivers it (braces collapsed)
  std::uint32_t start;      // the part's token range start; its end is the end of its file text
  std::uint32_t end;
  std::string_view expected;  // the value, or "error: ..." for an error
};

TEST(InterpolatedStringElementTest, DecodesParts) {
  const ElementCase cases[] = {
      {"f", "abc", 2, 5, "abc"},
      // f'{{x}}': the lexer hands over {x} for the five source bytes.
      {"f", "{x}", 2, 7, "{x}"},
      {"t", "a}b{", 2, 8, "a}b{"},
      {"f", "a\\tb", 2, 6, "a\tb"},
      {"f", "\\N{EM DASH}", 2, 13, "\u2014"},
      {"f", "\\x41\\u00e9", 2, 12, "A\u00e9"},
      {"f", "a\\\nb", 4, 8, "ab"},
      // f'\{x}': the part is a lone backslash, kept without error.
      {"f", "\\", 2, 3, "\\"},
      {"f", "ab\\", 2, 5, "ab\\"},
      // f'\{{': a backslash before a collapsed brace stays with it.
      {"f", "\\{", 2, 5, "\\{"},
      {"f", "\\}x", 2, 6, "\\}x"},
      // Raw parts keep every backslash.
      {"rf", "a\\tb\\", 3, 8, "a\\tb\\"},
      {"Rt", "\\x4{", 3, 9, "\\x4{"},
      {"f", "\\d", 2, 4, "\\d"},
      {"f", "\\ud800", 2, 8, "\uFFFD"},
      // Errors. After each collapsed brace, file positions move one more byte.
      {"f", "{x}\\x4", 2, 10, "error: Got unexpected unicode at 10..10"},
      {"f", "{\\xZ1", 2, 8, "error: Got unexpected unicode at 6..7"},
      {"f", "}}\\N{NOPE}", 2, 14, "error: Got unexpected unicode at 9..13"},
      {"f", "\\{\\xZ", 2, 8, "error: Got unexpected unicode at 7..8"},
      {"t", "\\N", 2, 4, "error: Missing `{` in Unicode escape sequence at 4..4"},
      {"f", "\\U00110000", 2, 12, "error: Got unexpected unicode at 12..12"},
      {"f", "\\N{abc", 2, 8, "error: Missing `}` in Unicode escape sequence at 8..8"},
  };
  for (const ElementCase& c : cases) {
    Arena arena;
    AnyStringFlags flags = flags_of_prefix(c.prefix, '\'', false);
    DecodeResult<std::string_view> result =
        parse_interpolated_string_literal_element(c.source, flags, TextRange(c.start, c.end), arena);
    std::string got = result.has_value() ? printable(result.value()) : "error: " + error_text(result.error());
    std::string want = c.expected.starts_with("error: ") ? std::string(c.expected) : printable(c.expected);
    EXPECT_EQ(got, want) << c.prefix << " part " << printable(c.source);
  }
}

TEST(InterpolatedStringElementTest, ReusesTheSourceWithoutBracesOrBackslashes) {
  Arena arena;
  std::string_view source = "plain text \u00e9";
  DecodeResult<std::string_view> result = parse_interpolated_string_literal_element(
      source, flags_of_prefix("f", '"', false), TextRange(2, 2 + static_cast<std::uint32_t>(source.size())), arena);
  ASSERT_TRUE(result.has_value());
  EXPECT_EQ(result.value().data(), source.data());
  EXPECT_EQ(arena.bytes_reserved(), 0u);
}

// Long parts cross the 16-byte blocks of the vector searches.
TEST(InterpolatedStringElementTest, FindsEveryBraceInLongParts) {
  for (std::size_t at = 0; at < 40; ++at) {
    std::string source(40, 'a');
    source[at] = '{';
    Arena arena;
    auto result = parse_interpolated_string_literal_element(source, flags_of_prefix("f", '\'', false),
                                                            TextRange(0, 41), arena);
    ASSERT_TRUE(result.has_value());
    EXPECT_EQ(result.value(), source);

    source[at] = '\\';
    if (at + 1 < source.size()) source[at + 1] = 'n';
    auto escaped = parse_interpolated_string_literal_element(source, flags_of_prefix("f", '\'', false),
                                                             TextRange(0, 40), arena);
    ASSERT_TRUE(escaped.has_value());
    std::string expected = source;
    if (at + 1 < source.size()) expected.replace(at, 2, "\n");
    EXPECT_EQ(escaped.value(), expected) << at;

    std::string bytes(40, 'b');
    bytes[at] = '\x80';
    auto non_ascii = parse_string_literal(bytes, flags_of_prefix("b", '\'', false), TextRange(0, 43), arena);
    ASSERT_FALSE(non_ascii.has_value());
    EXPECT_EQ(non_ascii.error().range, TextRange::at(TextOffset(2 + static_cast<std::uint32_t>(at)), 1));
  }
}

// ---------------------------------------------------------------------------
// Character names.

TEST(CharacterFromNameTest, NamesAliasesAndRefusals) {
  const std::pair<std::string_view, std::optional<char32_t>> cases[] = {
      {"LATIN SMALL LETTER A", U'a'},
      {"Latin Small Letter A", U'a'},
      {"EURO SIGN", U'\u20ac'},
      {"GRINNING FACE", U'\U0001F600'},
      // Aliases of every type, in any case.
      {"LINE FEED", U'\n'},
      {"line feed", U'\n'},
      {"LF", U'\n'},
      {"BACKSPACE", U'\b'},
      {"NBSP", U'\u00a0'},
      {"BOM", U'\ufeff'},
      {"ZWJ", U'\u200d'},
      {"NULL", U'\0'},
      {"PADDING CHARACTER", U'\u0080'},
      {"LATIN CAPITAL LETTER GHA", U'\u01a2'},
      // Algorithmic names.
      {"HANGUL SYLLABLE GA", U'\uac00'},
      {"HANGUL SYLLABLE HIH", U'\ud7a3'},
      {"CJK UNIFIED IDEOGRAPH-4E00", U'\u4e00'},
      {"CJK UNIFIED IDEOGRAPH-20000", U'\U00020000'},
      {"CJK COMPATIBILITY IDEOGRAPH-F900", U'\uf900'},
      // Not names.
      {"", std::nullopt},
      {"NOT A CHARACTER NAME", std::nullopt},
      {" LATIN SMALL LETTER A", std::nullopt},
      {"LATIN  SMALL LETTER A", std::nullopt},
      {"LATIN_SMALL_LETTER_A", std::nullopt},
      {"<control-0007>", std::nullopt},
      {"LATIN CAPITAL LETTER A WITH MACRON AND GRAVE", std::nullopt},  // a named sequence
      {"LATIN SMALL LETTER \xc3\xa1", std::nullopt},
      {std::string_view("LATIN SMALL LETTER A\0", 21), std::nullopt},
      {"CJK UNIFIED IDEOGRAPH-", std::nullopt},
      {"HANGUL SYLLABLE", std::nullopt},
  };
  for (const auto& [name, expected] : cases) {
    EXPECT_EQ(character_from_name(name), expected) << name;
  }
  // Longer than any name: refused without a lookup.
  std::string long_name(300, 'A');
  EXPECT_EQ(character_from_name(long_name), std::nullopt);
  std::string many_spaces = "LATIN SMALL LETTER A" + std::string(250, ' ');
  EXPECT_EQ(character_from_name(many_spaces), std::nullopt);
}

// Lookups from many threads at once (the parse of several files).
TEST(CharacterFromNameTest, ThreadSafe) {
  std::vector<std::thread> threads;
  std::vector<int> failures(8, 0);
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([t, &failures] {
      for (int i = 0; i < 200; ++i) {
        if (character_from_name(i % 2 ? "EM DASH" : "nbsp") != (i % 2 ? U'\u2014' : U'\u00a0')) ++failures[t];
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (int f : failures) EXPECT_EQ(f, 0);
}

// ---------------------------------------------------------------------------
// Random bodies: no input may crash, hang or report a range outside the body.

TEST(DecodeRobustnessTest, RandomBodiesStayInBounds) {
  const std::string alphabet[] = {"\\", "\\", "\\", "x", "u", "U", "N", "{", "}", "0", "7", "8", "F", "f", "a",
                                  "\n", "\r", "'", " ", "\xc3\xa9", "\xe2\x82\xac", "\xff", "\x80", std::string(1, '\0')};
  const char* prefixes[] = {"", "b", "r", "rb", "u", "f", "rf", "t"};
  std::mt19937 random(12345);
  for (int round = 0; round < 30000; ++round) {
    std::string body;
    int length = static_cast<int>(random() % 24);
    for (int i = 0; i < length; ++i) body += alphabet[random() % std::size(alphabet)];
    std::string_view prefix = prefixes[random() % std::size(prefixes)];
    AnyStringFlags flags = flags_of_prefix(prefix, '\'', round % 3 == 0);
    auto size = static_cast<std::uint32_t>(body.size());
    Arena arena;
    bool interpolated = prefix.find_first_of("ft") != std::string_view::npos;
    std::uint32_t start = 7;
    std::uint32_t body_start = interpolated ? start : start + flags.opener_len();
    // The range may reach beyond the body (closing quotes, collapsed braces).
    TextRange range(start, body_start + size + (round % 4));
    DecodeResult<std::string_view> result =
        interpolated ? parse_interpolated_string_literal_element(body, flags, range, arena)
                     : parse_string_literal(body, flags, range, arena);
    if (result.has_value()) {
      EXPECT_LE(result.value().size(), body.size()) << printable(body);
    } else {
      TextRange where = result.error().range;
      // Collapsed braces move positions, at most one byte per brace.
      std::uint32_t braces = 0;
      for (char c : body) braces += (c == '{' || c == '}');
      EXPECT_GE(where.start().raw, body_start) << printable(body);
      EXPECT_LE(where.end().raw, body_start + size + (interpolated ? braces : 0)) << printable(body);
    }
  }
}

// ---------------------------------------------------------------------------
// Differential tests against CPython: the oracle interpreters decode the
// same literals with `ast.literal_eval`.
//
// Deliberate differences, in one place:
// - A lone surrogate (\ud800-\udfff from \u or \U) is U+FFFD here: values are
//   UTF-8 text, which cannot hold one. The peer script maps surrogates in
//   Python's values to U+FFFD before comparing.
// - CPython turns CR LF and a lone CR of the source into LF before it reads a
//   literal; the decoder sees the source's own bytes. Literals with a raw CR
//   (and with a raw NUL, which CPython refuses in source) are left out.
// - Character names: ICU 72 knows Unicode 15.0. Python 3.13's unicodedata is
//   Unicode 15.1; names of characters that ICU does not know yet are counted
//   and skipped, and none may be skipped for a Python whose Unicode version is
//   15.0 or older. Python rejects what its own unicodedata cannot name while
//   ICU names more algorithmically (TANGUT IDEOGRAPH-17000, ...) and ignores
//   case in algorithmic names too; so the decoder accepts a superset, and
//   only Python's accepted names are checked here.


// The peer script. Modes:
//   corpus DIR: every string token of the .py files under DIR (without
//               site-packages), deduplicated: "s ok|err TOKEN VALUE", and, for
//               f-strings (Python 3.11 tokenizes them whole) that evaluate
//               without a namespace: "f ok TOKEN VALUE";
//   escapes:    generated literals around every escape form, "s ok|err ...";
//   names:      "N CODE NAME" for every name of unicodedata, "A ok|err CODE
//               NAME" for every alias of NameAliases.txt, and "V VERSION".
// TOKEN and VALUE are hexadecimal UTF-8 (bytes as they are).
constexpr const char* kPeerScript = R"PY(
import ast, os, sys, tokenize, unicodedata, warnings
warnings.simplefilter("ignore")

def hx(text):
    return text.encode("utf-8", "surrogatepass").hex()

def value_hex(value):
    if isinstance(value, bytes):
        return value.hex()
    value = "".join("\ufffd" if 0xD800 <= ord(c) <= 0xDFFF else c for c in value)
    return value.encode("utf-8").hex()

def prefix_of(text):
    i = 0
    while i < len(text) and text[i] not in "'\"":
        i += 1
    return text[:i].lower()

def emit(tag, text):
    try:
        value = ast.literal_eval(text) if tag == "s" else eval(text, {"__builtins__": {}}, {})
    except Exception:
        if tag == "s":
            print("s err", hx(text), "-")
        return
    if isinstance(value, (str, bytes)):
        print(tag, "ok", hx(text), value_hex(value) or "-")

def corpus(root):
    seen = set()
    for dirpath, dirnames, filenames in os.walk(root):
        dirnames[:] = sorted(d for d in dirnames if d != "site-packages")
        for name in sorted(filenames):
            if not name.endswith(".py"):
                continue
            try:
                with open(os.path.join(dirpath, name), "rb") as f:
                    seen.update(t.string for t in tokenize.tokenize(f.readline) if t.type == tokenize.STRING)
            except Exception:
                continue
    for text in sorted(seen):
        if "\r" in text or "\0" in text:
            continue
        prefix = prefix_of(text)
        if "t" in prefix:
            continue
        emit("f" if "f" in prefix else "s", text)

def single_token(text):
    import io
    try:
        kinds = [t.type for t in tokenize.generate_tokens(io.StringIO(text).readline)]
    except Exception:
        return False
    return kinds[0] == tokenize.STRING and all(k in (tokenize.NEWLINE, tokenize.ENDMARKER) for k in kinds[1:])

def escapes():
    bodies = []
    tails = ["", "0", "00", "A", "41", "4142", "Z", "\u00e9"]
    for c in range(0x20, 0x7F):
        for tail in tails:
            bodies.append("\\" + chr(c) + tail)
    bodies += [
        "\\x", "\\x4", "\\x41", "\\xg1", "\\x4g", "\\xFF", "\\u", "\\u1", "\\u12", "\\u123", "\\u1234",
        "\\u12345", "\\uD800", "\\udfff", "\\ud83d\\ude00", "\\U0010ffff", "\\U00110000", "\\UFFFFFFFF",
        "\\U0001F600", "\\U0001F60", "\\U0000004", "\\N", "\\N{", "\\N{}", "\\N{DASH}", "\\N{EM DASH}",
        "\\N{em dash}", "\\N{NBSP}", "\\N{LINE FEED}", "\\N{EM  DASH}", "\\N{EM DASH", "\\N{ EM DASH}",
        "\\N{EM DASH }", "\\N{HANGUL SYLLABLE KAG}", "\\N{CJK UNIFIED IDEOGRAPH-4E00}", "\\N{NULL}",
        "\\N{EM DASH}\\N{BULLET}", "\\N{\u00e9}", "\\N{LATIN CAPITAL LETTER A WITH MACRON AND GRAVE}",
        "\\0", "\\00", "\\000", "\\0000", "\\7", "\\77", "\\777", "\\7777", "\\8", "\\9", "\\400", "\\18",
        "\\1\\2\\3", "\\\n", "\\\\\n", "a\\\nb", "\\\\", "\\\u00e9", "\\\u20ac", "\\\U0001F600", "\\\t",
        "\\ ", "\u00e9\\x41\u00e9", "\\x41\\", "abc", "", "\u00e9", "\\'", "\\\"", "a\\tb\\nc\\\\d",
    ]
    for prefix in ["", "b", "r", "rb", "Rb", "u", "B", "R"]:
        for body in bodies:
            for quote in ["'''", '"""', "'"]:
                text = prefix + quote + body + quote
                if single_token(text):
                    emit("s", text)
                    break

def names():
    print("V", unicodedata.unidata_version)
    for code in range(0x110000):
        name = unicodedata.name(chr(code), None)
        if name is not None:
            print("N", "%X" % code, name)
    with open("/usr/share/unicode/NameAliases.txt", encoding="utf-8") as f:
        for line in f:
            body = line.split("#", 1)[0].strip()
            if not body:
                continue
            code, alias, _ = body.split(";")
            try:
                got = eval('"\\N{%s}"' % alias)
                print("A ok", "%X" % ord(got), alias)
            except SyntaxError:
                print("A err", code, alias)

mode = sys.argv[1]
if mode == "corpus":
    corpus(sys.argv[2])
elif mode == "escapes":
    escapes()
else:
    names()
)PY";

// Runs the peer script under `python` and returns its standard output, or
// nothing when it could not be run.
std::optional<std::string> run_peer(const std::string& python, const std::string& arguments) {
  static int counter = 0;
  std::filesystem::path script = std::filesystem::temp_directory_path() /
                                 ("tolva_string_peer_" + std::to_string(::getpid()) + "_" +
                                  std::to_string(__atomic_fetch_add(&counter, 1, __ATOMIC_RELAXED)) + ".py");
  {
    std::ofstream out(script);
    out << kPeerScript;
  }
  std::string command = python + " " + script.string() + " " + arguments + " 2>/dev/null";
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return std::nullopt;
  std::string output;
  char buffer[1 << 16];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
  int status = ::pclose(pipe);
  std::filesystem::remove(script);
  if (status != 0) return std::nullopt;
  return output;
}

std::string from_hex(std::string_view hex) {
  std::string out;
  if (hex == "-") return out;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    out.push_back(static_cast<char>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16)));
  }
  return out;
}

// The lexer's literal part for an f-string body without interpolations:
// doubled braces collapsed, named escapes kept whole. False when the body
// holds an interpolation (a single brace).
bool collapse_braces(std::string_view body, bool raw, std::string& out) {
  out.clear();
  for (std::size_t i = 0; i < body.size(); ++i) {
    char c = body[i];
    if (c == '\\' && i + 1 < body.size()) {
      if (!raw && body[i + 1] == 'N' && i + 2 < body.size() && body[i + 2] == '{') {
        std::size_t close = body.find('}', i);
        if (close == std::string_view::npos) return false;
        out.append(body.substr(i, close + 1 - i));
        i = close;
        continue;
      }
      if (body[i + 1] != '{' && body[i + 1] != '}') {
        out.append(body.substr(i, 2));
        ++i;
        continue;
      }
      out.push_back(c);
      continue;
    }
    if (c == '{' || c == '}') {
      if (i + 1 >= body.size() || body[i + 1] != c) return false;
      out.push_back(c);
      ++i;
      continue;
    }
    out.push_back(c);
  }
  return true;
}

struct Comparison {
  int compared = 0;
  int failures = 0;
};

// Checks every "s" and "f" line of the peer's output against the decoder.
Comparison compare_literals(const std::string& output, const std::string& label) {
  Comparison result;
  std::istringstream lines(output);
  std::string tag, status, token_hex, value_hex;
  while (lines >> tag >> status >> token_hex >> value_hex) {
    std::string token = from_hex(token_hex);
    std::string expected = from_hex(value_hex);
    Literal literal;
    if (!split_literal(token, literal)) {
      ADD_FAILURE() << label << ": cannot split " << printable(token);
      continue;
    }
    Arena arena;
    if (tag == "f") {
      std::string part;
      if (!collapse_braces(literal.body, literal.flags.is_raw_string(), part)) continue;
      DecodeResult<std::string_view> got =
          parse_interpolated_string_literal_element(part, literal.flags, literal.range, arena);
      ++result.compared;
      if (!got.has_value()) {
        if (++result.failures <= 20) {
          ADD_FAILURE() << label << ": " << printable(token) << " failed: " << error_text(got.error());
        }
      } else if (got.value() != expected && ++result.failures <= 20) {
        ADD_FAILURE() << label << ": " << printable(token) << " gave " << printable(got.value()) << ", Python "
                      << printable(expected);
      }
      continue;
    }
    DecodeResult<std::string_view> got = parse_string_literal(literal.body, literal.flags, literal.range, arena);
    ++result.compared;
    bool python_ok = status == "ok";
    if (got.has_value() != python_ok) {
      if (++result.failures <= 20) {
        ADD_FAILURE() << label << ": " << printable(token) << ": Python " << (python_ok ? "accepts" : "rejects")
                      << " it, the decoder "
                      << (got.has_value() ? "accepts it" : "rejects it: " + error_text(got.error()));
      }
    } else if (python_ok && got.value() != expected) {
      if (++result.failures <= 20) {
        ADD_FAILURE() << label << ": " << printable(token) << " gave " << printable(got.value()) << ", Python "
                      << printable(expected);
      }
    }
  }
  return result;
}

// Runs the peer once per available interpreter, in parallel.
std::vector<std::pair<std::string, std::optional<std::string>>> run_everywhere(
    const std::function<std::string(const test_support::Oracle&)>& arguments) {
  std::vector<std::pair<std::string, std::optional<std::string>>> outputs;
  std::vector<test_support::Oracle> oracles = test_support::oracles_from("0.0");
  outputs.resize(oracles.size());
  std::vector<std::thread> threads;
  for (std::size_t i = 0; i < oracles.size(); ++i) {
    outputs[i].first = oracles[i].version;
    threads.emplace_back([&, i] { outputs[i].second = run_peer(oracles[i].python, arguments(oracles[i])); });
  }
  for (std::thread& thread : threads) thread.join();
  return outputs;
}

TEST(StringCorpus, StandardLibraryLiteralsMatchCPython) {
  auto outputs = run_everywhere([](const test_support::Oracle& oracle) { return "corpus " + oracle.stdlib; });
  if (outputs.empty()) GTEST_SKIP() << "no oracle interpreter";
  for (const auto& [version, output] : outputs) {
    ASSERT_TRUE(output.has_value()) << "the peer script failed under Python " << version;
    Comparison result = compare_literals(*output, "Python " + version);
    std::printf("[ note ] Python %s: %d standard-library literals compared\n", version.c_str(), result.compared);
    EXPECT_GT(result.compared, 10000) << version;
    EXPECT_EQ(result.failures, 0) << version;
  }
}

TEST(StringDifferentialTest, GeneratedEscapesMatchCPython) {
  auto outputs = run_everywhere([](const test_support::Oracle&) { return std::string("escapes"); });
  if (outputs.empty()) GTEST_SKIP() << "no oracle interpreter";
  for (const auto& [version, output] : outputs) {
    ASSERT_TRUE(output.has_value()) << "the peer script failed under Python " << version;
    Comparison result = compare_literals(*output, "Python " + version);
    EXPECT_GT(result.compared, 1000) << version;
    EXPECT_EQ(result.failures, 0) << version;
  }
}

// Whether the version "major.minor[.patch]" is not newer than `limit`.
bool unicode_version_at_most(const std::string& version, const std::string& limit) {
  auto parts = [](const std::string& text) {
    unsigned major = 0, minor = 0;
    std::sscanf(text.c_str(), "%u.%u", &major, &minor);
    return std::pair(major, minor);
  };
  return parts(version) <= parts(limit);
}

TEST(StringDifferentialTest, EveryPythonCharacterNameIsFound) {
  auto outputs = run_everywhere([](const test_support::Oracle&) { return std::string("names"); });
  if (outputs.empty()) GTEST_SKIP() << "no oracle interpreter";
  for (const auto& [version, output] : outputs) {
    ASSERT_TRUE(output.has_value()) << "the peer script failed under Python " << version;
    std::istringstream lines(*output);
    std::string line;
    std::string unicode_version;
    int names = 0, aliases = 0, newer = 0, failures = 0;
    while (std::getline(lines, line)) {
      std::istringstream fields(line);
      std::string tag;
      fields >> tag;
      if (tag == "V") {
        fields >> unicode_version;
        continue;
      }
      std::string status = "ok";
      if (tag == "A") fields >> status;
      std::string code_hex;
      fields >> code_hex;
      std::string name;
      std::getline(fields >> std::ws, name);
      auto code = static_cast<char32_t>(std::stoul(code_hex, nullptr, 16));
      std::optional<char32_t> found = character_from_name(name);
      if (tag == "A" && status != "ok") {
        // An alias Python refuses: nothing to compare, but say so.
        std::printf("[ note ] Python %s refuses the alias %s\n", version.c_str(), name.c_str());
        continue;
      }
      (tag == "N" ? names : aliases) += 1;
      if (!found && u_charType(static_cast<UChar32>(code)) == U_UNASSIGNED) {
        ++newer;  // a character of a Unicode version newer than ICU's
        continue;
      }
      if (found != code && ++failures <= 20) {
        ADD_FAILURE() << "Python " << version << ": \\N{" << name << "} is U+" << code_hex << ", the decoder gives "
                      << (found ? std::to_string(static_cast<std::uint32_t>(*found)) : std::string("nothing"));
      }
    }
    std::printf("[ note ] Python %s (Unicode %s): %d names and %d aliases checked, %d newer than ICU %s skipped\n",
                version.c_str(), unicode_version.c_str(), names, aliases, newer, U_UNICODE_VERSION);
    EXPECT_GT(names, 100000) << version;
    EXPECT_GT(aliases, 400) << version;
    EXPECT_EQ(failures, 0) << version;
    if (unicode_version_at_most(unicode_version, U_UNICODE_VERSION)) {
      EXPECT_EQ(newer, 0) << "Python " << version << " has no character that ICU does not know";
    }
  }
}

}  // namespace
}  // namespace python_parser
