// Speculative lexing and re-lexing: checkpoints and rewind, the re-lexing of a
// non-logical line break as a logical one, and the two re-lex operations of
// interpolations; plus the fatal faults of the lexer's invariants.

#include <gtest/gtest.h>

#include <optional>
#include <random>
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
using text_size::TextRange;

// One token as the lexer left it: kind, range, flags, value as text.
struct Snapshot {
  TokenKind kind;
  TextRange range;
  std::uint16_t flags;
  std::string value;

  bool operator==(const Snapshot&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Snapshot& s) {
  return out << python_ast::debug_name(s.kind) << "@" << s.range.debug() << " " << s.flags << " " << s.value;
}

Snapshot snapshot(const Lexer& lexer) {
  const TokenValue& value = lexer.current_value();
  std::string text;
  switch (value.tag()) {
    case TokenValueTag::Name:
      text = std::string(value.as_name().as_str());
      break;
    case TokenValueTag::Int:
      text = value.as_int().to_string();
      break;
    case TokenValueTag::String:
    case TokenValueTag::InterpolatedStringMiddle:
      text = std::string(value.as_text());
      break;
    default:
      break;
  }
  return Snapshot{lexer.current_kind(), lexer.current_range(), lexer.current_flags().bits(), text};
}

// Lexes to the end of the text, recording every token and the error count.
std::vector<Snapshot> rest(Lexer& lexer) {
  std::vector<Snapshot> out;
  while (out.size() < 1000) {
    lexer.next_token();
    out.push_back(snapshot(lexer));
    if (out.back().kind == TokenKind::EndOfFile) break;
  }
  return out;
}

std::string kinds(const std::vector<Snapshot>& tokens) {
  std::string out;
  for (const Snapshot& s : tokens) {
    if (!out.empty()) out += ' ';
    out += python_ast::debug_name(s.kind);
  }
  return out;
}

// Rewinding to a checkpoint taken after every token of `source` in turn must
// reproduce exactly the same rest of the stream, current token and errors
// included.
void expect_rewind_reproduces(std::string_view source) {
  python_ast::Arena arena;
  Lexer reference(source, Mode::Module, TextOffset(0), arena);
  std::vector<Snapshot> all = rest(reference);
  const std::size_t all_errors = reference.errors().size();

  for (std::size_t stop = 0; stop + 1 < all.size(); ++stop) {
    Lexer lexer(source, Mode::Module, TextOffset(0), arena);
    for (std::size_t i = 0; i <= stop; ++i) lexer.next_token();
    const LexerCheckpoint checkpoint = lexer.checkpoint();
    const std::size_t errors_at_checkpoint = lexer.errors().size();
    const Snapshot current = snapshot(lexer);

    std::vector<Snapshot> first = rest(lexer);
    EXPECT_EQ(lexer.errors().size(), all_errors) << source << " after token " << stop;
    lexer.rewind(checkpoint);
    EXPECT_EQ(snapshot(lexer), current) << source << " after token " << stop;
    EXPECT_EQ(lexer.errors().size(), errors_at_checkpoint) << source << " after token " << stop;
    std::vector<Snapshot> second = rest(lexer);
    EXPECT_EQ(first, second) << source << " after token " << stop;
    EXPECT_EQ(std::vector<Snapshot>(all.begin() + static_cast<std::ptrdiff_t>(stop) + 1, all.end()), second)
        << source << " after token " << stop;
    EXPECT_EQ(lexer.errors().size(), all_errors) << source << " after token " << stop;
  }
}

TEST(LexerCheckpoint, RewindReproducesTheStreamFromEveryToken) {
  for (std::string_view source : {
           // Pending dedents: three levels closed by one line.
           std::string_view("if a:\n  if b:\n    if c:\n      d\ne\n"),
           // Inside interpolations and format specifiers, nested strings.
           std::string_view("x = f'a{b:>{w}}c{f\"{d!r}\"}' + t'{e}'\n"),
           std::string_view("f'''{\nx:{y}\n}'''\n"),
           // Errors found after a checkpoint are dropped by the rewind.
           std::string_view("a $ b\n  c\n\td\n"),
           std::string_view("f'{x\n'abc\n(\n"),
           // Deeper than the stacks' inline capacity.
           std::string_view("if a:\n if a:\n  if a:\n   if a:\n    if a:\n     if a:\n      if a:\n       if a:\n"
                            "        if a:\n         if a:\n          if a:\n           if a:\n            if a:\n"
                            "             if a:\n              if a:\n               if a:\n                if a:\n"
                            "                 if a:\n                  x\ny\n"),
           std::string_view("f'{f'{f'{f'{f'{f'{x}'}'}'}'}'}'\n"),
       }) {
    expect_rewind_reproduces(source);
  }
}

TEST(LexerCheckpoint, MovedLexerGoesOnWhereItStood) {
  // Deeper than the inline capacities, so both stacks live on the heap.
  std::string source;
  for (int i = 0; i < 20; ++i) source += std::string(static_cast<std::size_t>(i), ' ') + "if a:\n";
  source += std::string(20, ' ') + "x = f'{f'{f'{f'{f'{y}'}'}'}'}'\n";
  python_ast::Arena arena;
  Lexer reference(source, Mode::Module, TextOffset(0), arena);
  const std::vector<Snapshot> all = rest(reference);
  for (std::size_t stop : {std::size_t{5}, std::size_t{95}, std::size_t{110}}) {
    Lexer lexer(source, Mode::Module, TextOffset(0), arena);
    for (std::size_t i = 0; i <= stop; ++i) lexer.next_token();
    Lexer moved(std::move(lexer));
    EXPECT_EQ(std::vector<Snapshot>(all.begin() + static_cast<std::ptrdiff_t>(stop) + 1, all.end()), rest(moved))
        << "after token " << stop;
  }
}

TEST(LexerCheckpoint, RewindInTheMiddleOfPendingDedents) {
  python_ast::Arena arena;
  Lexer lexer("if a:\n  if b:\n    c\nd\n", Mode::Module, TextOffset(0), arena);
  while (lexer.next_token() != TokenKind::Dedent) {
  }
  // One Dedent delivered, one still owed.
  const LexerCheckpoint checkpoint = lexer.checkpoint();
  EXPECT_EQ(kinds(rest(lexer)), "Dedent Name Newline EndOfFile");
  lexer.rewind(checkpoint);
  EXPECT_EQ(lexer.current_kind(), TokenKind::Dedent);
  EXPECT_EQ(kinds(rest(lexer)), "Dedent Name Newline EndOfFile");
}

TEST(LexerCheckpoint, RewindInTheMiddleOfAnInterpolation) {
  python_ast::Arena arena;
  Lexer lexer("f'a{x:>{w}}b'\n", Mode::Module, TextOffset(0), arena);
  // Up to the format specifier's nested interpolation.
  while (!(lexer.next_token() == TokenKind::Name && lexer.current_value().as_name().as_str() == "w")) {
  }
  const LexerCheckpoint checkpoint = lexer.checkpoint();
  EXPECT_EQ(kinds(rest(lexer)), "Rbrace Rbrace FStringMiddle FStringEnd Newline EndOfFile");
  lexer.rewind(checkpoint);
  EXPECT_EQ(lexer.current_value().as_name().as_str(), "w");
  EXPECT_EQ(kinds(rest(lexer)), "Rbrace Rbrace FStringMiddle FStringEnd Newline EndOfFile");
}

TEST(LexerCheckpoint, RewindToAPositionInsideACharacterIsFatal) {
  python_ast::Arena arena;
  Lexer lexer("\xC3\xA9", Mode::Module, TextOffset(0), arena);
  LexerCheckpoint checkpoint = lexer.checkpoint();
  checkpoint.cursor_offset = TextOffset(1);
  EXPECT_THROW(lexer.rewind(checkpoint), tolva::FatalError);
  // Ill-formed bytes read one by one, so every one of them is a boundary.
  Lexer raw("\xC3x\xA9", Mode::Module, TextOffset(0), arena);
  LexerCheckpoint anywhere = raw.checkpoint();
  anywhere.cursor_offset = TextOffset(2);
  raw.rewind(anywhere);
  EXPECT_EQ(raw.next_token(), TokenKind::Unknown);
  EXPECT_EQ(raw.current_range(), TextRange(2, 3));
}

// ---- re_lex_logical_token ----

TEST(LexerReLex, NonLogicalNewlineBecomesLogical) {
  python_ast::Arena arena;
  // The parser meets "x" on the next line of an unclosed call and re-lexes
  // the line break that preceded it.
  Lexer lexer("f(a, b\nx = 1\n", Mode::Module, TextOffset(0), arena);
  std::vector<Snapshot> tokens;
  for (int i = 0; i < 7; ++i) {
    lexer.next_token();
    tokens.push_back(snapshot(lexer));
  }
  EXPECT_EQ(kinds(tokens), "Name Lpar Name Comma Name NonLogicalNewline Name");
  EXPECT_TRUE(lexer.re_lex_logical_token(TextOffset(6)));
  EXPECT_EQ(lexer.current_kind(), TokenKind::Newline);
  EXPECT_EQ(lexer.current_range(), TextRange(6, 7));
  EXPECT_EQ(kinds(rest(lexer)), "Name Equal Int Newline EndOfFile");
}

TEST(LexerReLex, ClosingBracketKeepsItsLevel) {
  python_ast::Arena arena;
  // Two open brackets; the current token closes one of them, so only one
  // level is given up and the re-lexed break stays inside a bracket.
  Lexer lexer("((a\n)", Mode::Module, TextOffset(0), arena);
  for (int i = 0; i < 5; ++i) lexer.next_token();
  ASSERT_EQ(lexer.current_kind(), TokenKind::Rpar);
  EXPECT_TRUE(lexer.re_lex_logical_token(TextOffset(3)));
  EXPECT_EQ(lexer.current_kind(), TokenKind::NonLogicalNewline);
}

TEST(LexerReLex, Declines) {
  python_ast::Arena arena;
  {
    // Nothing open.
    Lexer lexer("a\nb", Mode::Module, TextOffset(0), arena);
    lexer.next_token();
    EXPECT_FALSE(lexer.re_lex_logical_token(TextOffset(1)));
    EXPECT_EQ(lexer.current_kind(), TokenKind::Name);
  }
  {
    // No line break to re-lex: the nesting is lowered nonetheless, so the
    // next line break is logical.
    Lexer lexer("(a\n", Mode::Module, TextOffset(0), arena);
    lexer.next_token();
    lexer.next_token();
    EXPECT_FALSE(lexer.re_lex_logical_token(std::nullopt));
    EXPECT_EQ(lexer.current_kind(), TokenKind::Name);
    EXPECT_EQ(lexer.next_token(), TokenKind::Newline);
  }
  {
    // The current token belongs to a triple-quoted f-string.
    Lexer lexer("(f'''\n", Mode::Module, TextOffset(0), arena);
    lexer.next_token();
    EXPECT_EQ(lexer.next_token(), TokenKind::FStringStart);
    EXPECT_FALSE(lexer.re_lex_logical_token(TextOffset(5)));
    EXPECT_EQ(lexer.current_kind(), TokenKind::FStringStart);
  }
}

// ---- re-lexing inside interpolations ----

TEST(LexerReLex, UnclosedStringInAnInterpolationBecomesTheEnd) {
  python_ast::Arena arena;
  Lexer lexer("f'{x'\ny\n", Mode::Module, TextOffset(0), arena);
  for (int i = 0; i < 4; ++i) lexer.next_token();
  // The quote meant to close the f-string started a new string.
  ASSERT_EQ(lexer.current_kind(), TokenKind::String);
  EXPECT_EQ(lexer.current_flags().bits(), 0x100);
  ASSERT_EQ(lexer.errors().size(), 1u);
  lexer.re_lex_string_token_in_interpolation_element(InterpolatedStringKind::FString);
  EXPECT_EQ(lexer.current_kind(), TokenKind::FStringEnd);
  EXPECT_EQ(lexer.current_range(), TextRange(4, 5));
  EXPECT_EQ(lexer.current_flags().bits(), 0);
  EXPECT_TRUE(lexer.current_value().is_none());
  EXPECT_TRUE(lexer.errors().empty());
  // Back at the f-string's own nesting: the line break is logical.
  EXPECT_EQ(kinds(rest(lexer)), "Newline Name Newline EndOfFile");
}

TEST(LexerReLex, TripleQuotedAndTStringForms) {
  python_ast::Arena arena;
  Lexer lexer("t'''{x'''  # c\n", Mode::Module, TextOffset(0), arena);
  for (int i = 0; i < 4; ++i) lexer.next_token();
  ASSERT_EQ(lexer.current_kind(), TokenKind::String);
  lexer.re_lex_string_token_in_interpolation_element(InterpolatedStringKind::TString);
  EXPECT_EQ(lexer.current_kind(), TokenKind::TStringEnd);
  EXPECT_EQ(lexer.current_range(), TextRange(6, 9));
  EXPECT_EQ(kinds(rest(lexer)), "Comment Newline EndOfFile");
  EXPECT_TRUE(lexer.errors().empty());
}

TEST(LexerReLex, UnclosedStringIsLeftAloneUnlessItFits) {
  struct Case {
    std::string_view source;
    int tokens;  // to reach the unclosed string
  };
  for (const Case& c : std::vector<Case>{
           {"f'{x'y\n", 4},     // text after the quote
           {"f'{x\"\n", 4},     // the other quote
           {"f'{x b'\n", 4},    // a prefix
           {"f'{x'''\n", 4},    // triple against single
           {"'abc\n", 1},       // no f-string open
           {"f'{x + 'a'}'", 5},  // a closed string
       }) {
    python_ast::Arena arena;
    Lexer lexer(c.source, Mode::Module, TextOffset(0), arena);
    for (int i = 0; i < c.tokens; ++i) lexer.next_token();
    const Snapshot before = snapshot(lexer);
    const std::size_t errors = lexer.errors().size();
    lexer.re_lex_string_token_in_interpolation_element(InterpolatedStringKind::FString);
    EXPECT_EQ(snapshot(lexer), before) << c.source;
    EXPECT_EQ(lexer.errors().size(), errors) << c.source;
  }
}

TEST(LexerReLex, UnclosedRawStringAfterExclamationBecomesTheNameR) {
  python_ast::Arena arena;
  // f'{x!r'  : "r'" started a raw string that runs to the line break.
  Lexer lexer("f'{x!r'\n", Mode::Module, TextOffset(0), arena);
  for (int i = 0; i < 5; ++i) lexer.next_token();
  ASSERT_EQ(lexer.current_kind(), TokenKind::String);
  EXPECT_EQ(lexer.current_flags().bits(), 0x140);
  ASSERT_EQ(lexer.errors().size(), 1u);
  lexer.re_lex_raw_string_in_format_spec();
  EXPECT_EQ(lexer.current_kind(), TokenKind::Name);
  EXPECT_EQ(lexer.current_value().as_name().as_str(), "r");
  EXPECT_EQ(lexer.current_range(), TextRange(5, 6));
  EXPECT_EQ(lexer.current_flags().bits(), 0);
  EXPECT_TRUE(lexer.errors().empty());
  // Lexing resumes at the quote, which again starts an unclosed string; the
  // second re-lex makes it the f-string's end.
  EXPECT_EQ(lexer.next_token(), TokenKind::String);
  lexer.re_lex_string_token_in_interpolation_element(InterpolatedStringKind::FString);
  EXPECT_EQ(lexer.current_kind(), TokenKind::FStringEnd);
  EXPECT_EQ(kinds(rest(lexer)), "Newline EndOfFile");
  EXPECT_TRUE(lexer.errors().empty());

  // Other prefixes, or a closed string, are left alone.
  for (std::string_view source : {"f'{x!R'\n", "f'{x!rb'\n", "f'{x!r''}'"}) {
    Lexer other(source, Mode::Module, TextOffset(0), arena);
    for (int i = 0; i < 5; ++i) other.next_token();
    const Snapshot before = snapshot(other);
    other.re_lex_raw_string_in_format_spec();
    EXPECT_EQ(snapshot(other), before) << source;
  }
}

// ---- Robustness ----

// Random sources built from fragments that change the lexer's state, driven
// by a random mix of every operation the token source and the parser use:
// no operation may fail fatally, every range stays inside the text, and
// plain lexing still reaches the end afterwards.
TEST(LexerRobustness, RandomOperationsKeepTheInvariants) {
  const std::vector<std::string_view> fragments = {
      "f'", "f\"", "t'", "rf'", "f'''", "'", "\"", "'''", "r'", "b'", "{", "}", "{{", "}}", ":", "!", "=",
      "(", ")", "[", "]", "\n", "\r\n", " ", "    ", "\t", "\f", "x", "r", "1", "0x", "1.", "e5", "#c", "\\",
      "\\\n", "\xff", "\xc3\xa9", "$", ",", "if", std::string_view("\0", 1)};
  std::mt19937 rng(20240607);
  for (int round = 0; round < 20000; ++round) {
    std::string source;
    const int count = static_cast<int>(rng() % 40);
    for (int i = 0; i < count; ++i) source += fragments[rng() % fragments.size()];
    python_ast::Arena arena;
    Lexer lexer(source, Mode::Module, TextOffset(0), arena);
    std::vector<LexerCheckpoint> checkpoints;
    std::vector<TextOffset> line_breaks;
    int ends = 0;
    for (int step = 0; step < 2000 && ends < 3; ++step) {
      const unsigned operation = rng() % 16;
      try {
        if (operation == 0) {
          checkpoints.push_back(lexer.checkpoint());
        } else if (operation == 1 && !checkpoints.empty()) {
          lexer.rewind(checkpoints[rng() % checkpoints.size()]);
        } else if (operation == 2) {
          std::optional<TextOffset> at;
          if (!line_breaks.empty() && rng() % 4 != 0) at = line_breaks[rng() % line_breaks.size()];
          lexer.re_lex_logical_token(at);
        } else if (operation == 3) {
          lexer.re_lex_raw_string_in_format_spec();
        } else if (operation == 4) {
          lexer.re_lex_string_token_in_interpolation_element(rng() % 2 ? InterpolatedStringKind::FString
                                                                       : InterpolatedStringKind::TString);
        } else {
          if (lexer.next_token() == TokenKind::EndOfFile) ++ends;
          if (lexer.current_kind() == TokenKind::NonLogicalNewline) {
            line_breaks.push_back(lexer.current_range().start());
          }
        }
      } catch (const tolva::FatalError& error) {
        FAIL() << "fatal error " << error.what() << " on " << testing::PrintToString(source);
      }
      ASSERT_LE(lexer.current_range().end().raw, source.size()) << testing::PrintToString(source);
      for (const LexicalError& error : lexer.errors()) {
        ASSERT_LE(error.range.end().raw, source.size()) << testing::PrintToString(source);
      }
    }
    int tokens = 0;
    while (lexer.next_token() != TokenKind::EndOfFile) {
      ASSERT_LT(++tokens, 4 * static_cast<int>(source.size()) + 64) << testing::PrintToString(source);
    }
  }
}

// ---- Fatal faults ----

TEST(LexerInvariants, FrameWithoutFOrTIsFatal) {
  InterpolationFrame frame;
  try {
    (void)frame.kind();
    ADD_FAILURE() << "no fatal error";
  } catch (const tolva::FatalError& error) {
    EXPECT_STREQ(error.what(),
                 "internal error: entered unreachable code: Can only be constructed when f-string or t-string flag "
                 "is present");
  }
}

TEST(LexerInvariants, ValueOfAnotherKindIsFatal) {
  TokenValue none;
  EXPECT_THROW((void)none.as_name(), tolva::FatalError);
  EXPECT_THROW((void)TokenValue::floating(1.0).as_text(), tolva::FatalError);
  EXPECT_THROW((void)TokenValue::string("x").as_int(), tolva::FatalError);
  EXPECT_EQ(TokenValue::interpolated_string_middle("x").as_text(), "x");
}

TEST(LexerInvariants, TakeValueLeavesNone) {
  python_ast::Arena arena;
  Lexer lexer("abc", Mode::Module, TextOffset(0), arena);
  lexer.next_token();
  EXPECT_EQ(lexer.take_value().as_name().as_str(), "abc");
  EXPECT_TRUE(lexer.current_value().is_none());
}

TEST(LexerInvariants, FinishHandsOverTheErrors) {
  python_ast::Arena arena;
  Lexer lexer("$ `", Mode::Module, TextOffset(0), arena);
  while (lexer.next_token() != TokenKind::EndOfFile) {
  }
  std::vector<LexicalError> errors = std::move(lexer).finish();
  ASSERT_EQ(errors.size(), 2u);
  EXPECT_EQ(errors[0].error.display(), "Got unexpected token $");
  EXPECT_EQ(errors[1].range, TextRange(2, 3));
}

}  // namespace
}  // namespace python_parser
