#pragma once

// The parser core: token access, consuming tokens, the one error sink, node
// ranges, checkpoints, and the two list loops every grammar area runs.
//
// The grammar itself lives in free functions over this core, one header per
// area (expression.h, statement.h, ...). Each receives the Parser and
// advances it. The Parser sees only significant tokens; the token source
// records comments and non-logical newlines on the way.
//
// Conventions stated once:
// - A routine is "at" a kind when the current token is of that kind.
// - Every syntax error goes through add_error, which drops an error that
//   starts where the last recorded one starts. No call site repeats the rule.
// - A node's range runs from its first token's start to the end of the last
//   consumed token that counts (Newline, Dedent and `;` do not), and is empty
//   at that end when nothing was consumed since the node began: node_range.
// - A speculative reading (read ahead, then keep or rewind) opens a
//   SpeculativeReading for as long as it may rewind: a parse that reports
//   only its first error must know which recorded errors may still go.
// - All nodes, node lists and node texts go into arena(); nodes are trivially
//   destructible and freeing the parse is freeing the arena.
// - A broken invariant (a bump of the wrong kind, a loop that stops
//   consuming) throws tolva::FatalError with a fixed text; bad input never
//   does.

#include <compare>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <optional>
#include <span>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "python_ast/arena.h"
#include "python_ast/nodes_common.h"
#include "python_ast/token.h"
#include "python_ast/token_kind.h"
#include "python_parser/error.h"
#include "python_parser/lexer.h"
#include "python_parser/parser/progress.h"
#include "python_parser/parser/recovery.h"
#include "python_parser/target_version.h"
#include "python_parser/token_source.h"
#include "support/fatal_error.h"
#include "text_size/text_size.h"

namespace python_parser {

// A snapshot of the whole parser state for speculative parsing.
struct ParserCheckpoint {
  TokenSourceCheckpoint tokens;
  // The number of errors recorded, and where the last of them starts.
  std::size_t errors_position = 0;
  text_size::TextOffset last_error_start;
  std::size_t version_gated_errors_position = 0;
  std::uint32_t current_token_id = 0;
  text_size::TextOffset prev_token_end;
  RecoveryContextSet recovery_context;
  bool nesting_exceeded = false;
};

// Which errors a parse reports. Every: the whole merged list, with the tree
// and the tokens. FirstOnly: only the first error of the merged list, for a
// caller that answers the tree or that one error (the checked entries of
// parse.h); the parse stops as soon as that error is settled (see
// Parser::settle_first_error) and then hands over no tree and no tokens.
enum class ErrorReport : std::uint8_t { Every, FirstOnly };

// Whether a comma-separated list may end with a comma.
enum class TrailingComma : std::uint8_t { Allowed, NotAllowed };

// The elements of a comma-separated list and whether it ended with a comma.
template <class T>
struct CommaSeparatedList {
  std::span<T> elements;
  bool trailing_comma = false;
};

// Anything that carries a text range: a TextRange-returning `range()` member
// or a TextRange `range` field (every syntax node has one of the two).
template <class T>
concept HasRangeMethod = requires(const T& node) {
  { node.range() } -> std::convertible_to<text_size::TextRange>;
};
template <class T>
concept HasRangeField = requires(const T& node) {
  { node.range } -> std::convertible_to<text_size::TextRange>;
};

template <class T>
class ScratchList;
class DepthGuard;
class SpeculativeReading;

// What Parser::parse hands over: the root, allocated in the parser's arena,
// and the lists of the parse. A FirstOnly parse that stopped at its settled
// first error hands over that error alone: no root (nullptr), no tokens, no
// version-gated errors.
struct ParserOutput {
  const python_ast::Mod* syntax = nullptr;
  // Every token in source order, trivia included, the end of file excluded.
  python_ast::Tokens tokens;
  // The parser's and the lexer's errors, merged (merge_errors, parse.h).
  std::vector<ParseError> errors;
  std::vector<VersionGatedSyntaxError> version_gated_errors;
};

class Parser {
 public:
  // A parser over `source` in `mode`. Every node goes into `arena`; both must
  // outlive the nodes (the parse entry uses the source copy and the arena of
  // the tree it returns). The current token is the first significant token.
  Parser(std::string_view source, Mode mode, python_ast::Arena& arena,
         text_size::TextOffset start_offset = text_size::TextOffset(0),
         TargetVersion target_version = kDefaultTargetVersion);

  // Makes this parse report only its first error (ErrorReport::FirstOnly);
  // called before parse(). Only the first error of each list is kept from
  // then on: the others are counted, and a speculative reading that runs
  // over junk holds no memory for its errors.
  void report_first_error_only();

  Parser(const Parser&) = delete;
  Parser& operator=(const Parser&) = delete;

  // Runs the whole parse in the parser's mode and hands over the root (in
  // the arena), the token list and the merged errors. In
  // Mode::Module and Mode::Ipython the root is a ModModule of the whole
  // text; in the expression modes a ModExpression.
  ParserOutput parse() &&;

  // ---- Looking at tokens (no side effects) ----

  python_ast::TokenKind current_token_kind() const { return tokens_.current_kind(); }
  text_size::TextRange current_token_range() const { return tokens_.current_range(); }
  python_ast::TokenFlags current_token_flags() const { return tokens_.current_flags(); }
  bool at(python_ast::TokenKind kind) const { return current_token_kind() == kind; }
  bool at_set(const TokenSet& set) const { return set.contains(current_token_kind()); }
  // The start of the current token: where a node that begins here starts.
  text_size::TextOffset node_start() const { return current_token_range().start(); }

  // The kinds of the next one or two significant tokens after the current one.
  python_ast::TokenKind peek() { return tokens_.peek(); }
  std::pair<python_ast::TokenKind, python_ast::TokenKind> peek2() { return tokens_.peek2(); }

  // The part of the source that `range` covers. A range past the end of the
  // text is fatal.
  std::string_view src_text(text_size::TextRange range) const;
  template <class Node>
    requires HasRangeMethod<Node> || HasRangeField<Node>
  std::string_view src_text(const Node& node) const {
    return src_text(range_of(node));
  }
  template <class Node>
    requires HasRangeMethod<Node> || HasRangeField<Node>
  std::string_view src_text(const Node* node) const {
    tolva::check(node != nullptr, "Parser::src_text: no node");
    return src_text(range_of(*node));
  }
  std::string_view source() const { return source_; }

  // ---- Consuming tokens ----

  // Consumes the current token, which must be of `kind` (fatal otherwise).
  void bump(python_ast::TokenKind kind) {
    if (current_token_kind() != kind) [[unlikely]] bump_mismatch(kind);
    do_bump();
  }
  // Consumes the current token, whatever it is except the end of file.
  void bump_any() {
    if (current_token_kind() == python_ast::TokenKind::EndOfFile) [[unlikely]] bump_any_at_end();
    do_bump();
  }
  // Consumes the current token, which must be of `kind`, and returns the
  // value the lexer attached to it (a name, number or string body).
  TokenValue bump_value(python_ast::TokenKind kind) {
    if (current_token_kind() != kind) [[unlikely]] bump_mismatch(kind);
    TokenValue value = tokens_.take_value();
    do_bump();
    return value;
  }
  // Consumes the current token if it is of `kind`; says whether it did.
  bool eat(python_ast::TokenKind kind) {
    if (current_token_kind() != kind) return false;
    do_bump();
    return true;
  }
  // Consumes the current token if it is of `kind` and returns true;
  // otherwise records "Expected {kind}, found {current}" at the current
  // token, consumes nothing and returns false.
  bool expect(python_ast::TokenKind kind) {
    if (eat(kind)) return true;
    add_expected_token_error(kind);
    return false;
  }
  // The error of a failed expect, out of line.
  void add_expected_token_error(python_ast::TokenKind kind);

  // ---- Errors and ranges ----

  // Records a syntax error, unless the last recorded error starts at the
  // same offset (the new one is then dropped). After the nesting limit has
  // been reached (depth_guard.h), nothing more is recorded: the rest of the
  // file was skipped and any later error would be an artefact of that.
  void add_error(ParseErrorType error, text_size::TextRange range);
  // An error of kind Other with `text`, built inside the call.
  void add_other_error(std::string_view text, text_size::TextRange range);
  // The same for a kind without payload. The error value is built inside
  // the call rather than in the caller's frame: the recursive parse
  // functions report errors, and their frames are what bounds how deep a
  // small stack can nest.
  void add_error(ParseErrorType::Kind kind, text_size::TextRange range);
  // At a node's range; `error` is a ParseErrorType or a payload-free kind.
  template <class Error, class Node>
    requires HasRangeMethod<Node> || HasRangeField<Node>
  void add_error(Error&& error, const Node& node) {
    add_error(std::forward<Error>(error), range_of(node));
  }
  template <class Error, class Node>
    requires HasRangeMethod<Node> || HasRangeField<Node>
  void add_error(Error&& error, const Node* node) {
    tolva::check(node != nullptr, "Parser::add_error: no node");
    add_error(std::forward<Error>(error), range_of(*node));
  }
  // The errors recorded; in a FirstOnly parse, only the first of them.
  const std::vector<ParseError>& errors() const { return errors_; }

  // Records `kind` (with `sub_kind`) at `range` when the target version is
  // older than `minimum`, the first version that accepts the syntax.
  void add_version_gated_error(std::uint8_t kind, std::uint8_t sub_kind, text_size::TextRange range,
                               TargetVersion minimum);
  const std::vector<VersionGatedSyntaxError>& version_gated_errors() const { return version_gated_errors_; }

  // The range of a node that began at `start` and ends with the last
  // consumed token; empty at that token's end when nothing was consumed
  // since `start`.
  text_size::TextRange node_range(text_size::TextOffset start) const {
    text_size::TextOffset end = prev_token_end_;
    return text_size::TextRange(start < end ? start : end, end);
  }
  // The end of the last consumed token that counts for node ranges.
  text_size::TextOffset prev_token_end() const { return prev_token_end_; }

  // ---- Speculative parsing ----

  // Grammar code reads speculatively through a SpeculativeReading (below),
  // which takes the checkpoint and tells the parser that errors recorded
  // from there on may still be dropped.
  ParserCheckpoint checkpoint() const;
  // Restores the state of `checkpoint`: the lexer and the current token, the
  // token list, the errors, the counters and the open list kinds.
  void rewind(const ParserCheckpoint& checkpoint);

  // ---- State ----

  python_ast::Arena& arena() { return arena_; }
  Mode mode() const { return mode_; }
  TargetVersion target_version() const { return target_version_; }
  text_size::TextOffset start_offset() const { return start_offset_; }
  // The number of significant tokens consumed so far.
  std::uint32_t current_token_id() const { return current_token_id_; }
  // The list kinds currently open. Grammar code that runs a list inline adds
  // its kind for the list's duration and restores the previous set.
  RecoveryContextSet recovery_context() const { return recovery_context_; }
  void set_recovery_context(RecoveryContextSet context) { recovery_context_ = context; }
  // The token source, for its re-lexing hooks and the token list.
  TokenSource& token_source() { return tokens_; }
  const TokenSource& token_source() const { return tokens_; }

  // Whether the nesting limit was reached (depth_guard.h).
  bool nesting_exceeded() const { return nesting_exceeded_; }

  // ---- Lists ----

  // Whether any open list could use the current token (it starts one of
  // their elements or ends one of them, regularly or as a recovery point).
  bool is_enclosing_list_element_or_terminator() const {
    return python_parser::is_enclosing_list_element_or_terminator(current_token_kind(), recovery_context_);
  }

  // The list loop for list kind `kind`. `element` is called with the parser
  // at each token that starts an element, and must consume at least one
  // token. When it returns a value (a node, trivially copyable), the values
  // are collected and returned as an arena span; when it returns nothing,
  // nothing is collected.
  //
  // At a token that neither starts an element nor ends the list: when an
  // enclosing list can use it, the list stops (after asking the token source
  // to re-lex the last non-logical newline as a logical one); otherwise the
  // list's error is recorded there and the token skipped.
  template <class Element>
  auto parse_list(RecoveryContextKind kind, Element&& element);

  // The comma-separated list loop for `kind`; `element` as for parse_list.
  // Returns the elements (when `element` returns values) and whether the list
  // ended with a comma; with TrailingComma::NotAllowed such a comma records
  // "Trailing comma not allowed" at it. A missing comma between two elements
  // records the expected-comma error; a comma with no element before it
  // records the list's error.
  template <class Element>
  auto parse_comma_separated_list(RecoveryContextKind kind, TrailingComma trailing_comma, Element&& element);

  // The elements of a list under construction, kept on a scratch stack that
  // the parser reuses (no heap allocation in the steady state). Lists nest;
  // a ScratchList must be the most recently opened one still open whenever
  // it is pushed to (two lists filled in turn must be one list of pairs or
  // of a tagged element). See ScratchList below.
  template <class T>
  ScratchList<T> scratch_list();

 private:
  template <class T>
  friend class ScratchList;
  friend class DepthGuard;
  friend class SpeculativeReading;

  // Thrown by settle_first_error once the first error is settled, caught by
  // parse(); it never leaves the parser.
  struct FirstErrorSettled {};

  template <class Node>
  static text_size::TextRange range_of(const Node& node) {
    if constexpr (HasRangeMethod<Node>) {
      return node.range();
    } else {
      return node.range;
    }
  }

  void do_bump() {
    if (watch_first_error_) [[unlikely]] settle_first_error();
    python_ast::TokenKind kind = current_token_kind();
    if (kind != python_ast::TokenKind::Newline && kind != python_ast::TokenKind::Dedent &&
        kind != python_ast::TokenKind::Semi) {
      prev_token_end_ = current_token_range().end();
    }
    tokens_.bump(kind);
    ++current_token_id_;
  }
  [[noreturn]] void bump_mismatch(python_ast::TokenKind expected) const;
  [[noreturn]] void bump_any_at_end() const;

  // One step of a list at a token that does not start an element: true when
  // the token was reported and skipped, false when the list ends here.
  bool recover_in_list(RecoveryContextKind kind);
  // The same for a comma-separated list, after the element test failed;
  // `first_element` and the remembered trailing comma as in the loop.
  enum class CommaListStep : std::uint8_t { Continue, Stop };
  CommaListStep recover_in_comma_separated_list(RecoveryContextKind kind, bool first_element,
                                                std::optional<text_size::TextRange>& trailing_comma);
  void report_trailing_comma(std::optional<text_size::TextRange> trailing_comma, TrailingComma policy);

  // The grammar of the whole parse, in the parser's mode: the root.
  const python_ast::Mod* parse_root();

  // Called by DepthGuard when the limit is crossed: records the error once
  // and skips to the end of the file.
  void nesting_too_deep();

  // Counts an error at `range` under the rules of add_error; true when it
  // must also be stored. A FirstOnly parse stores its first error only, so
  // a caller builds the error value (texts are heap strings) only then.
  bool count_error(text_size::TextRange range);

  // In a FirstOnly parse with a parser error recorded, called as each token
  // is consumed: when no later step of the parse can change the first error
  // of the merged list, keeps it in settled_error_ and throws
  // FirstErrorSettled.
  void settle_first_error();

  python_ast::Arena& arena_;
  TokenSource tokens_;
  // The errors recorded (in a FirstOnly parse, the first one only: the
  // answer needs no other, and the de-duplication rule only where the last
  // one starts), how many there are and where the last one starts.
  std::vector<ParseError> errors_;
  std::size_t error_count_ = 0;
  text_size::TextOffset last_error_start_;
  std::vector<VersionGatedSyntaxError> version_gated_errors_;
  std::string_view source_;
  std::uint32_t current_token_id_ = 0;
  text_size::TextOffset prev_token_end_;
  RecoveryContextSet recovery_context_;
  text_size::TextOffset start_offset_;
  Mode mode_;
  TargetVersion target_version_;

  // The scratch stack of ScratchList: element bytes, most recent list on top.
  std::vector<unsigned char> scratch_;

  // Nesting (depth_guard.h): the guarded entries currently open, the lowest
  // stack address the parse may reach, and whether the limit was reached.
  std::uint32_t depth_ = 0;
  std::uintptr_t stack_floor_ = 0;
  bool nesting_exceeded_ = false;

  // FirstOnly parses: whether a parser error is recorded (do_bump then asks
  // settle_first_error), the open speculative readings and the sizes of the
  // parser's and the lexer's error lists when the outermost one opened (the
  // errors before them survive any rewind), and the settled error.
  ErrorReport report_ = ErrorReport::Every;
  bool watch_first_error_ = false;
  std::uint32_t speculations_ = 0;
  std::size_t speculation_errors_position_ = 0;
  std::size_t speculation_lexical_errors_position_ = 0;
  std::optional<ParseError> settled_error_;
};

// A speculative reading: takes a checkpoint when it opens and lets the
// grammar rewind to it, for as long as it lives. While one is open, the
// errors recorded since the outermost one opened may still be dropped, so a
// FirstOnly parse does not treat them as settled. Readings nest (they live
// on the stack).
//
// A rewind also gives the arena back everything allocated since the reading
// opened: the grammar keeps nothing that a rewound reading built (its nodes
// and lists, the token values lexed on the way), so a reading that is read
// again holds its memory once.
class SpeculativeReading {
 public:
  explicit SpeculativeReading(Parser& parser)
      : parser_(parser), checkpoint_(parser.checkpoint()), arena_mark_(parser.arena().mark()) {
    if (parser_.speculations_++ == 0) {
      parser_.speculation_errors_position_ = checkpoint_.errors_position;
      parser_.speculation_lexical_errors_position_ = checkpoint_.tokens.lexer.errors_position;
    }
  }
  SpeculativeReading(const SpeculativeReading&) = delete;
  SpeculativeReading& operator=(const SpeculativeReading&) = delete;
  ~SpeculativeReading() { --parser_.speculations_; }

  // Puts the parser back where the reading opened (Parser::rewind), and
  // releases the arena to where it stood then. Nothing the reading built
  // may be used afterwards.
  void rewind() {
    parser_.rewind(checkpoint_);
    parser_.arena().release_to(arena_mark_);
  }

 private:
  Parser& parser_;
  ParserCheckpoint checkpoint_;
  python_ast::Arena::Mark arena_mark_;
};

// The elements of one list under construction, on the parser's scratch
// stack. `push` appends; `finish` copies the elements into the arena and
// frees their stack segment; the destructor frees it too when `finish` was
// not called. Elements are copied bytewise, so T must be trivially copyable.
// Pushing to a list that is not on top of the stack (another list opened
// after it is still open) is a broken invariant. Parser::rewind does not
// touch scratch lists: a speculative reading opens and finishes its own.
template <class T>
class ScratchList {
  static_assert(std::is_trivially_copyable_v<T>, "list elements are copied bytewise");
  static_assert(std::is_trivially_destructible_v<T>, "list elements end up in the arena");

 public:
  explicit ScratchList(Parser& parser) : parser_(&parser), base_(parser.scratch_.size()) {}
  ScratchList(const ScratchList&) = delete;
  ScratchList& operator=(const ScratchList&) = delete;
  ~ScratchList() {
    if (parser_ != nullptr && parser_->scratch_.size() > base_) parser_->scratch_.resize(base_);
  }

  void push(const T& value) {
    std::vector<unsigned char>& stack = parser_->scratch_;
    std::size_t top = base_ + count_ * sizeof(T);
    if (stack.size() != top) [[unlikely]] {
      tolva::fatal("ScratchList: pushed to a list that is not the innermost open list");
    }
    stack.resize(top + sizeof(T));
    std::memcpy(stack.data() + top, &value, sizeof(T));
    ++count_;
  }

  std::size_t size() const { return count_; }
  bool empty() const { return count_ == 0; }
  // The element at `index`, read back from the stack.
  T operator[](std::size_t index) const {
    tolva::check(index < count_, "ScratchList: index out of bounds");
    T value;
    std::memcpy(&value, parser_->scratch_.data() + base_ + index * sizeof(T), sizeof(T));
    return value;
  }

  // The elements, moved into the arena; the list is empty afterwards.
  std::span<T> finish() {
    std::vector<unsigned char>& stack = parser_->scratch_;
    if (stack.size() != base_ + count_ * sizeof(T)) [[unlikely]] {
      tolva::fatal("ScratchList: finished a list that is not the innermost open list");
    }
    std::span<T> result;
    if (count_ != 0) {
      void* memory = parser_->arena_.allocate(sizeof(T) * count_, alignof(T));
      std::memcpy(memory, stack.data() + base_, sizeof(T) * count_);
      result = std::span<T>(static_cast<T*>(memory), count_);
    }
    stack.resize(base_);
    count_ = 0;
    return result;
  }

 private:
  Parser* parser_;
  std::size_t base_;
  std::size_t count_ = 0;
};

template <class T>
ScratchList<T> Parser::scratch_list() {
  return ScratchList<T>(*this);
}

template <class Element>
auto Parser::parse_list(RecoveryContextKind kind, Element&& element) {
  using Value = std::invoke_result_t<Element&, Parser&>;
  RecoveryContextSet saved = recovery_context_;
  recovery_context_.insert(kind);

  auto run = [&](auto&& on_element) {
    ProgressGuard progress;
    for (;;) {
      progress.check(*this);
      if (is_list_element(kind, current_token_kind())) {
        on_element();
        continue;
      }
      if (!recover_in_list(kind)) break;
    }
    recovery_context_ = saved;
  };

  if constexpr (std::is_void_v<Value>) {
    run([&] { std::invoke(element, *this); });
  } else {
    ScratchList<Value> list(*this);
    run([&] { list.push(std::invoke(element, *this)); });
    return list.finish();
  }
}

template <class Element>
auto Parser::parse_comma_separated_list(RecoveryContextKind kind, TrailingComma trailing_comma_policy,
                                        Element&& element) {
  using Value = std::invoke_result_t<Element&, Parser&>;
  RecoveryContextSet saved = recovery_context_;
  recovery_context_.insert(kind);

  auto run = [&](auto&& on_element) {
    bool first_element = true;
    std::optional<text_size::TextRange> trailing_comma;
    ProgressGuard progress;
    for (;;) {
      progress.check(*this);
      if (is_list_element(kind, current_token_kind())) {
        on_element();
        first_element = false;
        if (at(python_ast::TokenKind::Comma)) {
          trailing_comma = current_token_range();
          do_bump();
          continue;
        }
        trailing_comma.reset();
      }
      if (recover_in_comma_separated_list(kind, first_element, trailing_comma) == CommaListStep::Stop) break;
    }
    recovery_context_ = saved;
    report_trailing_comma(trailing_comma, trailing_comma_policy);
    return trailing_comma.has_value();
  };

  if constexpr (std::is_void_v<Value>) {
    return run([&] { std::invoke(element, *this); });
  } else {
    ScratchList<Value> list(*this);
    bool trailing = run([&] { list.push(std::invoke(element, *this)); });
    return CommaSeparatedList<Value>{list.finish(), trailing};
  }
}

inline void ProgressGuard::check(const Parser& parser) {
  std::uint32_t id = parser.current_token_id();
  if (started_ && id == previous_token_id_) [[unlikely]] stuck(parser);
  previous_token_id_ = id;
  started_ = true;
}

}  // namespace python_parser
