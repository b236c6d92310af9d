#pragma once

// Lexer: turns a Python source text into tokens, one per call, on demand.
//
// Each call of `next_token` reads the next token, returns its kind, and leaves
// its range, flags and value in the lexer for the caller to read. The lexer
// never stops at bad input: every problem becomes a `LexicalError` appended to
// its error list, usually with a token of kind `Unknown`, and lexing goes on.
// It tracks Python's layout itself: indentation (Indent / Dedent), logical and
// non-logical line breaks (through the bracket nesting), line continuations,
// and the open f-strings and t-strings whose interpolations hold ordinary
// tokens between literal parts.
//
// Values are views. A String value is a view of the source between the
// quotes; a pure-ASCII name is a view of the source; a non-ASCII name is its
// NFKC form, a view of the source when the source is already in that form and
// a copy in the parse's Arena otherwise; an f-string or t-string literal part
// is a view of the source unless doubled braces were collapsed, in which case
// the collapsed text is collected into the Arena; an escape command's text is
// a view of the source unless a line continuation was dropped from it, in
// which case it is a copy in the Arena. Big integers keep their text in the
// Arena. Both the source and the Arena must outlive every value taken
// from the lexer. Apart from the error list, lexing a token allocates nothing
// on the heap except for rare cases (numbers with underscores and escape
// commands with line continuations use a reused scratch buffer; indentation
// deeper than the inline capacity of its stack).
//
// In Mode::Ipython a logical line that begins with "!", "!!", "%", "%%", "?",
// "??", ",", ";" or "/", and a "!" or "%" right after an "=" at bracket
// nesting 0, is one IpyEscapeCommand token holding the rest of the line (see
// lex_ipython_escape_command in lexer.cc for the body rules); "?" is the
// Question token there, and an unexpected character in every other mode.
//
// The source may hold any bytes: NUL bytes are ordinary characters (rejected
// as unexpected outside strings and comments), and a byte that is not
// well-formed UTF-8 reads as one U+FFFD (see cursor.h), which is an unexpected
// character outside strings and comments and passes through unchanged inside
// them.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "python_ast/arena.h"
#include "python_ast/int.h"
#include "python_ast/name.h"
#include "python_ast/nodes_common.h"
#include "python_ast/token.h"
#include "python_ast/token_kind.h"
#include "python_parser/cursor.h"
#include "python_parser/error.h"
#include "python_parser/mode.h"
#include "text_size/text_size.h"

namespace python_parser {

// Where the lexer stands in its logical line.
enum class LineState : std::uint8_t {
  // At the start of a logical line, its indentation not read yet: the state at
  // the start of the text and after every Newline token.
  LineStart = 0,
  // The indentation of a non-blank logical line has been read and no token of
  // the line has been produced yet.
  LineIndented = 1,
  // The last token was `=`.
  AfterAssign = 2,
  // Anywhere else inside a logical line.
  InLine = 3,
};

// The leading blanks of one line, counted twice: by column, where a tab
// advances to the next multiple of 2, and by character, where every blank
// counts 1. Two indentations are ordered only when both counts agree.
struct Indentation {
  std::uint32_t column = 0;
  std::uint32_t character = 0;

  bool operator==(const Indentation&) const = default;
};

// The result of comparing two indentations: an ordering, or `Inconsistent`
// when the column and the character counts order them differently (tabs and
// spaces mixed in a way that makes the comparison depend on the tab width).
enum class IndentationOrder : std::uint8_t { Less, Equal, Greater, Inconsistent };
IndentationOrder compare(Indentation a, Indentation b);

// A stack of trivially copyable values with room for N of them inline: the
// lexer's indentation and f-string stacks, which are copied whole by every
// checkpoint. Deeper stacks spill to the heap.
template <class T, std::uint32_t N>
class InlineStack {
  static_assert(std::is_trivially_copyable_v<T>);

 public:
  InlineStack() = default;
  InlineStack(const InlineStack& other) { assign(other); }
  InlineStack& operator=(const InlineStack& other) {
    if (this != &other) assign(other);
    return *this;
  }
  InlineStack(InlineStack&& other) noexcept { take(other); }
  InlineStack& operator=(InlineStack&& other) noexcept {
    if (this != &other) take(other);
    return *this;
  }
  ~InlineStack() = default;

  bool empty() const { return size_ == 0; }
  std::uint32_t size() const { return size_; }
  T& back() {
    tolva::check(size_ != 0, "back() of an empty lexer stack");
    return data()[size_ - 1];
  }
  const T& back() const {
    tolva::check(size_ != 0, "back() of an empty lexer stack");
    return data()[size_ - 1];
  }
  const T& operator[](std::uint32_t index) const {
    tolva::check(index < size_, "lexer stack index out of bounds");
    return data()[index];
  }
  void push(const T& value) {
    if (size_ == capacity()) grow();
    data()[size_++] = value;
  }
  // Removes the top; an empty stack stays empty.
  std::optional<T> pop() {
    if (size_ == 0) return std::nullopt;
    return data()[--size_];
  }

 private:
  T* data() { return heap_ ? heap_.get() : inline_; }
  const T* data() const { return heap_ ? heap_.get() : inline_; }
  std::uint32_t capacity() const { return heap_ ? heap_capacity_ : N; }
  void grow() {
    std::uint32_t capacity = this->capacity() * 2;
    auto bigger = std::make_unique<T[]>(capacity);
    std::memcpy(static_cast<void*>(bigger.get()), data(), sizeof(T) * size_);
    heap_ = std::move(bigger);
    heap_capacity_ = capacity;
  }
  void assign(const InlineStack& other) {
    if (other.size_ > capacity()) {
      heap_ = std::make_unique<T[]>(other.size_);
      heap_capacity_ = other.size_;
    }
    std::memcpy(static_cast<void*>(data()), other.data(), sizeof(T) * other.size_);
    size_ = other.size_;
  }
  void take(InlineStack& other) noexcept {
    if (other.heap_) {
      heap_ = std::move(other.heap_);
      heap_capacity_ = other.heap_capacity_;
    } else {
      heap_.reset();
      std::memcpy(static_cast<void*>(inline_), other.inline_, sizeof(T) * other.size_);
    }
    size_ = other.size_;
    other.size_ = 0;
    other.heap_capacity_ = 0;
  }

  T inline_[N] = {};
  std::unique_ptr<T[]> heap_;
  std::uint32_t heap_capacity_ = 0;
  std::uint32_t size_ = 0;
};

// The open indentation levels, innermost last. The root level {0, 0} is not
// stored: an empty stack has the root as its current level.
class Indentations {
 public:
  static constexpr Indentation kRoot{};

  // The innermost level, or the root.
  Indentation current() const { return levels_.empty() ? kRoot : levels_.back(); }
  void indent(Indentation indentation) { levels_.push(indentation); }
  // Removes the innermost level; nothing when only the root is left.
  std::optional<Indentation> dedent() { return levels_.pop(); }
  bool empty() const { return levels_.empty(); }
  std::uint32_t size() const { return levels_.size(); }

 private:
  InlineStack<Indentation, 16> levels_;
};

// One open f-string or t-string.
struct InterpolationFrame {
  // The lexer's bracket nesting when the string started.
  std::uint32_t nesting = 0;
  // How many format specifiers of this string are open (nested ones count).
  std::uint32_t format_spec_depth = 0;
  // The flags of the start token: f or t, the raw bit if any, the quotes.
  python_ast::TokenFlags flags;

  // Brackets opened since the string started: the current nesting minus the
  // string's own, never below 0.
  std::uint32_t open_count(std::uint32_t current_nesting) const {
    return current_nesting > nesting ? current_nesting - nesting : 0;
  }
  // Inside one of its interpolations ("{...}"), tokens are ordinary tokens.
  bool is_in_interpolation(std::uint32_t current_nesting) const {
    return open_count(current_nesting) > format_spec_depth;
  }
  // Inside a format specifier, and not in an interpolation nested in it.
  bool is_in_format_spec(std::uint32_t current_nesting) const {
    return format_spec_depth > 0 && !is_in_interpolation(current_nesting);
  }
  char quote_char() const { return flags.contains(python_ast::TokenFlags::kDoubleQuoted) ? '"' : '\''; }
  bool is_triple_quoted() const { return flags.is_triple_quoted(); }
  bool is_raw_string() const { return flags.is_raw_string(); }
  // f-string or t-string; fatal when the frame carries neither bit.
  InterpolatedStringKind kind() const;
};

// What a token value holds.
enum class TokenValueTag : std::uint8_t {
  None = 0,
  Name = 1,
  Int = 2,
  Float = 3,
  Complex = 4,
  String = 5,
  InterpolatedStringMiddle = 6,
  IpyEscapeCommand = 7,
};

// The value of the current token: a name, a number, the raw text of a string
// or of an f-string / t-string literal part, an IPython escape command's kind
// and text, or nothing. A plain, trivially
// copyable value; every text is a view (see the file comment for where the
// text lives). Reading a payload of another tag throws FatalError.
class TokenValue {
 public:
  struct Complex {
    double real = 0.0;
    double imag = 0.0;
  };
  struct IpyEscapeCommand {
    python_ast::IpyEscapeKind kind = python_ast::IpyEscapeKind::Exclamation;
    std::string_view text;
  };

  TokenValue() = default;
  static TokenValue name(python_ast::Name name);
  static TokenValue integer(python_ast::Int value);
  static TokenValue floating(double value);
  static TokenValue complex(double real, double imag);
  // The text between the quotes, escapes not processed.
  static TokenValue string(std::string_view text);
  // The text of a literal part, doubled braces collapsed.
  static TokenValue interpolated_string_middle(std::string_view text);
  // An escape command: its kind and its text (prefix and line continuations
  // removed; see Lexer). Texts are below 4 GiB, as every source is.
  static TokenValue ipy_escape_command(python_ast::IpyEscapeKind kind, std::string_view text);

  TokenValueTag tag() const { return tag_; }
  bool is_none() const { return tag_ == TokenValueTag::None; }
  // Back to None; the payload is dead once the tag says None.
  void clear() { tag_ = TokenValueTag::None; }

  python_ast::Name as_name() const;
  python_ast::Int as_int() const;
  double as_float() const;
  Complex as_complex() const;
  // The text of a String or an InterpolatedStringMiddle value.
  std::string_view as_text() const;
  IpyEscapeCommand as_ipy_escape_command() const;

 private:
  void expect(TokenValueTag tag) const;

  TokenValueTag tag_ = TokenValueTag::None;
  union Payload {
    Payload() : none{} {}
    struct {
    } none;
    python_ast::Name name;
    python_ast::Int integer;
    double floating;
    Complex complex;
    struct {
      const char* data;
      std::size_t size;
    } text;
    struct {
      const char* data;
      std::uint32_t size;
      python_ast::IpyEscapeKind kind;
    } ipy_escape_command;
  } payload_;
};

static_assert(std::is_trivially_copyable_v<TokenValue>);
static_assert(std::is_trivially_destructible_v<TokenValue>);

// Everything lexing changes, for speculative lexing: the token source's
// look-ahead and the parser's checkpoints take one and rewind to it.
struct LexerCheckpoint {
  TokenValue value;
  python_ast::TokenKind current_kind = python_ast::TokenKind::EndOfFile;
  text_size::TextRange current_range;
  python_ast::TokenFlags current_flags;
  text_size::TextOffset cursor_offset;
  LineState state = LineState::LineStart;
  std::uint32_t nesting = 0;
  Indentations indentations;
  std::optional<Indentation> pending_indentation;
  InlineStack<InterpolationFrame, 4> fstrings;
  // The number of errors found, and the last one's range and whether it is
  // a missing closing quote.
  std::size_t errors_position = 0;
  text_size::TextRange last_error_range;
  bool last_error_is_missing_quote = false;
};

class Lexer {
 public:
  // A lexer over `source`, positioned at `start_offset` (a character boundary
  // of the source). Texts longer than 4294967295 bytes are refused with a
  // FatalError ("Lexer only supports files with a size up to 4GB"). At offset
  // 0 a leading byte order mark is skipped (offsets keep counting it). Values
  // that need storage go into `arena`.
  Lexer(std::string_view source, Mode mode, text_size::TextOffset start_offset, python_ast::Arena& arena);

  Lexer(const Lexer&) = delete;
  Lexer& operator=(const Lexer&) = delete;
  // Movable: the values taken so far stay valid (they point into the source
  // and the arena, not into the lexer).
  Lexer(Lexer&&) = default;
  Lexer& operator=(Lexer&&) = default;

  // Reads the next token and returns its kind; afterwards current_kind(),
  // current_range(), current_flags() and the value describe it. After
  // EndOfFile, every further call gives EndOfFile again.
  python_ast::TokenKind next_token();

  python_ast::TokenKind current_kind() const { return current_kind_; }
  text_size::TextRange current_range() const { return current_range_; }
  python_ast::TokenFlags current_flags() const { return current_flags_; }
  // The value of the current token, left in place.
  const TokenValue& current_value() const { return current_value_; }
  // The value of the current token; TokenValue::None is left behind.
  TokenValue take_value() {
    TokenValue value = current_value_;
    current_value_.clear();
    return value;
  }

  // The errors found so far, in the order found; after
  // keep_first_error_only, the first of them only.
  const std::vector<LexicalError>& errors() const { return errors_; }
  // The number of errors found so far, the ones only counted included.
  std::size_t error_count() const { return error_count_; }
  // Keeps only the first error from here on: the others are counted (for
  // checkpoints) but not stored, for a parse that answers its first error
  // only (the errors already found stay).
  void keep_first_error_only() { first_error_only_ = true; }

  LexerCheckpoint checkpoint() const;
  // Restores every field saved by `checkpoint`, and drops the errors found
  // since it was taken.
  void rewind(const LexerCheckpoint& checkpoint);

  // Used by the parser when it recovers from an unclosed bracket: turns the
  // non-logical line break that starts at `non_logical_newline_start` back
  // into a logical Newline, which becomes the current token. Returns false
  // when it declines (the bracket nesting may have been lowered nonetheless).
  bool re_lex_logical_token(std::optional<text_size::TextOffset> non_logical_newline_start);

  // Used by the parser after "!" in an interpolation: an unclosed raw string
  // r'... (prefix "r" only, no b / f / t) becomes the Name "r" and lexing
  // resumes at its quote.
  void re_lex_raw_string_in_format_spec();

  // Used by the parser at the start and end of an interpolation: an unclosed
  // prefix-less string with the innermost f-string's (t-string's) quotes
  // followed only by blanks up to the end of the line is that string's
  // closing quote, and becomes its end token of `kind`.
  void re_lex_string_token_in_interpolation_element(InterpolatedStringKind kind);

  // The errors found, handing them over.
  std::vector<LexicalError> finish() &&;

 private:
  python_ast::TokenKind lex_token();
  void push_error(LexicalError error);
  // Drops the last error when it is the current token's missing closing
  // quote (the token is being re-lexed as something else).
  void drop_missing_quote_error_of_current_token();
  python_ast::TokenKind error_token(LexicalErrorType error, text_size::TextRange range);

  // Layout.
  std::optional<python_ast::TokenKind> handle_pending_indentation();
  std::optional<python_ast::TokenKind> eat_indentation();
  std::optional<python_ast::TokenKind> skip_whitespace();
  std::optional<python_ast::TokenKind> eat_line_continuation();
  python_ast::TokenKind handle_indentation(Indentation indentation);
  python_ast::TokenKind dedent_to_pending(Indentation pending);
  python_ast::TokenKind consume_end();
  python_ast::TokenKind lex_line_break();

  // Dispatch on the first character.
  python_ast::TokenKind lex_ascii(char c);
  python_ast::TokenKind lex_non_ascii(char32_t c);
  python_ast::TokenKind lex_close_brace();
  python_ast::TokenKind lex_colon();

  // Names, keywords, numbers.
  python_ast::TokenKind lex_identifier(char first);
  python_ast::TokenKind lex_non_ascii_identifier(const char* start);
  std::optional<python_ast::TokenKind> try_lex_string_prefix(char first);
  python_ast::TokenKind lex_number(char first);
  python_ast::TokenKind lex_number_radix(std::uint32_t radix);
  python_ast::TokenKind lex_decimal_number(char first);
  void radix_run(std::uint32_t radix);

  // IPython escape commands (Mode::Ipython).
  std::optional<python_ast::TokenKind> try_lex_ipython_escape_command(char prefix);
  python_ast::TokenKind lex_ipython_escape_command(python_ast::IpyEscapeKind kind);

  // Strings, comments, f-strings and t-strings.
  python_ast::TokenKind lex_string(char quote);
  python_ast::TokenKind lex_comment();
  python_ast::TokenKind lex_interpolated_string_start(char quote, python_ast::TokenFlags prefix);
  std::optional<python_ast::TokenKind> lex_interpolated_string_middle_or_end();
  void record_interpolated_string_error(const InterpolationFrame& frame, InterpolatedStringErrorType error,
                                        text_size::TextRange range);

  // The number under construction: a slice of the source until the first
  // dropped underscore, then the reused scratch buffer.
  struct LexedText {
    const char* start = nullptr;
    std::uint32_t length = 0;
    bool owned = false;
  };
  void lexed_push(char c);
  std::string_view lexed_text() const;

  std::string_view source_;
  Mode mode_;
  python_ast::Arena* arena_;
  Cursor cursor_;

  python_ast::TokenKind current_kind_ = python_ast::TokenKind::EndOfFile;
  text_size::TextRange current_range_;
  python_ast::TokenFlags current_flags_;
  TokenValue current_value_;

  LineState state_ = LineState::LineStart;
  std::uint32_t nesting_ = 0;
  Indentations indentations_;
  std::optional<Indentation> pending_indentation_;
  InlineStack<InterpolationFrame, 4> fstrings_;
  // The errors kept (all, or only the first), how many were found, and the
  // last one's range and whether it is a missing closing quote (the string
  // re-lexing hooks drop that one).
  std::vector<LexicalError> errors_;
  std::size_t error_count_ = 0;
  text_size::TextRange last_error_range_;
  bool last_error_is_missing_quote_ = false;
  bool first_error_only_ = false;

  LexedText lexed_;
  // Scratch text for numbers with underscores and for collapsed braces;
  // reused across tokens, so it allocates only when it grows.
  std::string scratch_;
};

}  // namespace python_parser
