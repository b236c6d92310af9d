#include <gtest/gtest.h>

#include <optional>
#include <span>
#include <string>
#include <vector>

#include "python_ast/identifier.h"
#include "python_parser/parser/parser.h"
#include "support/fatal_error.h"

namespace python_parser {
namespace {

using python_ast::Identifier;
using python_ast::TokenKind;
using text_size::TextOffset;
using text_size::TextRange;

// A parser over `text` with its own arena.
struct Fixture {
  explicit Fixture(std::string_view text, Mode mode = Mode::Module) : parser(text, mode, arena) {}
  python_ast::Arena arena;
  Parser parser;
};

// The identifier rule of the grammar, enough for name lists: a Name, a soft
// keyword taken as a name, a hard keyword reported and taken, or an empty
// identifier at the end of the previous token.
Identifier parse_identifier(Parser& p) {
  TextRange range = p.current_token_range();
  if (p.at(TokenKind::Name)) {
    TokenValue value = p.bump_value(TokenKind::Name);
    return Identifier(value.as_name(), range);
  }
  if (python_ast::is_soft_keyword(p.current_token_kind())) {
    p.bump_any();
    return Identifier(python_ast::Name(p.src_text(range)), range);
  }
  if (python_ast::is_keyword(p.current_token_kind())) {
    p.add_error(ParseErrorType::other("Expected an identifier, but found a keyword " +
                                      std::string(python_ast::display(p.current_token_kind())) +
                                      " that cannot be used here"),
                range);
    p.bump_any();
    return Identifier(python_ast::Name(p.src_text(range)), range);
  }
  p.add_error(ParseErrorType::other("Expected an identifier"), range);
  return Identifier(python_ast::Name(), p.node_range(p.node_start()));
}

// A stand-in statement: everything up to and including the end of the line.
TextRange parse_line(Parser& p) {
  TextOffset start = p.node_start();
  while (!p.at(TokenKind::Newline) && !p.at(TokenKind::EndOfFile)) p.bump_any();
  TextRange range = p.node_range(start);
  p.eat(TokenKind::Newline);
  return range;
}

std::vector<std::string> names_of(std::span<Identifier> identifiers) {
  std::vector<std::string> names;
  for (const Identifier& identifier : identifiers) names.emplace_back(identifier.as_str());
  return names;
}

struct ShownError {
  std::string text;
  TextRange range;
  bool operator==(const ShownError&) const = default;
};

std::ostream& operator<<(std::ostream& out, const ShownError& error) {
  return out << '"' << error.text << "\" at " << error.range.debug();
}

std::vector<ShownError> errors_of(const Parser& p) {
  std::vector<ShownError> shown;
  for (const ParseError& error : p.errors()) shown.push_back({error.error.display(), error.range});
  return shown;
}

std::string fatal_text(const std::function<void()>& action) {
  try {
    action();
  } catch (const tolva::FatalError& error) {
    return error.message();
  }
  return "(no fatal error)";
}

// ---- Errors ----

TEST(ParserCore, AddErrorDropsOnlyAnErrorStartingWhereTheLastOneStarts) {
  struct Case {
    std::string_view name;
    std::vector<TextRange> recorded;
    std::vector<TextRange> kept;
  };
  const Case cases[] = {
      {"same start, second dropped", {{4, 5}, {4, 9}}, {{4, 5}}},
      {"same start, empty range dropped", {{4, 5}, {4, 4}}, {{4, 5}}},
      {"earlier offset after a later one is kept", {{7, 8}, {3, 4}}, {{7, 8}, {3, 4}}},
      {"only the last entry counts", {{7, 8}, {3, 4}, {7, 9}}, {{7, 8}, {3, 4}, {7, 9}}},
      {"same end, other start", {{2, 6}, {3, 6}}, {{2, 6}, {3, 6}}},
      {"a cascade at one token", {{5, 6}, {5, 6}, {5, 7}, {6, 6}}, {{5, 6}, {6, 6}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name));
    Fixture f("x\n");
    for (TextRange range : c.recorded) f.parser.add_error(ParseErrorType::other(range.debug()), range);
    std::vector<TextRange> kept;
    for (const ParseError& error : f.parser.errors()) kept.push_back(error.range);
    EXPECT_EQ(kept, c.kept);
  }
}

TEST(ParserCore, TheFirstOfTwoErrorsAtOneTokenWins) {
  Fixture f("a )\n");
  f.parser.bump(TokenKind::Name);
  f.parser.expect(TokenKind::Colon);
  f.parser.add_error(ParseErrorType::other("Expected a statement"), f.parser.current_token_range());
  EXPECT_EQ(errors_of(f.parser), (std::vector<ShownError>{{"Expected `:`, found `)`", {2, 3}}}));
}

TEST(ParserCore, AddErrorTakesTheRangeOfANode) {
  struct WithField {
    TextRange range;
  };
  struct WithMethod {
    TextRange r;
    TextRange range() const { return r; }
  };
  Fixture f("x\n");
  f.parser.add_error(ParseErrorType::InvalidDeleteTarget, WithField{{1, 2}});
  f.parser.add_error(ParseErrorType::ExpectedExpression, WithMethod{{3, 4}});
  const WithField pointed{{5, 6}};
  f.parser.add_error(ParseErrorType::InvalidAssignmentTarget, &pointed);
  EXPECT_EQ(errors_of(f.parser), (std::vector<ShownError>{{"Invalid delete target", {1, 2}},
                                                          {"Expected an expression", {3, 4}},
                                                          {"Invalid assignment target", {5, 6}}}));
}

TEST(ParserCore, ExpectConsumesOnlyTheExpectedKind) {
  Fixture f("if x\n    pass\n");
  f.parser.bump(TokenKind::If);
  f.parser.bump(TokenKind::Name);
  EXPECT_FALSE(f.parser.expect(TokenKind::Colon));
  EXPECT_EQ(f.parser.current_token_kind(), TokenKind::Newline);
  EXPECT_EQ(errors_of(f.parser), (std::vector<ShownError>{{"Expected `:`, found newline", {4, 5}}}));
  EXPECT_EQ(f.parser.errors()[0].display(), "Expected `:`, found newline at byte range 4..5");
  EXPECT_TRUE(f.parser.expect(TokenKind::Newline));
  EXPECT_TRUE(f.parser.expect(TokenKind::Indent));
  EXPECT_EQ(f.parser.current_token_kind(), TokenKind::Pass);
  EXPECT_EQ(f.parser.errors().size(), 1u);
}

// ---- Consuming tokens ----

TEST(ParserCore, BumpOfAnotherKindIsFatal) {
  Fixture f("x\n");
  EXPECT_EQ(fatal_text([&] { f.parser.bump(TokenKind::Colon); }), "Parser::bump: expected Colon, found Name at 0..1");
  EXPECT_EQ(fatal_text([&] { (void)f.parser.bump_value(TokenKind::Int); }),
            "Parser::bump: expected Int, found Name at 0..1");
  // Nothing was consumed by the failed bumps.
  EXPECT_EQ(f.parser.current_token_id(), 0u);
  EXPECT_TRUE(f.parser.token_source().tokens().empty());
}

TEST(ParserCore, BumpAnyAtTheEndOfFileIsFatal) {
  Fixture f("");
  EXPECT_EQ(fatal_text([&] { f.parser.bump_any(); }), "Parser::bump_any: the current token is the end of file at 0..0");
  // The end of file itself is consumed with bump.
  f.parser.bump(TokenKind::EndOfFile);
  EXPECT_EQ(f.parser.current_token_id(), 1u);
}

TEST(ParserCore, BumpValueTakesTheValue) {
  Fixture f("answer = 42\n");
  TokenValue name = f.parser.bump_value(TokenKind::Name);
  EXPECT_EQ(name.as_name().as_str(), "answer");
  f.parser.bump(TokenKind::Equal);
  TokenValue number = f.parser.bump_value(TokenKind::Int);
  EXPECT_EQ(number.as_int().to_string(), "42");
  EXPECT_EQ(f.parser.current_token_id(), 3u);
}

TEST(ParserCore, EatConsumesOnlyAtTheKind) {
  Fixture f("a.b\n");
  EXPECT_FALSE(f.parser.eat(TokenKind::Dot));
  EXPECT_TRUE(f.parser.eat(TokenKind::Name));
  EXPECT_TRUE(f.parser.eat(TokenKind::Dot));
  EXPECT_EQ(f.parser.current_token_range(), TextRange(2, 3));
  EXPECT_TRUE(f.parser.errors().empty());
}

TEST(ParserCore, NodeRangesEndAtTheLastTokenThatBelongsToTheNode) {
  // prev_token_end after consuming each significant token in turn: Newline,
  // `;` and Dedent leave it where it was; Indent and the end of file move it.
  Fixture f("if a:\n  b; c\nd\n");
  struct Step {
    TokenKind kind;
    std::uint32_t prev_end;
  };
  const Step steps[] = {
      {TokenKind::If, 2},   {TokenKind::Name, 4},    {TokenKind::Colon, 5}, {TokenKind::Newline, 5},
      {TokenKind::Indent, 8}, {TokenKind::Name, 9},  {TokenKind::Semi, 9},  {TokenKind::Name, 12},
      {TokenKind::Newline, 12}, {TokenKind::Dedent, 12}, {TokenKind::Name, 14}, {TokenKind::Newline, 14},
      {TokenKind::EndOfFile, 15},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(std::string(python_ast::debug_name(step.kind)));
    f.parser.bump(step.kind);
    EXPECT_EQ(f.parser.prev_token_end().raw, step.prev_end);
  }
}

TEST(ParserCore, NodeRangeOfConsumedAndOfEmptyNodes) {
  Fixture f("def (x)\n");
  TextOffset start = f.parser.node_start();
  f.parser.bump(TokenKind::Def);
  EXPECT_EQ(f.parser.node_range(start), TextRange(0, 3));
  // Recovery builds an empty name here: nothing consumed since it began.
  TextOffset name_start = f.parser.node_start();
  EXPECT_EQ(name_start.raw, 4u);
  EXPECT_EQ(f.parser.node_range(name_start), TextRange(3, 3));
  f.parser.bump(TokenKind::Lpar);
  f.parser.bump(TokenKind::Name);
  f.parser.bump(TokenKind::Rpar);
  // A statement's range stops before its Newline.
  f.parser.bump(TokenKind::Newline);
  EXPECT_EQ(f.parser.node_range(start), TextRange(0, 7));
}

TEST(ParserCore, SrcTextSlicesTheSource) {
  Fixture f("x = 'é'\n");
  EXPECT_EQ(f.parser.src_text(TextRange(4, 8)), "'é'");
  EXPECT_EQ(f.parser.src_text(TextRange(9, 9)), "");
  EXPECT_EQ(fatal_text([&] { (void)f.parser.src_text(TextRange(3, 10)); }),
            "Parser::src_text: range 3..10 lies outside the source text of 9 bytes");
}

TEST(ParserCore, VersionGatedRecordsOnlyBelowTheirMinimumVersion) {
  Fixture f("x\n");
  f.parser.add_version_gated_error(7, 0, {0, 1}, TargetVersion{3, 8});
  f.parser.add_version_gated_error(9, 2, {0, 1}, TargetVersion{3, 12});
  f.parser.add_version_gated_error(1, 0, {0, 1}, TargetVersion{3, 10});
  ASSERT_EQ(f.parser.version_gated_errors().size(), 1u);
  EXPECT_EQ(f.parser.version_gated_errors()[0],
            (VersionGatedSyntaxError{9, 2, TextRange(0, 1), TargetVersion{3, 10}}));
  EXPECT_TRUE(f.parser.errors().empty());
}

// ---- Checkpoints ----

TEST(ParserCore, RewindRestoresEveryField) {
  Fixture f("a # c\nb, c\nd\n");
  f.parser.bump(TokenKind::Name);
  f.parser.add_error(ParseErrorType::other("before"), TextRange(0, 1));
  f.parser.set_recovery_context(RecoveryContextSet::of(RecoveryContextKind::BlockStatements));

  ParserCheckpoint checkpoint = f.parser.checkpoint();
  const auto tokens_before = std::vector<python_ast::Token>(f.parser.token_source().tokens().begin(),
                                                            f.parser.token_source().tokens().end());
  const std::uint32_t id_before = f.parser.current_token_id();
  const TextOffset end_before = f.parser.prev_token_end();
  const TextRange current_before = f.parser.current_token_range();

  // A speculative reading that consumes, records and opens lists.
  f.parser.bump(TokenKind::Newline);
  f.parser.bump(TokenKind::Name);
  f.parser.add_error(ParseErrorType::other("during"), TextRange(8, 9));
  f.parser.add_version_gated_error(1, 0, TextRange(8, 9), TargetVersion{3, 12});
  f.parser.set_recovery_context(RecoveryContextSet::from_bits(0xff));
  f.parser.bump(TokenKind::Comma);
  ASSERT_NE(f.parser.current_token_id(), id_before);

  f.parser.rewind(checkpoint);
  EXPECT_EQ(std::vector<python_ast::Token>(f.parser.token_source().tokens().begin(),
                                           f.parser.token_source().tokens().end()),
            tokens_before);
  EXPECT_EQ(f.parser.current_token_kind(), TokenKind::Newline);
  EXPECT_EQ(f.parser.current_token_range(), current_before);
  EXPECT_EQ(f.parser.current_token_id(), id_before);
  EXPECT_EQ(f.parser.prev_token_end(), end_before);
  EXPECT_EQ(f.parser.recovery_context(), RecoveryContextSet::of(RecoveryContextKind::BlockStatements));
  EXPECT_EQ(errors_of(f.parser), (std::vector<ShownError>{{"before", {0, 1}}}));
  EXPECT_TRUE(f.parser.version_gated_errors().empty());

  // Parsing goes on exactly as if the attempt had never happened.
  f.parser.bump(TokenKind::Newline);
  EXPECT_EQ(f.parser.current_token_range(), TextRange(6, 7));
  EXPECT_EQ(f.parser.token_source().tokens().size(), 3u);
}

TEST(ParserCore, RewindDropsLexicalErrorsFoundSince) {
  Fixture f("a\n$\n");
  ParserCheckpoint checkpoint = f.parser.checkpoint();
  f.parser.bump(TokenKind::Name);
  f.parser.bump(TokenKind::Newline);
  ASSERT_EQ(f.parser.token_source().lexical_errors().size(), 1u);
  f.parser.rewind(checkpoint);
  EXPECT_TRUE(f.parser.token_source().lexical_errors().empty());
  EXPECT_EQ(f.parser.current_token_kind(), TokenKind::Name);
}

// ---- The progress guard ----

TEST(ParserCore, ProgressGuardStopsALoopThatConsumesNothing) {
  Fixture f("x = (\n  a b\n");
  for (TokenKind kind : {TokenKind::Name, TokenKind::Equal, TokenKind::Lpar}) f.parser.bump(kind);
  // An element parser that forgets to consume its token.
  auto broken = [](Parser&) {};
  EXPECT_EQ(fatal_text([&] { f.parser.parse_list(RecoveryContextKind::TupleElementsParenthesized, broken); }),
            "The parser is no longer progressing. Stuck at 'a' Name:8..9");
}

TEST(ParserCore, ProgressGuardAcceptsLoopsThatConsume) {
  Fixture f("a b c\n");
  ProgressGuard guard;
  for (int i = 0; i < 3; ++i) {
    guard.check(f.parser);
    f.parser.bump(TokenKind::Name);
  }
  guard.check(f.parser);
  EXPECT_EQ(fatal_text([&] { guard.check(f.parser); }),
            "The parser is no longer progressing. Stuck at '\n' Newline:5..6");
}

// ---- The list loops ----

struct NamesCase {
  std::string_view text;  // after the `global` keyword
  std::vector<std::string> names;
  bool trailing_comma;
  std::vector<ShownError> errors;
};

TEST(ParserLists, GlobalNames) {
  const NamesCase cases[] = {
      {"global a, b\n", {"a", "b"}, false, {}},
      {"global a, b,\n", {"a", "b"}, true, {{"Trailing comma not allowed", {11, 12}}}},
      {"global a b\n", {"a", "b"}, false, {{"Expected `,`, found name", {9, 10}}}},
      {"global , a\n", {"a"}, false, {{"Expected an identifier", {7, 8}}}},
      {"global a,, b\n", {"a", "b"}, false, {{"Expected an identifier", {9, 10}}}},
      {"global a; b\n", {"a"}, false, {}},
      {"global match, type\n", {"match", "type"}, false, {}},
      {"global a + b\n", {"a", "b"}, false, {{"Expected `,`, found `+`", {9, 10}}}},
      {"global\n", {}, false, {}},
      {"global a = 1\n", {"a"}, false, {{"Expected `,`, found `=`", {9, 10}}, {"Expected `,`, found int", {11, 12}}}},
      {"global a", {"a"}, false, {}},
      {"global a,", {"a"}, true, {{"Trailing comma not allowed", {8, 9}}}},
  };
  for (const NamesCase& c : cases) {
    SCOPED_TRACE(std::string(c.text));
    Fixture f(c.text);
    f.parser.bump(TokenKind::Global);
    auto list = f.parser.parse_comma_separated_list(RecoveryContextKind::Identifiers, TrailingComma::NotAllowed,
                                                    parse_identifier);
    EXPECT_EQ(names_of(list.elements), c.names);
    EXPECT_EQ(list.trailing_comma, c.trailing_comma);
    EXPECT_EQ(errors_of(f.parser), c.errors);
    EXPECT_TRUE(f.parser.at(TokenKind::Newline) || f.parser.at(TokenKind::Semi));
    EXPECT_TRUE(f.parser.recovery_context().is_empty());
  }
}

TEST(ParserLists, AllowedTrailingCommaIsReportedButNotAnError) {
  Fixture f("[a, b,]\n");
  f.parser.bump(TokenKind::Lsqb);
  auto list = f.parser.parse_comma_separated_list(RecoveryContextKind::ListElements, TrailingComma::Allowed,
                                                  parse_identifier);
  EXPECT_EQ(names_of(list.elements), (std::vector<std::string>{"a", "b"}));
  EXPECT_TRUE(list.trailing_comma);
  EXPECT_TRUE(f.parser.errors().empty());
  EXPECT_TRUE(f.parser.at(TokenKind::Rsqb));
}

TEST(ParserLists, ElementsReturnedByNothingAreNotCollected) {
  Fixture f("global a, b,\n");
  f.parser.bump(TokenKind::Global);
  std::vector<std::string> seen;
  bool trailing = f.parser.parse_comma_separated_list(
      RecoveryContextKind::Identifiers, TrailingComma::Allowed,
      [&](Parser& p) { seen.emplace_back(parse_identifier(p).as_str()); });
  EXPECT_TRUE(trailing);
  EXPECT_EQ(seen, (std::vector<std::string>{"a", "b"}));
}

TEST(ParserLists, ModuleStatements) {
  struct Case {
    std::string_view text;
    std::vector<TextRange> statements;
    std::vector<ShownError> errors;
  };
  const Case cases[] = {
      {"a\nb\n", {{0, 1}, {2, 3}}, {}},
      // An indented line is reported at its Indent, which is skipped; the
      // line still parses as a module statement. The Dedent that closes it
      // starts no statement either.
      {"a\n  b\nc\n", {{0, 1}, {4, 5}, {6, 7}}, {{"Unexpected indentation", {2, 4}}, {"Expected a statement", {6, 6}}}},
      // A stray `)` is reported and skipped; the rest of its line is one
      // statement of its own.
      {") x\ny\n", {{2, 3}, {4, 5}}, {{"Expected a statement", {0, 1}}}},
      {")\ny\n", {{2, 3}}, {{"Expected a statement", {0, 1}}, {"Expected a statement", {1, 2}}}},
      {"", {}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.text));
    Fixture f(c.text);
    std::span<TextRange> statements = f.parser.parse_list(RecoveryContextKind::ModuleStatements, parse_line);
    EXPECT_EQ(std::vector<TextRange>(statements.begin(), statements.end()), c.statements);
    EXPECT_EQ(errors_of(f.parser), c.errors);
    EXPECT_TRUE(f.parser.at(TokenKind::EndOfFile));
  }
}

TEST(ParserLists, BlockStatementsEndAtDedent) {
  Fixture f("if a:\n  b\n  c\nd\n");
  for (TokenKind kind : {TokenKind::If, TokenKind::Name, TokenKind::Colon, TokenKind::Newline, TokenKind::Indent}) {
    f.parser.bump(kind);
  }
  std::span<TextRange> body = f.parser.parse_list(RecoveryContextKind::BlockStatements, parse_line);
  EXPECT_EQ(std::vector<TextRange>(body.begin(), body.end()), (std::vector<TextRange>{{8, 9}, {12, 13}}));
  EXPECT_TRUE(f.parser.at(TokenKind::Dedent));
}

TEST(ParserLists, AnEnclosingListTakesOverItsRecoveryTerminator) {
  // def f(a,
  // def g(): ...
  // The parameter list stops at the `def` of the next line, and the newline
  // before it becomes a logical one again, ending the broken statement.
  Fixture f("def f(a,\ndef g\n");
  for (TokenKind kind : {TokenKind::Def, TokenKind::Name, TokenKind::Lpar}) f.parser.bump(kind);
  RecoveryContextSet outer = RecoveryContextSet::of(RecoveryContextKind::ModuleStatements);
  f.parser.set_recovery_context(outer);
  auto list = f.parser.parse_comma_separated_list(RecoveryContextKind::FunctionParameters, TrailingComma::Allowed,
                                                  parse_identifier);
  EXPECT_EQ(names_of(list.elements), (std::vector<std::string>{"a"}));
  EXPECT_TRUE(list.trailing_comma);
  EXPECT_TRUE(f.parser.errors().empty());
  EXPECT_EQ(f.parser.recovery_context(), outer);
  EXPECT_EQ(f.parser.current_token_kind(), TokenKind::Newline);
  EXPECT_EQ(f.parser.current_token_range(), TextRange(8, 9));
  f.parser.bump(TokenKind::Newline);
  EXPECT_EQ(f.parser.current_token_kind(), TokenKind::Def);
}

TEST(ParserLists, ATokenOnlyAnOuterListUsesStopsTheInnerListWithoutAnError) {
  // Inside `[`, a `)` belongs to the enclosing parenthesized tuple.
  Fixture f("([a, b)\n");
  f.parser.bump(TokenKind::Lpar);
  std::span<std::span<Identifier>> groups;
  auto outer = f.parser.parse_comma_separated_list(
      RecoveryContextKind::TupleElementsParenthesized, TrailingComma::Allowed, [](Parser& p) {
        p.bump(TokenKind::Lsqb);
        auto inner = p.parse_comma_separated_list(RecoveryContextKind::ListElements, TrailingComma::Allowed,
                                                  parse_identifier);
        p.expect(TokenKind::Rsqb);
        return inner.elements;
      });
  groups = outer.elements;
  ASSERT_EQ(groups.size(), 1u);
  EXPECT_EQ(names_of(groups[0]), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(errors_of(f.parser), (std::vector<ShownError>{{"Expected `]`, found `)`", {6, 7}}}));
  EXPECT_TRUE(f.parser.at(TokenKind::Rpar));
}

TEST(ParserLists, NestedListsKeepTheirOwnElements) {
  Fixture f("[(a, b), (c), (), (d, e, f)]\n");
  f.parser.bump(TokenKind::Lsqb);
  auto outer = f.parser.parse_comma_separated_list(
      RecoveryContextKind::ListElements, TrailingComma::Allowed, [](Parser& p) {
        p.bump(TokenKind::Lpar);
        auto inner = p.parse_comma_separated_list(RecoveryContextKind::TupleElementsParenthesized,
                                                  TrailingComma::Allowed, parse_identifier);
        p.expect(TokenKind::Rpar);
        return inner.elements;
      });
  ASSERT_EQ(outer.elements.size(), 4u);
  EXPECT_EQ(names_of(outer.elements[0]), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(names_of(outer.elements[1]), (std::vector<std::string>{"c"}));
  EXPECT_TRUE(outer.elements[2].empty());
  EXPECT_EQ(names_of(outer.elements[3]), (std::vector<std::string>{"d", "e", "f"}));
  EXPECT_TRUE(f.parser.errors().empty());
}

TEST(ParserLists, UnusableTokensAreReportedWithTheListsErrorAndSkipped) {
  struct Case {
    RecoveryContextKind kind;
    TokenKind open;
    std::string_view text;
    std::vector<ShownError> errors;
  };
  const Case cases[] = {
      {RecoveryContextKind::ListElements, TokenKind::Lsqb, "[;]", {{"Expected an expression or a ']'", {1, 2}}}},
      {RecoveryContextKind::SetElements, TokenKind::Lbrace, "{;}", {{"Expected an expression or a '}'", {1, 2}}}},
      // After a comma, a token that starts no element is a missing comma.
      {RecoveryContextKind::ListElements, TokenKind::Lsqb, "[a, ;]", {{"Expected `,`, found `;`", {4, 5}}}},
      {RecoveryContextKind::TupleElementsParenthesized, TokenKind::Lpar, "(, a)",
       {{"Expected an expression or a ')'", {1, 2}}}},
      {RecoveryContextKind::Arguments, TokenKind::Lpar, "(a . b)", {{"Expected `,`, found `.`", {3, 4}}}},
      {RecoveryContextKind::Slices, TokenKind::Lsqb, "[;]", {{"Expected an expression or the end of the slice list", {1, 2}}}},
      {RecoveryContextKind::ImportFromAsNamesParenthesized, TokenKind::Lpar, "(, a)",
       {{"Expected an import name or a ')'", {1, 2}}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.text));
    Fixture f(c.text);
    f.parser.bump(c.open);
    (void)f.parser.parse_comma_separated_list(c.kind, TrailingComma::Allowed, parse_identifier);
    EXPECT_EQ(errors_of(f.parser), c.errors);
    EXPECT_TRUE(f.parser.recovery_context().is_empty());
  }
}

TEST(ParserLists, ScratchListsMustBeFilledInnermostFirst) {
  Fixture f("x\n");
  auto outer = f.parser.scratch_list<int>();
  outer.push(1);
  {
    auto inner = f.parser.scratch_list<int>();
    inner.push(2);
    EXPECT_EQ(fatal_text([&] { outer.push(3); }), "ScratchList: pushed to a list that is not the innermost open list");
    std::span<int> done = inner.finish();
    ASSERT_EQ(done.size(), 1u);
    EXPECT_EQ(done[0], 2);
  }
  outer.push(3);
  {
    // A list dropped without finish frees its segment too.
    auto abandoned = f.parser.scratch_list<double>();
    abandoned.push(1.5);
  }
  outer.push(4);
  EXPECT_EQ(outer.size(), 3u);
  EXPECT_EQ(outer[2], 4);
  std::span<int> values = outer.finish();
  EXPECT_EQ(std::vector<int>(values.begin(), values.end()), (std::vector<int>{1, 3, 4}));
}

}  // namespace
}  // namespace python_parser
