// Token streams of short sources: layout, operators, names, numbers, strings,
// comments, f-strings and t-strings, with their errors.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/mman.h>

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "python_ast/arena.h"
#include "python_parser/lexer.h"
#include "support/fatal_error.h"

namespace python_parser {
namespace {

using python_ast::TokenKind;
using text_size::TextOffset;

// The value of the current token as text: the name, the integer, the float in
// round-trip form, the imaginary part with "j", the raw text of a string or
// literal part, an escape command's kind and text ("Percent:timeit x").
std::string value_text(const TokenValue& value) {
  char buffer[64];
  switch (value.tag()) {
    case TokenValueTag::None:
      return "";
    case TokenValueTag::Name:
      return std::string(value.as_name().as_str());
    case TokenValueTag::Int:
      return value.as_int().to_string();
    case TokenValueTag::Float: {
      auto end = std::to_chars(buffer, buffer + sizeof buffer, value.as_float()).ptr;
      return std::string(buffer, end);
    }
    case TokenValueTag::Complex: {
      auto end = std::to_chars(buffer, buffer + sizeof buffer, value.as_complex().imag).ptr;
      return std::string(buffer, end) + "j";
    }
    case TokenValueTag::String:
    case TokenValueTag::InterpolatedStringMiddle:
      return std::string(value.as_text());
    case TokenValueTag::IpyEscapeCommand: {
      TokenValue::IpyEscapeCommand command = value.as_ipy_escape_command();
      return std::string(python_ast::enum_name(command.kind)) + ":" + std::string(command.text);
    }
  }
  return "?";
}

struct Lexed {
  std::string tokens;  // "Kind(value)@start..end", space-separated
  std::string kinds;   // "Kind(value)", space-separated
  std::string errors;  // "text@start..end", "; "-separated
};

Lexed lex(std::string_view source, Mode mode = Mode::Module) {
  python_ast::Arena arena;
  Lexer lexer(source, mode, TextOffset(0), arena);
  Lexed out;
  for (int guard = 0; guard < 10000; ++guard) {
    TokenKind kind = lexer.next_token();
    std::string token(python_ast::debug_name(kind));
    std::string value = value_text(lexer.current_value());
    if (!lexer.current_value().is_none()) token += "(" + value + ")";
    if (!out.kinds.empty()) {
      out.kinds += ' ';
      out.tokens += ' ';
    }
    out.kinds += token;
    out.tokens += token + "@" + lexer.current_range().debug();
    if (kind == TokenKind::EndOfFile) break;
  }
  for (const LexicalError& error : lexer.errors()) {
    if (!out.errors.empty()) out.errors += "; ";
    out.errors += error.error.display() + "@" + error.range.debug();
  }
  return out;
}

struct Case {
  std::string_view source;
  std::string_view expected;
  std::string_view errors = "";
};

void expect_kinds(const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    Lexed lexed = lex(c.source);
    EXPECT_EQ(lexed.kinds, c.expected) << "source: " << c.source;
    EXPECT_EQ(lexed.errors, c.errors) << "source: " << c.source;
  }
}

void expect_tokens(const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    Lexed lexed = lex(c.source);
    EXPECT_EQ(lexed.tokens, c.expected) << "source: " << c.source;
    EXPECT_EQ(lexed.errors, c.errors) << "source: " << c.source;
  }
}

// ---- Layout ----

TEST(LexerLayout, IndentedBlockWithRanges) {
  expect_tokens({
      {"if x:\n    pass\n",
       "If@0..2 Name(x)@3..4 Colon@4..5 Newline@5..6 Indent@6..10 Pass@10..14 Newline@14..15 Dedent@15..15 "
       "EndOfFile@15..15"},
      // No final line break: an empty Newline, the Dedent, then EndOfFile.
      {"if x:\n  y", "If@0..2 Name(x)@3..4 Colon@4..5 Newline@5..6 Indent@6..8 Name(y)@8..9 Newline@9..9 "
                     "Dedent@9..9 EndOfFile@9..9"},
      // The leading byte order mark is skipped; offsets count it.
      {"\xEF\xBB\xBFx", "Name(x)@3..4 Newline@4..4 EndOfFile@4..4"},
      {"", "EndOfFile@0..0"},
      // CR and CRLF end lines too.
      {"a\r\nb\rc", "Name(a)@0..1 Newline@1..3 Name(b)@3..4 Newline@4..5 Name(c)@5..6 Newline@6..6 EndOfFile@6..6"},
  });
}

TEST(LexerLayout, DedentsArriveOneCallAtATime) {
  expect_tokens({
      {"if a:\n  if b:\n    c\nd\n",
       "If@0..2 Name(a)@3..4 Colon@4..5 Newline@5..6 Indent@6..8 If@8..10 Name(b)@11..12 Colon@12..13 "
       "Newline@13..14 Indent@14..18 Name(c)@18..19 Newline@19..20 Dedent@20..20 Dedent@20..20 Name(d)@20..21 "
       "Newline@21..22 EndOfFile@22..22"},
      // Levels 0, 4 then column 2: no outer level matches; the line is then
      // lexed at level 0 without an Indent.
      {"if a:\n    b\n  c\n",
       "If@0..2 Name(a)@3..4 Colon@4..5 Newline@5..6 Indent@6..10 Name(b)@10..11 Newline@11..12 Unknown@14..14 "
       "Name(c)@14..15 Newline@15..16 EndOfFile@16..16",
       "unindent does not match any outer indentation level@14..14"},
      // Open levels are closed at the end of the text, one per call.
      {"if a:\n if b:\n  c", "If@0..2 Name(a)@3..4 Colon@4..5 Newline@5..6 Indent@6..7 If@7..9 Name(b)@10..11 "
                             "Colon@11..12 Newline@12..13 Indent@13..15 Name(c)@15..16 Newline@16..16 Dedent@16..16 "
                             "Dedent@16..16 EndOfFile@16..16"},
  });
}

TEST(LexerLayout, TabsAndSpacesMustOrderTheSameByColumnAndByCharacter) {
  // Two spaces and a tab: column 4, character 3.
  EXPECT_EQ(compare(Indentation{4, 3}, Indentation{4, 4}), IndentationOrder::Inconsistent);
  EXPECT_EQ(compare(Indentation{2, 1}, Indentation{4, 4}), IndentationOrder::Less);
  EXPECT_EQ(compare(Indentation{4, 4}, Indentation{4, 4}), IndentationOrder::Equal);
  EXPECT_EQ(compare(Indentation{8, 2}, Indentation{4, 4}), IndentationOrder::Inconsistent);
  expect_tokens({
      // A line indented by a tab and two spaces (column 4, character 3) under
      // one indented by four spaces (column 4, character 4).
      {"if a:\n    b\n\t  c\n",
       "If@0..2 Name(a)@3..4 Colon@4..5 Newline@5..6 Indent@6..10 Name(b)@10..11 Newline@11..12 Unknown@12..15 "
       "Name(c)@15..16 Newline@16..17 Dedent@17..17 EndOfFile@17..17",
       "unindent does not match any outer indentation level@12..15"},
      // "  \t" and "\t\t" both reach column 4 with different character
      // counts: inconsistent as well.
      {"if a:\n  \tb\n\t\tc\n",
       "If@0..2 Name(a)@3..4 Colon@4..5 Newline@5..6 Indent@6..9 Name(b)@9..10 Newline@10..11 Unknown@11..13 "
       "Name(c)@13..14 Newline@14..15 Dedent@15..15 EndOfFile@15..15",
       "unindent does not match any outer indentation level@11..13"},
      // A form feed resets the count.
      {"if a:\n  b\n  \f  c\n",
       "If@0..2 Name(a)@3..4 Colon@4..5 Newline@5..6 Indent@6..8 Name(b)@8..9 Newline@9..10 Name(c)@15..16 "
       "Newline@16..17 Dedent@17..17 EndOfFile@17..17"},
  });
}

TEST(LexerLayout, BlankAndCommentLinesNeverIndentOrDedent) {
  expect_kinds({
      {"if a:\n  b\n\n        \n    # deep comment\n# shallow comment\n  c\n",
       "If Name(a) Colon Newline Indent Name(b) Newline NonLogicalNewline NonLogicalNewline Comment "
       "NonLogicalNewline Comment NonLogicalNewline Name(c) Newline Dedent EndOfFile"},
      {"# only a comment", "Comment EndOfFile"},
      {"\n\n", "NonLogicalNewline NonLogicalNewline EndOfFile"},
  });
}

TEST(LexerLayout, BracketsMakeLineBreaksNonLogical) {
  expect_kinds({
      {"x = (1,\n     2)\n", "Name(x) Equal Lpar Int(1) Comma NonLogicalNewline Int(2) Rpar Newline EndOfFile"},
      {"[\n]\n{\n}\n", "Lsqb NonLogicalNewline Rsqb Newline Lbrace NonLogicalNewline Rbrace Newline EndOfFile"},
      // A closing bracket with nothing open leaves the nesting at 0.
      {")\nx\n", "Rpar Newline Name(x) Newline EndOfFile"},
      {"]]\n(\n", "Rsqb Rsqb Newline Lpar NonLogicalNewline Unknown Newline EndOfFile",
       "unexpected EOF while parsing@5..5"},
  });
  // An open parenthesis at the end of the text.
  expect_tokens({{"(", "Lpar@0..1 Unknown@1..1 Newline@1..1 EndOfFile@1..1", "unexpected EOF while parsing@1..1"}});
}

TEST(LexerLayout, LineContinuations) {
  expect_tokens({
      {"a \\\nb", "Name(a)@0..1 Name(b)@4..5 Newline@5..5 EndOfFile@5..5"},
      {"a \\\r\nb", "Name(a)@0..1 Name(b)@5..6 Newline@6..6 EndOfFile@6..6"},
      {"a \\x", "Name(a)@0..1 Unknown@2..3 Name(x)@3..4 Newline@4..4 EndOfFile@4..4",
       "Expected a newline after line continuation character@2..3"},
      {"a \\", "Name(a)@0..1 Unknown@2..3 Newline@3..3 EndOfFile@3..3",
       "Expected a newline after line continuation character@2..3"},
      {"a \\\n", "Name(a)@0..1 Unknown@1..4 Newline@4..4 EndOfFile@4..4", "unexpected EOF while parsing@1..4"},
      // In the indentation: after counted blanks the indentation stands and
      // the next line's blanks are skipped; before any, counting goes on.
      {"if a:\n  \\\n      b\n", "If@0..2 Name(a)@3..4 Colon@4..5 Newline@5..6 Indent@6..16 Name(b)@16..17 "
                                 "Newline@17..18 Dedent@18..18 EndOfFile@18..18"},
      {"\\\n  x\n", "Indent@0..4 Name(x)@4..5 Newline@5..6 Dedent@6..6 EndOfFile@6..6"},
      {"\\x\n", "Unknown@0..1 Name(x)@1..2 Newline@2..3 EndOfFile@3..3",
       "Expected a newline after line continuation character@0..1"},
      {"\\\n", "Unknown@0..2 EndOfFile@2..2", "unexpected EOF while parsing@0..2"},
  });
}

TEST(LexerLayout, EndOfFileRepeats) {
  python_ast::Arena arena;
  Lexer lexer("x", Mode::Module, TextOffset(0), arena);
  EXPECT_EQ(lexer.next_token(), TokenKind::Name);
  EXPECT_EQ(lexer.next_token(), TokenKind::Newline);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(lexer.next_token(), TokenKind::EndOfFile);
    EXPECT_EQ(lexer.current_range(), text_size::TextRange(1, 1));
  }
}

TEST(LexerLayout, ParenthesizedExpressionModeStartsInsideBrackets) {
  python_ast::Arena arena;
  Lexer lexer("a\n+ b", Mode::ParenthesizedExpression, TextOffset(0), arena);
  std::vector<TokenKind> kinds;
  while (kinds.size() < 20) {
    kinds.push_back(lexer.next_token());
    if (kinds.back() == TokenKind::EndOfFile) break;
  }
  EXPECT_THAT(kinds, testing::ElementsAre(TokenKind::Name, TokenKind::NonLogicalNewline, TokenKind::Plus,
                                          TokenKind::Name, TokenKind::Newline, TokenKind::EndOfFile));
  EXPECT_TRUE(lexer.errors().empty());
}

TEST(LexerLayout, StartOffsetAndByteOrderMark) {
  python_ast::Arena arena;
  // A mark is skipped only at offset 0.
  Lexer lexer("x = y", Mode::Module, TextOffset(4), arena);
  EXPECT_EQ(lexer.next_token(), TokenKind::Name);
  EXPECT_EQ(lexer.current_range(), text_size::TextRange(4, 5));
  // Inside a character: fatal.
  EXPECT_THROW(Lexer("\xC3\xA9", Mode::Module, TextOffset(1), arena), tolva::FatalError);
  EXPECT_THROW(Lexer("ab", Mode::Module, TextOffset(3), arena), tolva::FatalError);
}

TEST(LexerLayout, TextsOf4GiBAndMoreAreRefused) {
  // An untouched anonymous mapping: no memory is committed, and the lexer
  // refuses the size before reading a byte.
  const std::size_t size = std::size_t{1} << 32;
  void* memory = mmap(nullptr, size, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (memory == MAP_FAILED) GTEST_SKIP() << "cannot reserve 4 GiB of address space";
  python_ast::Arena arena;
  try {
    Lexer lexer(std::string_view(static_cast<const char*>(memory), size), Mode::Module, TextOffset(0), arena);
    ADD_FAILURE() << "no fatal error";
  } catch (const tolva::FatalError& error) {
    EXPECT_STREQ(error.what(), "Lexer only supports files with a size up to 4GB");
  }
  // One byte less is accepted (only the first bytes are read).
  Lexer lexer(std::string_view(static_cast<const char*>(memory), size - 1), Mode::Module, TextOffset(0), arena);
  EXPECT_EQ(lexer.next_token(), TokenKind::Unknown);
  munmap(memory, size);
}

// ---- Operators and unexpected characters ----

TEST(LexerOperators, LongestMatchFirst) {
  expect_kinds({
      {"! != % %= & &= * *= ** **= + += , - -= -> . ... .. / /= // //=",
       "Exclamation NotEqual Percent PercentEqual Amper AmperEqual Star StarEqual DoubleStar DoubleStarEqual Plus "
       "PlusEqual Comma Minus MinusEqual Rarrow Dot Ellipsis Dot Dot Slash SlashEqual DoubleSlash DoubleSlashEqual "
       "Newline EndOfFile"},
      {": := ; < << <<= <= = == > >> >>= >= @ @= ^ ^= | |= ~",
       "Colon ColonEqual Semi Less LeftShift LeftShiftEqual LessEqual Equal EqEqual Greater RightShift "
       "RightShiftEqual GreaterEqual At AtEqual CircumFlex CircumflexEqual Vbar VbarEqual Tilde Newline EndOfFile"},
      {"<>", "Less Greater Newline EndOfFile"},
      {"....", "Ellipsis Dot Newline EndOfFile"},
      {"a->b", "Name(a) Rarrow Name(b) Newline EndOfFile"},
  });
}

TEST(LexerOperators, UnexpectedCharacters) {
  expect_tokens({
      {"$", "Unknown@0..1 Newline@1..1 EndOfFile@1..1", "Got unexpected token $@0..1"},
      {"a ? b", "Name(a)@0..1 Unknown@2..3 Name(b)@4..5 Newline@5..5 EndOfFile@5..5", "Got unexpected token ?@2..3"},
      {"`", "Unknown@0..1 Newline@1..1 EndOfFile@1..1", "Got unexpected token `@0..1"},
      {std::string_view("\0", 1), "Unknown@0..1 Newline@1..1 EndOfFile@1..1",
       std::string_view("Got unexpected token \0@0..1", 27)},
      // Outside ASCII and not XID_Start: the line state stays as it was, so
      // a line holding only that character has no logical Newline.
      {"\xE2\x82\xAC\n", "Unknown@0..3 NonLogicalNewline@3..4 EndOfFile@4..4", "Got unexpected token \xE2\x82\xAC@0..3"},
      // A byte that is not UTF-8 reads as U+FFFD, one byte at a time.
      {"\xFF\xC3", "Unknown@0..1 Unknown@1..2 EndOfFile@2..2",
       "Got unexpected token \xEF\xBF\xBD@0..1; Got unexpected token \xEF\xBF\xBD@1..2"},
  });
  python_ast::Arena arena;
  // In IPython mode "?" inside a line is the Question token (at the start of
  // a line it begins an escape command).
  Lexer lexer("a?x", Mode::Ipython, TextOffset(0), arena);
  EXPECT_EQ(lexer.next_token(), TokenKind::Name);
  EXPECT_EQ(lexer.next_token(), TokenKind::Question);
}

// ---- Names and keywords ----

TEST(LexerNames, KeywordsAndSoftKeywords) {
  expect_kinds({
      {"None True False match case type print none If _",
       "None True False Match Case Type Name(print) Name(none) Name(If) Name(_) Newline EndOfFile"},
      {"and as assert async await break class continue def del elif else except finally for from global if import "
       "in is lambda nonlocal not or pass raise return try while with yield",
       "And As Assert Async Await Break Class Continue Def Del Elif Else Except Finally For From Global If Import In "
       "Is Lambda Nonlocal Not Or Pass Raise Return Try While With Yield Newline EndOfFile"},
      {"iff classy _if Yield", "Name(iff) Name(classy) Name(_if) Name(Yield) Newline EndOfFile"},
  });
}

TEST(LexerNames, NonAsciiNamesAreNfkcNormalised) {
  expect_kinds({
      // Fullwidth "if" normalises to the text "if" but is never the keyword.
      {"\xEF\xBD\x89\xEF\xBD\x86", "Name(if) Newline EndOfFile"},
      {"na\xC3\xAFve", "Name(na\xC3\xAFve) Newline EndOfFile"},
      // e + COMBINING ACUTE ACCENT composes to U+00E9.
      {"e\xCC\x81", "Name(\xC3\xA9) Newline EndOfFile"},
      // MIDDLE DOT continues an identifier; GREEK YPOGEGRAMMENI (U+037A) is
      // ID_Start but not XID_Start.
      {"a\xC2\xB7" "b", "Name(a\xC2\xB7" "b) Newline EndOfFile"},
      {"\xCD\xBA", "Unknown EndOfFile", "Got unexpected token \xCD\xBA@0..2"},
      // An identifier stops before a character that cannot continue it.
      {"x\xE2\x82\xAC", "Name(x) Unknown Newline EndOfFile", "Got unexpected token \xE2\x82\xAC@1..4"},
  });
}

TEST(LexerNames, ValuesAreViewsUnlessNormalisationChangedThem) {
  python_ast::Arena arena;
  const std::string source = "abc na\xC3\xAFve \xEF\xBD\x89";
  Lexer lexer(source, Mode::Module, TextOffset(0), arena);
  auto inside_source = [&](std::string_view text) {
    return text.data() >= source.data() && text.data() + text.size() <= source.data() + source.size();
  };
  ASSERT_EQ(lexer.next_token(), TokenKind::Name);
  EXPECT_TRUE(inside_source(lexer.current_value().as_name().as_str()));
  ASSERT_EQ(lexer.next_token(), TokenKind::Name);
  EXPECT_TRUE(inside_source(lexer.current_value().as_name().as_str()));
  ASSERT_EQ(lexer.next_token(), TokenKind::Name);
  EXPECT_EQ(lexer.current_value().as_name().as_str(), "i");
  EXPECT_FALSE(inside_source(lexer.current_value().as_name().as_str()));
}

TEST(LexerNames, StringPrefixes) {
  expect_tokens({
      {"b'x' B\"x\" u'x' U'x' r'x' R'x'",
       "String(x)@0..4 String(x)@5..9 String(x)@10..14 String(x)@15..19 String(x)@20..24 String(x)@25..29 "
       "Newline@29..29 EndOfFile@29..29"},
      {"rb'x' Br'x' bR'x' RB'x' fR'x'",
       "String(x)@0..5 String(x)@6..11 String(x)@12..17 String(x)@18..23 FStringStart@24..27 "
       "FStringMiddle(x)@27..28 FStringEnd@28..29 Newline@29..29 EndOfFile@29..29"},
      // u combines with nothing; other pairs are names followed by a string.
      {"ub'x' bu'x' ur'x' ab'x' x'y'",
       "Name(ub)@0..2 String(x)@2..5 Name(bu)@6..8 String(x)@8..11 Name(ur)@12..14 String(x)@14..17 "
       "Name(ab)@18..20 String(x)@20..23 Name(x)@24..25 String(y)@25..28 Newline@28..28 EndOfFile@28..28"},
  });
}

TEST(LexerNames, PrefixFlags) {
  struct FlagCase {
    std::string_view source;
    std::uint16_t flags;
  };
  for (const FlagCase& c : std::vector<FlagCase>{
           {"'x'", 0x000}, {"\"x\"", 0x001}, {"'''x'''", 0x002}, {"\"\"\"x\"\"\"", 0x003}, {"u'x'", 0x004},
           {"b'x'", 0x008}, {"f'x'", 0x010}, {"t'x'", 0x020}, {"r'x'", 0x040}, {"R'x'", 0x080},
           {"Rb\"x\"", 0x089}, {"rf'''x'''", 0x052}, {"'x", 0x100}, {"tR'x'", 0x0A0}}) {
    python_ast::Arena arena;
    Lexer lexer(c.source, Mode::Module, TextOffset(0), arena);
    lexer.next_token();
    EXPECT_EQ(lexer.current_flags().bits(), c.flags) << c.source;
  }
}

// ---- Numbers ----

TEST(LexerNumbers, IntegersInEveryRadix) {
  expect_kinds({
      {"0x_1f 0XfF 0o17 0O7 0b101 0B1 0", "Int(31) Int(255) Int(15) Int(7) Int(5) Int(1) Int(0) Newline EndOfFile"},
      {"0x", "Unknown Newline EndOfFile", "ParseIntError { kind: Empty }@0..2"},
      {"0b12", "Int(1) Int(2) Newline EndOfFile"},
      {"0o8", "Unknown Int(8) Newline EndOfFile", "ParseIntError { kind: Empty }@0..2"},
      {"0x_", "Unknown Name(_) Newline EndOfFile", "ParseIntError { kind: Empty }@0..2"},
      {"1_000 1__0", "Int(1000) Int(1) Name(__0) Newline EndOfFile"},
      {"1_ ", "Int(1) Name(_) Newline EndOfFile"},
      {"007", "Unknown Newline EndOfFile", "Invalid decimal integer literal@0..3"},
      {"0_7", "Unknown Newline EndOfFile", "Invalid decimal integer literal@0..3"},
      {"000 0_0 00", "Int(0) Int(0) Int(0) Newline EndOfFile"},
      {"1if", "Int(1) If Newline EndOfFile"},
      // Values beyond 64 bits keep their text: the decimal digits, or the
      // whole literal for the other radixes.
      {"18446744073709551615 18446744073709551616 1_8446744073709551616",
       "Int(18446744073709551615) Int(18446744073709551616) Int(18446744073709551616) Newline EndOfFile"},
      {"0x1_0000_0000_0000_0000 0xffff_ffff_ffff_ffff",
       "Int(0x1_0000_0000_0000_0000) Int(18446744073709551615) Newline EndOfFile"},
      {"00000000000000000000000000001", "Unknown Newline EndOfFile", "Invalid decimal integer literal@0..29"},
  });
}

TEST(LexerNumbers, FloatsAndImaginaries) {
  expect_kinds({
      {"01.5 0e5 01j 1. .5 1.e5 1e+5 .5e-3 1E-2", "Float(1.5) Float(0) Complex(1j) Float(1) Float(0.5) "
                                                  "Float(1e+05) Float(1e+05) Float(5e-04) Float(0.01) Newline "
                                                  "EndOfFile"},
      {"5j 5J 1.5j 1e3j 1_0.2_5j 0j", "Complex(5j) Complex(5j) Complex(1.5j) Complex(1000j) Complex(10.25j) "
                                      "Complex(0j) Newline EndOfFile"},
      {"1._5", "Unknown Int(5) Newline EndOfFile", "Invalid Syntax@2..3"},
      {"1e_5", "Int(1) Name(e_5) Newline EndOfFile"},
      {"1e", "Int(1) Name(e) Newline EndOfFile"},
      {"1e+", "Int(1) Name(e) Plus Newline EndOfFile"},
      {"1.e", "Float(1) Name(e) Newline EndOfFile"},
      {"1.5.5", "Float(1.5) Float(0.5) Newline EndOfFile"},
      {"1else", "Int(1) Else Newline EndOfFile"},
      {"1e999 -1e999 1e-999", "Float(inf) Minus Float(inf) Float(0) Newline EndOfFile"},
  });
}

TEST(LexerNumbers, FloatsAreCorrectlyRounded) {
  struct FloatCase {
    std::string_view source;
    double value;
  };
  const double max = std::numeric_limits<double>::max();
  const double denorm_min = std::numeric_limits<double>::denorm_min();
  for (const FloatCase& c : std::vector<FloatCase>{
           {"0.1", 0.1},
           {"1.7976931348623157e308", max},
           {"1.7976931348623159e308", std::numeric_limits<double>::infinity()},
           {"4.9e-324", denorm_min},
           {"2.4703282292062328e-324", denorm_min},
           {"2.4703282292062327e-324", 0.0},
           {"1e-400", 0.0},
           {"0.000000000000000000000000000001e-300", 0.0},
           {"2.2250738585072011e-308", 2.2250738585072011e-308},
           {"1e99999999999999999999", std::numeric_limits<double>::infinity()},
           {"0e99999999999999999999", 0.0},
           {"123456789012345678901234567890.5", 123456789012345678901234567890.5},
           {"9007199254740993", 9007199254740992.0},
       }) {
    python_ast::Arena arena;
    // "9007199254740993" is an Int; read it as the imaginary part instead.
    std::string source = std::string(c.source) + "j";
    Lexer lexer(source, Mode::Module, TextOffset(0), arena);
    ASSERT_EQ(lexer.next_token(), TokenKind::Complex) << c.source;
    double imag = lexer.current_value().as_complex().imag;
    EXPECT_EQ(std::memcmp(&imag, &c.value, sizeof(double)), 0) << c.source << " gives " << imag;
    EXPECT_EQ(lexer.current_value().as_complex().real, 0.0);
  }
}

// ---- Strings and comments ----

TEST(LexerStrings, PlainStrings) {
  expect_tokens({
      {"'a' \"b\" '''c\nd''' \"\"\"e\"\"\"",
       "String(a)@0..3 String(b)@4..7 String(c\nd)@8..17 String(e)@18..25 Newline@25..25 EndOfFile@25..25"},
      {"'it\\'s' '\\\\' \"\\\"\"", "String(it\\'s)@0..7 String(\\\\)@8..12 String(\\\")@13..17 Newline@17..17 "
                                  "EndOfFile@17..17"},
      // An escaped line break belongs to the body.
      {"'a\\\nb' 'c\\\r\nd'", "String(a\\\nb)@0..6 String(c\\\r\nd)@7..14 Newline@14..14 EndOfFile@14..14"},
      {"'''a'''' '", "String(a)@0..7 String( )@7..10 Newline@10..10 EndOfFile@10..10"},
      {"''''a'''", "String('a)@0..8 Newline@8..8 EndOfFile@8..8"},
      {"'''\\''''", "String(\\')@0..8 Newline@8..8 EndOfFile@8..8"},
      {"''", "String()@0..2 Newline@2..2 EndOfFile@2..2"},
  });
}

TEST(LexerStrings, UnclosedStrings) {
  expect_tokens({
      // A backslash before the only closing quote escapes it: unclosed up to
      // the line break.
      {"'ab\\'\nx", "String(ab\\')@0..5 Newline@5..6 Name(x)@6..7 Newline@7..7 EndOfFile@7..7",
       "missing closing quote in string literal@0..5"},
      // Two backslashes do not.
      {"'ab\\\\'\nx", "String(ab\\\\)@0..6 Newline@6..7 Name(x)@7..8 Newline@8..8 EndOfFile@8..8"},
      {"'abc", "String(abc)@0..4 Newline@4..4 EndOfFile@4..4", "missing closing quote in string literal@0..4"},
      {"x = '''abc\n", "Name(x)@0..1 Equal@2..3 String(abc\n)@4..11 Newline@11..11 EndOfFile@11..11",
       "missing closing quote in string literal@4..11"},
      {"'a\r\n", "String(a)@0..2 Newline@2..4 EndOfFile@4..4", "missing closing quote in string literal@0..2"},
  });
}

TEST(LexerStrings, StringValuesAreViewsOfTheSource) {
  python_ast::Arena arena;
  const std::string source = "'abc' f'{{x}}' f'x'";
  Lexer lexer(source, Mode::Module, TextOffset(0), arena);
  ASSERT_EQ(lexer.next_token(), TokenKind::String);
  EXPECT_EQ(lexer.current_value().as_text().data(), source.data() + 1);
  ASSERT_EQ(lexer.next_token(), TokenKind::FStringStart);
  ASSERT_EQ(lexer.next_token(), TokenKind::FStringMiddle);
  // Collapsed braces: the value was collected elsewhere.
  EXPECT_EQ(lexer.current_value().as_text(), "{x}");
  EXPECT_NE(lexer.current_value().as_text().data(), source.data() + 8);
  ASSERT_EQ(lexer.next_token(), TokenKind::FStringEnd);
  ASSERT_EQ(lexer.next_token(), TokenKind::FStringStart);
  ASSERT_EQ(lexer.next_token(), TokenKind::FStringMiddle);
  EXPECT_EQ(lexer.current_value().as_text().data(), source.data() + 17);
}

TEST(LexerStrings, Comments) {
  expect_tokens({
      {"# a\nx # b\n", "Comment@0..3 NonLogicalNewline@3..4 Name(x)@4..5 Comment@6..9 Newline@9..10 EndOfFile@10..10"},
      {"x # end", "Name(x)@0..1 Comment@2..7 Newline@7..7 EndOfFile@7..7"},
      {"#\r\n#", "Comment@0..1 NonLogicalNewline@1..3 Comment@3..4 EndOfFile@4..4"},
      {"# 'not a string' \\", "Comment@0..18 EndOfFile@18..18"},
  });
}

// ---- f-strings and t-strings ----

TEST(LexerInterpolatedStrings, LiteralPartsAndInterpolations) {
  expect_tokens({
      {"f'a{x}b'", "FStringStart@0..2 FStringMiddle(a)@2..3 Lbrace@3..4 Name(x)@4..5 Rbrace@5..6 "
                   "FStringMiddle(b)@6..7 FStringEnd@7..8 Newline@8..8 EndOfFile@8..8"},
      {"f'{{x}}'", "FStringStart@0..2 FStringMiddle({x})@2..7 FStringEnd@7..8 Newline@8..8 EndOfFile@8..8"},
      {"f''", "FStringStart@0..2 FStringEnd@2..3 Newline@3..3 EndOfFile@3..3"},
      {"f\"\"\"a\n{x}\n\"\"\"", "FStringStart@0..4 FStringMiddle(a\n)@4..6 Lbrace@6..7 Name(x)@7..8 Rbrace@8..9 "
                               "FStringMiddle(\n)@9..10 FStringEnd@10..13 Newline@13..13 EndOfFile@13..13"},
      {"t'a{x}'", "TStringStart@0..2 TStringMiddle(a)@2..3 Lbrace@3..4 Name(x)@4..5 Rbrace@5..6 TStringEnd@6..7 "
                  "Newline@7..7 EndOfFile@7..7"},
  });
  expect_kinds({
      // The other quote inside an interpolation starts an ordinary string.
      {"f'{\"a\"}'", "FStringStart Lbrace String(a) Rbrace FStringEnd Newline EndOfFile"},
      // Nested f-strings, and the same quote nested (a new string).
      {"f'{f\"{x}\"}'", "FStringStart Lbrace FStringStart Lbrace Name(x) Rbrace FStringEnd Rbrace FStringEnd Newline "
                        "EndOfFile"},
      {"f'{f'{x}'}'", "FStringStart Lbrace FStringStart Lbrace Name(x) Rbrace FStringEnd Rbrace FStringEnd Newline "
                      "EndOfFile"},
      // Braces of a dict or set inside an interpolation.
      {"f'{ {1: 2}[1] }'", "FStringStart Lbrace Lbrace Int(1) Colon Int(2) Rbrace Lsqb Int(1) Rsqb Rbrace FStringEnd "
                           "Newline EndOfFile"},
      // A triple-quoted f-string's interpolation may span lines; the breaks
      // are non-logical.
      {"f'''{\nx\n}'''", "FStringStart Lbrace NonLogicalNewline Name(x) NonLogicalNewline Rbrace FStringEnd Newline "
                         "EndOfFile"},
      {"f'{x!r}' f'{x=}' f'{x!=y}'", "FStringStart Lbrace Name(x) Exclamation Name(r) Rbrace FStringEnd FStringStart "
                                     "Lbrace Name(x) Equal Rbrace FStringEnd FStringStart Lbrace Name(x) NotEqual "
                                     "Name(y) Rbrace FStringEnd Newline EndOfFile"},
  });
}

TEST(LexerInterpolatedStrings, FormatSpecifiers) {
  expect_kinds({
      {"f'{x:>{w}}'",
       "FStringStart Lbrace Name(x) Colon FStringMiddle(>) Lbrace Name(w) Rbrace Rbrace FStringEnd Newline EndOfFile"},
      // A colon inside brackets of the interpolation is ordinary.
      {"f'{x[1:2]}'", "FStringStart Lbrace Name(x) Lsqb Int(1) Colon Int(2) Rsqb Rbrace FStringEnd Newline EndOfFile"},
      // ":=" at the interpolation's level is a colon and a format spec.
      {"f'{x:=5}'", "FStringStart Lbrace Name(x) Colon FStringMiddle(=5) Rbrace FStringEnd Newline EndOfFile"},
      {"f'{(x:=5)}'", "FStringStart Lbrace Lpar Name(x) ColonEqual Int(5) Rpar Rbrace FStringEnd Newline EndOfFile"},
      // Inside a format specifier a doubled brace is not collapsed.
      {"f'{x:{{y}}}'", "FStringStart Lbrace Name(x) Colon Lbrace Lbrace Name(y) Rbrace Rbrace Rbrace FStringEnd Newline "
                       "EndOfFile"},
      {"f'{x:a{y:b}c}'", "FStringStart Lbrace Name(x) Colon FStringMiddle(a) Lbrace Name(y) Colon FStringMiddle(b) "
                         "Rbrace FStringMiddle(c) Rbrace FStringEnd Newline EndOfFile"},
      // A triple-quoted f-string's format specifier may span lines.
      {"f'''{x:a\nb}'''", "FStringStart Lbrace Name(x) Colon FStringMiddle(a\nb) Rbrace FStringEnd Newline EndOfFile"},
      {"f'{x:}'", "FStringStart Lbrace Name(x) Colon Rbrace FStringEnd Newline EndOfFile"},
  });
}

TEST(LexerInterpolatedStrings, Escapes) {
  expect_kinds({
      // A named escape is one literal part, braces included.
      {"f'\\N{DASH}{x}'", "FStringStart FStringMiddle(\\N{DASH}) Lbrace Name(x) Rbrace FStringEnd Newline EndOfFile"},
      // In a raw f-string the brace after \N starts an interpolation.
      {"rf'\\N{x}'", "FStringStart FStringMiddle(\\N) Lbrace Name(x) Rbrace FStringEnd Newline EndOfFile"},
      {"f'\\{x}'", "FStringStart FStringMiddle(\\) Lbrace Name(x) Rbrace FStringEnd Newline EndOfFile"},
      {"f'\\{{x'", "FStringStart FStringMiddle(\\{x) FStringEnd Newline EndOfFile"},
      {"f'\\''", "FStringStart FStringMiddle(\\') FStringEnd Newline EndOfFile"},
      {"f'a\\\nb'", "FStringStart FStringMiddle(a\\\nb) FStringEnd Newline EndOfFile"},
      {"f'''a''b'''", "FStringStart FStringMiddle(a''b) FStringEnd Newline EndOfFile"},
  });
}

TEST(LexerInterpolatedStrings, Errors) {
  expect_tokens({
      {"f'a}'", "FStringStart@0..2 FStringMiddle(a)@2..3 Unknown@3..4 FStringEnd@4..5 Newline@5..5 EndOfFile@5..5",
       "f-string: single `}` is not allowed@3..4"},
      {"t'}'", "TStringStart@0..2 Unknown@2..3 TStringEnd@3..4 Newline@4..4 EndOfFile@4..4",
       "t-string: single `}` is not allowed@2..3"},
      // A line break ends a single-quoted f-string: no end token.
      {"f'ab\nx", "FStringStart@0..2 FStringMiddle(ab)@2..4 Newline@4..5 Name(x)@5..6 Newline@6..6 EndOfFile@6..6",
       "f-string: unterminated string@2..4"},
      // The string is gone, and with it its open brace: the line break is
      // logical.
      {"f'{x:ab\n}", "FStringStart@0..2 Lbrace@2..3 Name(x)@3..4 Colon@4..5 FStringMiddle(ab)@5..7 "
                     "Newline@7..8 Rbrace@8..9 Newline@9..9 EndOfFile@9..9",
       "f-string: newlines are not allowed in format specifiers when using single quotes@5..7"},
      {"f'''abc", "FStringStart@0..4 FStringMiddle(abc)@4..7 Newline@7..7 EndOfFile@7..7",
       "f-string: unterminated triple-quoted string@4..7"},
      // Open interpolations are closed at the end of the text.
      {"f'{x", "FStringStart@0..2 Lbrace@2..3 Name(x)@3..4 Newline@4..4 EndOfFile@4..4",
       "f-string: unterminated string@4..4"},
      {"t'{f'{x", "TStringStart@0..2 Lbrace@2..3 FStringStart@3..5 Lbrace@5..6 Name(x)@6..7 Newline@7..7 "
                  "EndOfFile@7..7",
       "f-string: unterminated string@7..7; t-string: unterminated string@7..7"},
      // An empty part before the error: the next token carries no string
      // flags.
      {"f'\nx", "FStringStart@0..2 Newline@2..3 Name(x)@3..4 Newline@4..4 EndOfFile@4..4",
       "f-string: unterminated string@2..2"},
  });
  // The middle token of an unterminated part is marked unclosed; the token
  // after an empty unterminated part carries no flags.
  python_ast::Arena arena;
  Lexer lexer("f'ab\nf'\n", Mode::Module, TextOffset(0), arena);
  lexer.next_token();
  ASSERT_EQ(lexer.next_token(), TokenKind::FStringMiddle);
  EXPECT_EQ(lexer.current_flags().bits(), 0x110);
  ASSERT_EQ(lexer.next_token(), TokenKind::Newline);
  EXPECT_EQ(lexer.current_flags().bits(), 0);
  ASSERT_EQ(lexer.next_token(), TokenKind::FStringStart);
  ASSERT_EQ(lexer.next_token(), TokenKind::Newline);
  EXPECT_EQ(lexer.current_flags().bits(), 0);
}

// ---- IPython escape commands ----

// One cell, lexed in Mode::Ipython (tokens with ranges) and in Mode::Module
// (kinds only: no escape command, "?" an unexpected character).
struct IpythonCase {
  std::string_view source;
  std::string_view ipython;
  std::string_view module;
  std::string_view module_errors = "";
};

void expect_both_modes(const std::vector<IpythonCase>& cases) {
  for (const IpythonCase& c : cases) {
    Lexed ipython = lex(c.source, Mode::Ipython);
    EXPECT_EQ(ipython.tokens, c.ipython) << "source: " << c.source;
    EXPECT_EQ(ipython.errors, "") << "source: " << c.source;
    Lexed module = lex(c.source, Mode::Module);
    EXPECT_EQ(module.kinds, c.module) << "source: " << c.source;
    EXPECT_EQ(module.errors, c.module_errors) << "source: " << c.source;
  }
}

TEST(LexerIpython, KindsByPrefixAtLineStart) {
  expect_both_modes({
      {"!ls -l\n", "IpyEscapeCommand(Exclamation:ls -l)@0..6 Newline@6..7 EndOfFile@7..7",
       "Exclamation Name(ls) Minus Name(l) Newline EndOfFile"},
      {"!!ls", "IpyEscapeCommand(DoubleExclamation:ls)@0..4 Newline@4..4 EndOfFile@4..4",
       "Exclamation Exclamation Name(ls) Newline EndOfFile"},
      {"%time f(x)", "IpyEscapeCommand(Percent:time f(x))@0..10 Newline@10..10 EndOfFile@10..10",
       "Percent Name(time) Name(f) Lpar Name(x) Rpar Newline EndOfFile"},
      {"%%timeit", "IpyEscapeCommand(DoublePercent:timeit)@0..8 Newline@8..8 EndOfFile@8..8",
       "Percent Percent Name(timeit) Newline EndOfFile"},
      {"?obj", "IpyEscapeCommand(Question:obj)@0..4 Newline@4..4 EndOfFile@4..4", "Unknown Name(obj) Newline EndOfFile",
       "Got unexpected token ?@0..1"},
      {"??obj", "IpyEscapeCommand(DoubleQuestion:obj)@0..5 Newline@5..5 EndOfFile@5..5",
       "Unknown Unknown Name(obj) Newline EndOfFile", "Got unexpected token ?@0..1; Got unexpected token ?@1..2"},
      {",f a b", "IpyEscapeCommand(Comma:f a b)@0..6 Newline@6..6 EndOfFile@6..6",
       "Comma Name(f) Name(a) Name(b) Newline EndOfFile"},
      {";f a", "IpyEscapeCommand(Semi:f a)@0..4 Newline@4..4 EndOfFile@4..4", "Semi Name(f) Name(a) Newline EndOfFile"},
      {"/f a", "IpyEscapeCommand(Slash:f a)@0..4 Newline@4..4 EndOfFile@4..4", "Slash Name(f) Name(a) Newline EndOfFile"},
      // Only "!!", "%%" and "??" are pairs: the second "," or "/" is text.
      {",,x", "IpyEscapeCommand(Comma:,x)@0..3 Newline@3..3 EndOfFile@3..3",
       "Comma Comma Name(x) Newline EndOfFile"},
      {"//x", "IpyEscapeCommand(Slash:/x)@0..3 Newline@3..3 EndOfFile@3..3", "DoubleSlash Name(x) Newline EndOfFile"},
      {"!=x", "IpyEscapeCommand(Exclamation:=x)@0..3 Newline@3..3 EndOfFile@3..3",
       "NotEqual Name(x) Newline EndOfFile"},
      // A prefix alone is a command with an empty text.
      {"!", "IpyEscapeCommand(Exclamation:)@0..1 Newline@1..1 EndOfFile@1..1", "Exclamation Newline EndOfFile"},
      {"%%\n", "IpyEscapeCommand(DoublePercent:)@0..2 Newline@2..3 EndOfFile@3..3", "Percent Percent Newline EndOfFile"},
  });
}

TEST(LexerIpython, LineStartMeansNoTokenOfTheLogicalLineYet) {
  expect_both_modes({
      // In an indented block, after a comment line, on a later line.
      {"if x:\n    !ls\n",
       "If@0..2 Name(x)@3..4 Colon@4..5 Newline@5..6 Indent@6..10 IpyEscapeCommand(Exclamation:ls)@10..13 "
       "Newline@13..14 Dedent@14..14 EndOfFile@14..14",
       "If Name(x) Colon Newline Indent Exclamation Name(ls) Newline Dedent EndOfFile"},
      {"# c\n%pwd", "Comment@0..3 NonLogicalNewline@3..4 IpyEscapeCommand(Percent:pwd)@4..8 Newline@8..8 EndOfFile@8..8",
       "Comment NonLogicalNewline Percent Name(pwd) Newline EndOfFile"},
      // Inside a line the characters are operators.
      {"a; !b", "Name(a)@0..1 Semi@1..2 Exclamation@3..4 Name(b)@4..5 Newline@5..5 EndOfFile@5..5",
       "Name(a) Semi Exclamation Name(b) Newline EndOfFile"},
      {"a % b, c / d", "Name(a)@0..1 Percent@2..3 Name(b)@4..5 Comma@5..6 Name(c)@7..8 Slash@9..10 Name(d)@11..12 "
                       "Newline@12..12 EndOfFile@12..12",
       "Name(a) Percent Name(b) Comma Name(c) Slash Name(d) Newline EndOfFile"},
      // A line inside brackets continues the logical line.
      {"(\n!x)", "Lpar@0..1 NonLogicalNewline@1..2 Exclamation@2..3 Name(x)@3..4 Rpar@4..5 Newline@5..5 EndOfFile@5..5",
       "Lpar NonLogicalNewline Exclamation Name(x) Rpar Newline EndOfFile"},
  });
}

TEST(LexerIpython, AfterAssignOnlyExclamationAndPercentAtNestingZero) {
  expect_both_modes({
      {"x = !pwd\n", "Name(x)@0..1 Equal@2..3 IpyEscapeCommand(Exclamation:pwd)@4..8 Newline@8..9 EndOfFile@9..9",
       "Name(x) Equal Exclamation Name(pwd) Newline EndOfFile"},
      // The pair rule does not apply after "=".
      {"x = !!ls", "Name(x)@0..1 Equal@2..3 IpyEscapeCommand(Exclamation:!ls)@4..8 Newline@8..8 EndOfFile@8..8",
       "Name(x) Equal Exclamation Exclamation Name(ls) Newline EndOfFile"},
      {"x = %%t", "Name(x)@0..1 Equal@2..3 IpyEscapeCommand(Percent:%t)@4..7 Newline@7..7 EndOfFile@7..7",
       "Name(x) Equal Percent Percent Name(t) Newline EndOfFile"},
      // Only right after "=": not after another token, not after "==", not in
      // brackets, and not for the other prefixes.
      {"x = y !z", "Name(x)@0..1 Equal@2..3 Name(y)@4..5 Exclamation@6..7 Name(z)@7..8 Newline@8..8 EndOfFile@8..8",
       "Name(x) Equal Name(y) Exclamation Name(z) Newline EndOfFile"},
      {"x == !z", "Name(x)@0..1 EqEqual@2..4 Exclamation@5..6 Name(z)@6..7 Newline@7..7 EndOfFile@7..7",
       "Name(x) EqEqual Exclamation Name(z) Newline EndOfFile"},
      {"f(x = !z)",
       "Name(f)@0..1 Lpar@1..2 Name(x)@2..3 Equal@4..5 Exclamation@6..7 Name(z)@7..8 Rpar@8..9 Newline@9..9 "
       "EndOfFile@9..9",
       "Name(f) Lpar Name(x) Equal Exclamation Name(z) Rpar Newline EndOfFile"},
      {"x = ?y", "Name(x)@0..1 Equal@2..3 Question@4..5 Name(y)@5..6 Newline@6..6 EndOfFile@6..6",
       "Name(x) Equal Unknown Name(y) Newline EndOfFile", "Got unexpected token ?@4..5"},
      {"x = /y", "Name(x)@0..1 Equal@2..3 Slash@4..5 Name(y)@5..6 Newline@6..6 EndOfFile@6..6",
       "Name(x) Equal Slash Name(y) Newline EndOfFile"},
      // A help-end suffix makes a help kind after "=" too.
      {"x = %foo?", "Name(x)@0..1 Equal@2..3 IpyEscapeCommand(Question:%foo)@4..9 Newline@9..9 EndOfFile@9..9",
       "Name(x) Equal Percent Name(foo) Unknown Newline EndOfFile", "Got unexpected token ?@8..9"},
  });
}

TEST(LexerIpython, HelpEndSuffix) {
  expect_both_modes({
      {"%timeit?", "IpyEscapeCommand(Question:%timeit)@0..8 Newline@8..8 EndOfFile@8..8",
       "Percent Name(timeit) Unknown Newline EndOfFile", "Got unexpected token ?@7..8"},
      {"%%time??\n", "IpyEscapeCommand(DoubleQuestion:%%time)@0..8 Newline@8..9 EndOfFile@9..9",
       "Percent Percent Name(time) Unknown Unknown Newline EndOfFile",
       "Got unexpected token ?@6..7; Got unexpected token ?@7..8"},
      {"!ls?", "IpyEscapeCommand(Question:ls)@0..4 Newline@4..4 EndOfFile@4..4",
       "Exclamation Name(ls) Unknown Newline EndOfFile", "Got unexpected token ?@3..4"},
      // The help kinds lose their leading "?" and spaces.
      {"?obj??", "IpyEscapeCommand(DoubleQuestion:obj)@0..6 Newline@6..6 EndOfFile@6..6",
       "Unknown Name(obj) Unknown Unknown Newline EndOfFile",
       "Got unexpected token ?@0..1; Got unexpected token ?@4..5; Got unexpected token ?@5..6"},
      {"??? obj?", "IpyEscapeCommand(Question:obj)@0..8 Newline@8..8 EndOfFile@8..8",
       "Unknown Unknown Unknown Name(obj) Unknown Newline EndOfFile",
       "Got unexpected token ?@0..1; Got unexpected token ?@1..2; Got unexpected token ?@2..3; "
       "Got unexpected token ?@7..8"},
      // Not a suffix: after a blank, three marks, not at the end of the line,
      // or with no text before it.
      {"%foo ?", "IpyEscapeCommand(Percent:foo ?)@0..6 Newline@6..6 EndOfFile@6..6",
       "Percent Name(foo) Unknown Newline EndOfFile", "Got unexpected token ?@5..6"},
      {"!a\t?", "IpyEscapeCommand(Exclamation:a\t?)@0..4 Newline@4..4 EndOfFile@4..4",
       "Exclamation Name(a) Unknown Newline EndOfFile", "Got unexpected token ?@3..4"},
      {"%foo???", "IpyEscapeCommand(Percent:foo??" "?)@0..7 Newline@7..7 EndOfFile@7..7",
       "Percent Name(foo) Unknown Unknown Unknown Newline EndOfFile",
       "Got unexpected token ?@4..5; Got unexpected token ?@5..6; Got unexpected token ?@6..7"},
      {"!a?b", "IpyEscapeCommand(Exclamation:a?b)@0..4 Newline@4..4 EndOfFile@4..4",
       "Exclamation Name(a) Unknown Name(b) Newline EndOfFile", "Got unexpected token ?@2..3"},
      {"!a? \n", "IpyEscapeCommand(Exclamation:a? )@0..4 Newline@4..5 EndOfFile@5..5",
       "Exclamation Name(a) Unknown Newline EndOfFile", "Got unexpected token ?@2..3"},
      {"%?", "IpyEscapeCommand(Percent:?)@0..2 Newline@2..2 EndOfFile@2..2", "Percent Unknown Newline EndOfFile",
       "Got unexpected token ?@1..2"},
      // A carriage return ends the line as a line feed does.
      {"!a?\r\n", "IpyEscapeCommand(Question:a)@0..3 Newline@3..5 EndOfFile@5..5",
       "Exclamation Name(a) Unknown Newline EndOfFile", "Got unexpected token ?@2..3"},
  });
}

TEST(LexerIpython, LineContinuationsAndBackslashes) {
  expect_both_modes({
      {"!ls \\\n-l\n", "IpyEscapeCommand(Exclamation:ls -l)@0..8 Newline@8..9 EndOfFile@9..9",
       "Exclamation Name(ls) Minus Name(l) Newline EndOfFile"},
      {"%foo \\\r\nbar", "IpyEscapeCommand(Percent:foo bar)@0..11 Newline@11..11 EndOfFile@11..11",
       "Percent Name(foo) Name(bar) Newline EndOfFile"},
      {"%foo\\\rbar", "IpyEscapeCommand(Percent:foobar)@0..9 Newline@9..9 EndOfFile@9..9",
       "Percent Name(foo) Name(bar) Newline EndOfFile"},
      // A continuation before a help-end suffix: the magic prefix is put back
      // in front of the collected text.
      {"%foo\\\n?", "IpyEscapeCommand(Question:%foo)@0..7 Newline@7..7 EndOfFile@7..7",
       "Percent Name(foo) Unknown Newline EndOfFile", "Got unexpected token ?@6..7"},
      // Other backslashes are text; the character after one is read as usual.
      {"!a\\b", "IpyEscapeCommand(Exclamation:a\\b)@0..4 Newline@4..4 EndOfFile@4..4",
       "Exclamation Name(a) Unknown Name(b) Newline EndOfFile",
       "Expected a newline after line continuation character@2..3"},
      {"!a\\\\\nb", "IpyEscapeCommand(Exclamation:a\\b)@0..6 Newline@6..6 EndOfFile@6..6",
       "Exclamation Name(a) Unknown Name(b) Newline EndOfFile", "Expected a newline after line continuation character@2..3"},
      {"!a\\", "IpyEscapeCommand(Exclamation:a\\)@0..3 Newline@3..3 EndOfFile@3..3",
       "Exclamation Name(a) Unknown Newline EndOfFile", "Expected a newline after line continuation character@2..3"},
  });
}

TEST(LexerIpython, CommandEndsAtNulAndKeepsOtherBytes) {
  struct ByteCase {
    std::string source;
    std::string tokens;
    std::string errors;
  };
  const ByteCase cases[] = {
      {std::string("!ls\0x", 5),
       "IpyEscapeCommand(Exclamation:ls)@0..3 Unknown@3..4 Name(x)@4..5 Newline@5..5 EndOfFile@5..5",
       std::string("Got unexpected token \0@3..4", 27)},
      // "?" before a NUL ends the line: a help-end suffix.
      {std::string("!ls?\0", 5), "IpyEscapeCommand(Question:ls)@0..4 Unknown@4..5 Newline@5..5 EndOfFile@5..5",
       std::string("Got unexpected token \0@4..5", 27)},
      // Non-ASCII and ill-formed bytes are text as they stand.
      {"!\xC3\xA9\xFF", "IpyEscapeCommand(Exclamation:\xC3\xA9\xFF)@0..4 Newline@4..4 EndOfFile@4..4", ""},
  };
  for (const ByteCase& c : cases) {
    Lexed lexed = lex(c.source, Mode::Ipython);
    EXPECT_EQ(lexed.tokens, c.tokens);
    EXPECT_EQ(lexed.errors, c.errors);
  }
}

TEST(LexerIpython, TextsAreViewsOfTheSourceUnlessAContinuationWasDropped) {
  struct ViewCase {
    std::string_view source;
    bool view;
  };
  const ViewCase cases[] = {{"!ls -l", true}, {"%timeit?", true}, {"%%time??", true}, {"??obj?", true},
                            {"!a\\\nb", false}, {"%a\\\nb?", false}};
  for (const ViewCase& c : cases) {
    python_ast::Arena arena;
    Lexer lexer(c.source, Mode::Ipython, TextOffset(0), arena);
    ASSERT_EQ(lexer.next_token(), TokenKind::IpyEscapeCommand) << c.source;
    std::string_view text = lexer.current_value().as_ipy_escape_command().text;
    const bool inside = text.data() >= c.source.data() && text.data() + text.size() <= c.source.data() + c.source.size();
    EXPECT_EQ(inside, c.view) << c.source;
  }
}

TEST(LexerIpython, CheckpointsRestoreTheCommand) {
  python_ast::Arena arena;
  Lexer lexer("x = 1\n%a\\\nb?\n", Mode::Ipython, TextOffset(0), arena);
  for (int i = 0; i < 4; ++i) lexer.next_token();  // x = 1 Newline
  LexerCheckpoint checkpoint = lexer.checkpoint();
  ASSERT_EQ(lexer.next_token(), TokenKind::IpyEscapeCommand);
  EXPECT_EQ(value_text(lexer.current_value()), "Question:%ab");
  lexer.rewind(checkpoint);
  ASSERT_EQ(lexer.next_token(), TokenKind::IpyEscapeCommand);
  EXPECT_EQ(value_text(lexer.current_value()), "Question:%ab");
  EXPECT_EQ(lexer.current_range().debug(), "6..12");
  EXPECT_EQ(lexer.next_token(), TokenKind::Newline);
}

}  // namespace
}  // namespace python_parser
