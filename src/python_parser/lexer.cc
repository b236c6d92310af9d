#include "python_parser/lexer.h"

#include <unicode/bytestream.h>
#include <unicode/normalizer2.h>
#include <unicode/stringpiece.h>
#include <unicode/uchar.h>

#include <array>
#include <charconv>
#include <limits>
#include <system_error>

#include "support/fatal_error.h"
#include "support/utf8_pieces.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace python_parser {

using python_ast::Int;
using python_ast::TokenFlags;
using python_ast::TokenKind;
using text_size::TextOffset;
using text_size::TextRange;

// ---- Byte searches ----
//
// Contract: each returns the first position in [p, end) that holds one of the
// given bytes, or `end`. They only ever look for ASCII bytes, so a position
// they return is always a character boundary. SSE2 compares 16 bytes at a time;
// the plain loop finishes the tail (and is the whole search without SSE2).

namespace {

const char* find_byte(const char* p, const char* end, char a) {
  const void* found = std::memchr(p, a, static_cast<std::size_t>(end - p));
  return found != nullptr ? static_cast<const char*>(found) : end;
}

const char* find_any2(const char* p, const char* end, char a, char b) {
#if defined(__SSE2__)
  const __m128i va = _mm_set1_epi8(a);
  const __m128i vb = _mm_set1_epi8(b);
  while (end - p >= 16) {
    const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const int mask = _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(chunk, va), _mm_cmpeq_epi8(chunk, vb)));
    if (mask != 0) return p + __builtin_ctz(static_cast<unsigned>(mask));
    p += 16;
  }
#endif
  for (; p < end; ++p) {
    if (*p == a || *p == b) return p;
  }
  return end;
}

const char* find_any3(const char* p, const char* end, char a, char b, char c) {
#if defined(__SSE2__)
  const __m128i va = _mm_set1_epi8(a);
  const __m128i vb = _mm_set1_epi8(b);
  const __m128i vc = _mm_set1_epi8(c);
  while (end - p >= 16) {
    const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i hits = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(chunk, va), _mm_cmpeq_epi8(chunk, vb)),
                                      _mm_cmpeq_epi8(chunk, vc));
    const int mask = _mm_movemask_epi8(hits);
    if (mask != 0) return p + __builtin_ctz(static_cast<unsigned>(mask));
    p += 16;
  }
#endif
  for (; p < end; ++p) {
    if (*p == a || *p == b || *p == c) return p;
  }
  return end;
}

// The number of backslashes directly before `p`, not looking before `floor`.
std::size_t backslashes_before(const char* floor, const char* p) {
  std::size_t count = 0;
  while (p > floor && p[-1] == '\\') {
    --p;
    ++count;
  }
  return count;
}

// ---- Character classes ----

constexpr std::array<bool, 256> make_ascii_identifier_table() {
  std::array<bool, 256> table{};
  for (int c = 'a'; c <= 'z'; ++c) table[c] = true;
  for (int c = 'A'; c <= 'Z'; ++c) table[c] = true;
  for (int c = '0'; c <= '9'; ++c) table[c] = true;
  table['_'] = true;
  return table;
}
constexpr std::array<bool, 256> kAsciiIdentifier = make_ascii_identifier_table();

bool is_ascii_identifier_byte(char c) { return kAsciiIdentifier[static_cast<unsigned char>(c)]; }

// Space, tab, form feed and backslash: what skipping blanks looks at.
constexpr std::array<bool, 256> make_blank_or_backslash_table() {
  std::array<bool, 256> table{};
  table[' '] = table['\t'] = table['\f'] = table['\\'] = true;
  return table;
}
constexpr std::array<bool, 256> kBlankOrBackslash = make_blank_or_backslash_table();

// The end of the run of ASCII identifier bytes (letters, digits, "_") that
// starts at `p`. With SSE2, 16 bytes are classified at once, so the run's
// length costs no per-byte branch; bytes >= 0x80 are negative as signed
// bytes and never match. The plain loop handles the last bytes of the text.
const char* ascii_identifier_end(const char* p, const char* end) {
#if defined(__SSE2__)
  const __m128i case_bit = _mm_set1_epi8(0x20);
  const __m128i before_a = _mm_set1_epi8('a' - 1);
  const __m128i after_z = _mm_set1_epi8('z' + 1);
  const __m128i before_0 = _mm_set1_epi8('0' - 1);
  const __m128i after_9 = _mm_set1_epi8('9' + 1);
  const __m128i underscore = _mm_set1_epi8('_');
  while (end - p >= 16) {
    const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i lower = _mm_or_si128(chunk, case_bit);
    const __m128i letter = _mm_and_si128(_mm_cmpgt_epi8(lower, before_a), _mm_cmpgt_epi8(after_z, lower));
    const __m128i digit = _mm_and_si128(_mm_cmpgt_epi8(chunk, before_0), _mm_cmpgt_epi8(after_9, chunk));
    const __m128i identifier = _mm_or_si128(_mm_or_si128(letter, digit), _mm_cmpeq_epi8(chunk, underscore));
    const unsigned stops = ~static_cast<unsigned>(_mm_movemask_epi8(identifier)) & 0xFFFFu;
    if (stops != 0) return p + __builtin_ctz(stops);
    p += 16;
  }
#endif
  while (p < end && is_ascii_identifier_byte(*p)) ++p;
  return p;
}

// The end of the run of spaces that starts at `p`.
const char* spaces_end(const char* p, const char* end) {
#if defined(__SSE2__)
  const __m128i space = _mm_set1_epi8(' ');
  while (end - p >= 16) {
    const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const unsigned stops = ~static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(chunk, space))) & 0xFFFFu;
    if (stops != 0) return p + __builtin_ctz(stops);
    p += 16;
  }
#endif
  while (p < end && *p == ' ') ++p;
  return p;
}

bool is_xid_start(char32_t c) { return u_hasBinaryProperty(static_cast<UChar32>(c), UCHAR_XID_START) != 0; }
bool is_xid_continue(char32_t c) {
  return u_hasBinaryProperty(static_cast<UChar32>(c), UCHAR_XID_CONTINUE) != 0;
}

bool is_digit_of(char c, std::uint32_t radix) {
  switch (radix) {
    case 2:
      return c == '0' || c == '1';
    case 8:
      return c >= '0' && c <= '7';
    case 10:
      return c >= '0' && c <= '9';
    default:
      return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
  }
}

bool is_decimal(char32_t c) { return c >= '0' && c <= '9'; }

// The NFKC normaliser, owned by ICU and safe to share between threads.
const icu::Normalizer2& nfkc() {
  static const icu::Normalizer2* const instance = [] {
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* normalizer = icu::Normalizer2::getNFKCInstance(status);
    if (U_FAILURE(status) || normalizer == nullptr) tolva::fatal("the NFKC normaliser of ICU is unavailable");
    return normalizer;
  }();
  return *instance;
}

// A ByteSink appending to a std::string, so that normalising reuses the
// lexer's scratch buffer.
class StringSink final : public icu::ByteSink {
 public:
  explicit StringSink(std::string& out) : out_(out) {}
  void Append(const char* bytes, int32_t n) override { out_.append(bytes, static_cast<std::size_t>(n)); }

 private:
  std::string& out_;
};

// ---- Floats ----

// The value of a decimal float text that std::from_chars found out of range:
// infinity when its magnitude is above the largest double, 0.0 when it is
// below the smallest subnormal. Out of range happens only at those two
// extremes, so the sign of the decimal exponent of the first significant digit
// decides. `text` is digits, an optional "." and digits, an optional exponent.
double out_of_range_value(std::string_view text) {
  std::size_t i = 0;
  std::int64_t magnitude = 0;
  bool found = false;
  std::int64_t integer_digits = 0;
  for (; i < text.size() && is_decimal(static_cast<unsigned char>(text[i])); ++i) ++integer_digits;
  for (std::size_t j = 0; j < static_cast<std::size_t>(integer_digits); ++j) {
    if (text[j] != '0') {
      magnitude = integer_digits - static_cast<std::int64_t>(j) - 1;
      found = true;
      break;
    }
  }
  if (i < text.size() && text[i] == '.') {
    ++i;
    std::int64_t position = 0;
    for (; i < text.size() && is_decimal(static_cast<unsigned char>(text[i])); ++i) {
      ++position;
      if (!found && text[i] != '0') {
        magnitude = -position;
        found = true;
      }
    }
  }
  if (!found) return 0.0;
  std::int64_t exponent = 0;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    for (; i < text.size() && is_decimal(static_cast<unsigned char>(text[i])); ++i) {
      if (exponent < 1'000'000'000) exponent = exponent * 10 + (text[i] - '0');
    }
    if (negative) exponent = -exponent;
  }
  return magnitude + exponent > 0 ? std::numeric_limits<double>::infinity() : 0.0;
}

// Converts a decimal float text (underscores already dropped) the way
// Python's float() does, correctly rounded; false when it is not a float text.
bool parse_float(std::string_view text, double& value) {
  const char* first = text.data();
  const char* last = text.data() + text.size();
  double parsed = 0.0;
  auto [ptr, ec] = std::from_chars(first, last, parsed, std::chars_format::general);
  if (ptr != last) return false;
  if (ec == std::errc::result_out_of_range) {
    value = out_of_range_value(text);
    return true;
  }
  if (ec != std::errc()) return false;
  value = parsed;
  return true;
}

}  // namespace

// ---- Small types ----

IndentationOrder compare(Indentation a, Indentation b) {
  auto order = [](std::uint32_t x, std::uint32_t y) {
    return x < y ? IndentationOrder::Less : x == y ? IndentationOrder::Equal : IndentationOrder::Greater;
  };
  IndentationOrder by_column = order(a.column, b.column);
  IndentationOrder by_character = order(a.character, b.character);
  return by_column == by_character ? by_column : IndentationOrder::Inconsistent;
}

InterpolatedStringKind InterpolationFrame::kind() const {
  if (flags.contains(TokenFlags::kPrefixF)) return InterpolatedStringKind::FString;
  if (flags.contains(TokenFlags::kPrefixT)) return InterpolatedStringKind::TString;
  tolva::fatal(
      "internal error: entered unreachable code: Can only be constructed when f-string or t-string flag is present");
}

TokenValue TokenValue::name(python_ast::Name name) {
  TokenValue value;
  value.tag_ = TokenValueTag::Name;
  ::new (&value.payload_.name) python_ast::Name(name);
  return value;
}

TokenValue TokenValue::integer(Int integer) {
  TokenValue value;
  value.tag_ = TokenValueTag::Int;
  ::new (&value.payload_.integer) Int(integer);
  return value;
}

TokenValue TokenValue::floating(double number) {
  TokenValue value;
  value.tag_ = TokenValueTag::Float;
  value.payload_.floating = number;
  return value;
}

TokenValue TokenValue::complex(double real, double imag) {
  TokenValue value;
  value.tag_ = TokenValueTag::Complex;
  value.payload_.complex = Complex{real, imag};
  return value;
}

TokenValue TokenValue::string(std::string_view text) {
  TokenValue value;
  value.tag_ = TokenValueTag::String;
  value.payload_.text = {text.data(), text.size()};
  return value;
}

TokenValue TokenValue::interpolated_string_middle(std::string_view text) {
  TokenValue value;
  value.tag_ = TokenValueTag::InterpolatedStringMiddle;
  value.payload_.text = {text.data(), text.size()};
  return value;
}

TokenValue TokenValue::ipy_escape_command(python_ast::IpyEscapeKind kind, std::string_view text) {
  TokenValue value;
  value.tag_ = TokenValueTag::IpyEscapeCommand;
  value.payload_.ipy_escape_command = {text.data(), static_cast<std::uint32_t>(text.size()), kind};
  return value;
}

void TokenValue::expect(TokenValueTag tag) const {
  if (tag_ != tag) [[unlikely]] tolva::fatal("a token value was read as a kind it does not hold");
}

python_ast::Name TokenValue::as_name() const {
  expect(TokenValueTag::Name);
  return payload_.name;
}

Int TokenValue::as_int() const {
  expect(TokenValueTag::Int);
  return payload_.integer;
}

double TokenValue::as_float() const {
  expect(TokenValueTag::Float);
  return payload_.floating;
}

TokenValue::Complex TokenValue::as_complex() const {
  expect(TokenValueTag::Complex);
  return payload_.complex;
}

std::string_view TokenValue::as_text() const {
  if (tag_ != TokenValueTag::String && tag_ != TokenValueTag::InterpolatedStringMiddle) [[unlikely]] {
    tolva::fatal("a token value was read as a kind it does not hold");
  }
  return {payload_.text.data, payload_.text.size};
}

TokenValue::IpyEscapeCommand TokenValue::as_ipy_escape_command() const {
  expect(TokenValueTag::IpyEscapeCommand);
  return {payload_.ipy_escape_command.kind,
          std::string_view(payload_.ipy_escape_command.data, payload_.ipy_escape_command.size)};
}

// ---- Construction, checkpoints, hand-over ----

namespace {

// Whether `offset` is a place the cursor can stand: inside the text and not in
// the middle of a well-formed multi-byte sequence (with ill-formed UTF-8 every
// byte of the ill-formed part is a boundary, since each decodes on its own).
bool is_char_boundary(std::string_view source, std::uint64_t offset) {
  if (offset > source.size()) return false;
  if (offset == source.size() || offset == 0) return true;
  if ((static_cast<unsigned char>(source[offset]) & 0xC0) != 0x80) return true;
  for (std::uint64_t back = 1; back <= 3 && back <= offset; ++back) {
    const char* lead = source.data() + offset - back;
    const auto byte = static_cast<unsigned char>(*lead);
    if ((byte & 0xC0) == 0x80) continue;
    std::uint32_t length = 1;
    decode_utf8(lead, source.data() + source.size(), length);
    return length <= back;
  }
  return true;
}

}  // namespace

Lexer::Lexer(std::string_view source, Mode mode, TextOffset start_offset, python_ast::Arena& arena)
    : source_(source), mode_(mode), arena_(&arena) {
  if (source.size() > std::numeric_limits<std::uint32_t>::max()) {
    tolva::fatal("Lexer only supports files with a size up to 4GB");
  }
  if (!is_char_boundary(source, start_offset.raw)) {
    tolva::fatal("the lexer's start offset is not a character boundary of the source");
  }
  cursor_ = Cursor(source, start_offset.raw);
  if (start_offset.raw == 0 && source.size() >= 3 && source.substr(0, 3) == "\xEF\xBB\xBF") {
    cursor_.skip_bytes(3);
  }
  current_range_ = TextRange::empty(start_offset);
  if (mode == Mode::ParenthesizedExpression) {
    nesting_ = 1;
    state_ = LineState::InLine;
  }
}

LexerCheckpoint Lexer::checkpoint() const {
  LexerCheckpoint checkpoint;
  checkpoint.value = current_value_;
  checkpoint.current_kind = current_kind_;
  checkpoint.current_range = current_range_;
  checkpoint.current_flags = current_flags_;
  checkpoint.cursor_offset = cursor_.offset();
  checkpoint.state = state_;
  checkpoint.nesting = nesting_;
  checkpoint.indentations = indentations_;
  checkpoint.pending_indentation = pending_indentation_;
  checkpoint.fstrings = fstrings_;
  checkpoint.errors_position = error_count_;
  checkpoint.last_error_range = last_error_range_;
  checkpoint.last_error_is_missing_quote = last_error_is_missing_quote_;
  return checkpoint;
}

void Lexer::rewind(const LexerCheckpoint& checkpoint) {
  if (!is_char_boundary(source_, checkpoint.cursor_offset.raw)) {
    tolva::fatal("a lexer checkpoint's offset is not a character boundary of the source");
  }
  current_value_ = checkpoint.value;
  current_kind_ = checkpoint.current_kind;
  current_range_ = checkpoint.current_range;
  current_flags_ = checkpoint.current_flags;
  cursor_ = Cursor(source_, checkpoint.cursor_offset.raw);
  state_ = checkpoint.state;
  nesting_ = checkpoint.nesting;
  indentations_ = checkpoint.indentations;
  pending_indentation_ = checkpoint.pending_indentation;
  fstrings_ = checkpoint.fstrings;
  if (checkpoint.errors_position < errors_.size()) {
    errors_.erase(errors_.begin() + static_cast<std::ptrdiff_t>(checkpoint.errors_position), errors_.end());
  }
  error_count_ = checkpoint.errors_position;
  last_error_range_ = checkpoint.last_error_range;
  last_error_is_missing_quote_ = checkpoint.last_error_is_missing_quote;
}

std::vector<LexicalError> Lexer::finish() && { return std::move(errors_); }

void Lexer::push_error(LexicalError error) {
  current_range_ = error.range;
  ++error_count_;
  last_error_range_ = error.range;
  last_error_is_missing_quote_ = error.error.kind() == LexicalErrorType::MissingClosingQuote;
  if (first_error_only_ && !errors_.empty()) return;
  errors_.push_back(std::move(error));
}

void Lexer::drop_missing_quote_error_of_current_token() {
  if (error_count_ == 0 || !last_error_is_missing_quote_ || last_error_range_ != current_range_) return;
  --error_count_;
  if (errors_.size() > error_count_) errors_.pop_back();
  if (errors_.size() == error_count_) {
    // Every error is kept: the new last one is known.
    last_error_range_ = errors_.empty() ? text_size::TextRange() : errors_.back().range;
    last_error_is_missing_quote_ =
        !errors_.empty() && errors_.back().error.kind() == LexicalErrorType::MissingClosingQuote;
  } else {
    // Only counted: it belongs to a token before the current one, which the
    // re-lexing hooks never reach.
    last_error_is_missing_quote_ = false;
  }
}

TokenKind Lexer::error_token(LexicalErrorType error, TextRange range) {
  push_error(LexicalError{std::move(error), range});
  return TokenKind::Unknown;
}

void Lexer::record_interpolated_string_error(const InterpolationFrame& frame, InterpolatedStringErrorType error,
                                             TextRange range) {
  LexicalErrorType type = frame.kind() == InterpolatedStringKind::FString ? LexicalErrorType::fstring_error(error)
                                                                          : LexicalErrorType::tstring_error(error);
  push_error(LexicalError{std::move(type), range});
}

// ---- next_token ----

namespace {

// The line state after each token kind: InLine after most tokens, AfterAssign
// after "=", LineStart after a logical Newline. Trivia, layout and the inner
// parts of interpolated strings keep the state as it is (so EndOfFile
// repeats); so does an Unknown token, whose readers set InLine themselves
// where the line goes on (a rejected ASCII character or number).
constexpr std::uint8_t kKeepLineState = 0xFF;

constexpr std::array<std::uint8_t, python_ast::kTokenKindCount> make_line_state_after() {
  std::array<std::uint8_t, python_ast::kTokenKindCount> table{};
  for (auto& entry : table) entry = static_cast<std::uint8_t>(LineState::InLine);
  auto set = [&](TokenKind kind, std::uint8_t value) { table[static_cast<std::size_t>(kind)] = value; };
  set(TokenKind::Equal, static_cast<std::uint8_t>(LineState::AfterAssign));
  set(TokenKind::Newline, static_cast<std::uint8_t>(LineState::LineStart));
  for (TokenKind kind : {TokenKind::EndOfFile, TokenKind::NonLogicalNewline, TokenKind::Comment, TokenKind::Indent,
                         TokenKind::Dedent, TokenKind::FStringMiddle, TokenKind::FStringEnd, TokenKind::TStringMiddle,
                         TokenKind::TStringEnd, TokenKind::Unknown}) {
    set(kind, kKeepLineState);
  }
  return table;
}
constexpr std::array<std::uint8_t, python_ast::kTokenKindCount> kLineStateAfter = make_line_state_after();

}  // namespace

TokenKind Lexer::next_token() {
  cursor_.start_token();
  current_value_.clear();
  current_flags_ = TokenFlags();

  const TokenKind kind = lex_token();
  current_kind_ = kind;
  if (kind != TokenKind::Unknown) current_range_ = cursor_.token_range();

  const std::uint8_t after = kLineStateAfter[static_cast<std::size_t>(kind)];
  if (after != kKeepLineState) state_ = static_cast<LineState>(after);
  return kind;
}

TokenKind Lexer::lex_token() {
  if (!fstrings_.empty()) {
    if (!fstrings_.back().is_in_interpolation(nesting_)) {
      if (auto kind = lex_interpolated_string_middle_or_end()) return *kind;
      // An empty literal part: this is an interpolation's "{", a lone "}", or
      // what follows an unterminated string; lex it as an ordinary token, with
      // no string flags left over from the part.
      current_flags_ = TokenFlags();
    }
  } else if (pending_indentation_) {
    if (auto kind = handle_pending_indentation()) return *kind;
  }

  if (state_ == LineState::LineStart) {
    if (auto kind = eat_indentation()) return *kind;
  } else {
    // Most tokens follow no blank or one space: take one space without a
    // branch, and call the full skip only for more blanks or a backslash.
    const char* p = cursor_.position();
    const char* end = cursor_.end();
    if (p != end) {
      p += *p == ' ';
      cursor_.skip_to(p);
      if (p != end && kBlankOrBackslash[static_cast<unsigned char>(*p)]) {
        if (auto kind = skip_whitespace()) return *kind;
      }
    }
  }

  // The blanks are not part of the token.
  cursor_.start_token();
  const std::optional<char32_t> c = cursor_.bump();
  if (!c) return consume_end();
  if (*c < 0x80) return lex_ascii(static_cast<char>(*c));
  return lex_non_ascii(*c);
}

// ---- Layout ----

std::optional<TokenKind> Lexer::handle_pending_indentation() {
  const Indentation pending = *pending_indentation_;
  pending_indentation_.reset();
  switch (compare(indentations_.current(), pending)) {
    case IndentationOrder::Inconsistent:
      return error_token(LexicalErrorType::UnindentMismatch, TextRange::empty(cursor_.offset()));
    case IndentationOrder::Greater:
      pending_indentation_ = pending;
      indentations_.dedent();
      return dedent_to_pending(pending);
    case IndentationOrder::Less:
    case IndentationOrder::Equal:
      break;
  }
  return std::nullopt;
}

// After one level was popped for `pending`: a Dedent when `pending` is not
// deeper than the new current level, otherwise it matches no outer level.
TokenKind Lexer::dedent_to_pending(Indentation pending) {
  switch (compare(pending, indentations_.current())) {
    case IndentationOrder::Less:
    case IndentationOrder::Equal:
      return TokenKind::Dedent;
    case IndentationOrder::Greater:
    case IndentationOrder::Inconsistent:
      break;
  }
  return error_token(LexicalErrorType::UnindentMismatch, TextRange::empty(cursor_.offset()));
}

// At a backslash outside a string. Consumes it and the line break after it;
// gives an error token when no line break follows, or when the text ends right
// after the line break.
std::optional<TokenKind> Lexer::eat_line_continuation() {
  cursor_.bump();
  const bool carriage_return = cursor_.eat_char('\r');
  const bool line_feed = cursor_.eat_char('\n');
  if (!carriage_return && !line_feed) {
    const TextOffset end = cursor_.offset();
    return error_token(LexicalErrorType::BadLineContinuation, TextRange(TextOffset(end.raw - 1), end));
  }
  if (cursor_.is_eof()) {
    return error_token(LexicalErrorType::UnexpectedEof, TextRange(cursor_.token_start(), cursor_.offset()));
  }
  return std::nullopt;
}

std::optional<TokenKind> Lexer::skip_whitespace() {
  while (true) {
    const char* p = cursor_.position();
    const char* end = cursor_.end();
    while (p < end && (*p == ' ' || *p == '\t' || *p == '\f')) ++p;
    cursor_.skip_to(p);
    if (p == end || *p != '\\') return std::nullopt;
    if (auto kind = eat_line_continuation()) return kind;
  }
}

std::optional<TokenKind> Lexer::eat_indentation() {
  Indentation indentation;
  // The common case first: a run of spaces.
  const char* spaces = spaces_end(cursor_.position(), cursor_.end());
  const auto count = static_cast<std::uint32_t>(spaces - cursor_.position());
  indentation.column = count;
  indentation.character = count;
  cursor_.skip_to(spaces);
  while (!cursor_.is_eof()) {
    const char c = *cursor_.position();
    if (c == ' ') {
      cursor_.skip_bytes(1);
      ++indentation.column;
      ++indentation.character;
    } else if (c == '\t') {
      cursor_.skip_bytes(1);
      indentation.column = (indentation.column / 2 + 1) * 2;
      ++indentation.character;
    } else if (c == '\f') {
      cursor_.skip_bytes(1);
      indentation = Indentation{};
    } else if (c == '\\') {
      if (auto kind = eat_line_continuation()) return kind;
      if (indentation != Indentation{}) {
        // The indentation counted before the backslash stands; the next
        // line's blanks continue the logical line and are not counted.
        const char* p = cursor_.position();
        const char* end = cursor_.end();
        while (p < end && (*p == ' ' || *p == '\t' || *p == '\f')) ++p;
        cursor_.skip_to(p);
      }
    } else {
      break;
    }
  }

  if (cursor_.is_eof()) return std::nullopt;
  const char next = *cursor_.position();
  // Blank lines and comment-only lines never touch the indentation.
  if (next == '\n' || next == '\r' || next == '#' || next == '\0') return std::nullopt;

  state_ = LineState::LineIndented;
  switch (compare(indentation, indentations_.current())) {
    case IndentationOrder::Inconsistent:
      return error_token(LexicalErrorType::UnindentMismatch, cursor_.token_range());
    case IndentationOrder::Equal:
      return std::nullopt;
    case IndentationOrder::Greater:
      indentations_.indent(indentation);
      return TokenKind::Indent;
    case IndentationOrder::Less:
      break;
  }
  pending_indentation_ = indentation;
  indentations_.dedent();
  cursor_.start_token();
  return dedent_to_pending(indentation);
}

TokenKind Lexer::consume_end() {
  // Close every open f-string and t-string, innermost first.
  while (std::optional<InterpolationFrame> frame = fstrings_.pop()) {
    nesting_ = frame->nesting;
    record_interpolated_string_error(*frame, InterpolatedStringErrorType::UnterminatedString, cursor_.token_range());
  }
  const std::uint32_t initial_nesting = mode_ == Mode::ParenthesizedExpression ? 1 : 0;
  if (nesting_ > initial_nesting) {
    nesting_ = 0;
    return error_token(LexicalErrorType::UnexpectedEof, cursor_.token_range());
  }
  if (state_ == LineState::AfterAssign || state_ == LineState::InLine) return TokenKind::Newline;
  if (indentations_.dedent()) return TokenKind::Dedent;
  return TokenKind::EndOfFile;
}

// After "\n", "\r" or "\r\n".
TokenKind Lexer::lex_line_break() {
  if (nesting_ == 0 && (state_ == LineState::AfterAssign || state_ == LineState::InLine)) {
    return TokenKind::Newline;
  }
  if (!fstrings_.empty() && fstrings_.back().is_in_format_spec(nesting_)) {
    --fstrings_.back().format_spec_depth;
  }
  return TokenKind::NonLogicalNewline;
}

// ---- Dispatch ----

TokenKind Lexer::lex_non_ascii(char32_t c) {
  if (is_xid_start(c)) return lex_non_ascii_identifier(cursor_.position() - cursor_.token_len());
  // The line state stays as it was.
  return error_token(LexicalErrorType::unexpected_character(c), cursor_.token_range());
}

[[gnu::always_inline]] inline TokenKind Lexer::lex_ascii(char c) {
  // In Mode::Ipython, "!" and "%" right after "=" at nesting 0, and "!", "%",
  // "/", ",", ";" and "?" at the start of a logical line, begin an escape
  // command (try_lex_ipython_escape_command); elsewhere, and in every other
  // mode, these characters are the operators below.
  switch (c) {
    case 'a': case 'b': case 'c': case 'd': case 'e': case 'f': case 'g': case 'h': case 'i':
    case 'j': case 'k': case 'l': case 'm': case 'n': case 'o': case 'p': case 'q': case 'r':
    case 's': case 't': case 'u': case 'v': case 'w': case 'x': case 'y': case 'z':
    case 'A': case 'B': case 'C': case 'D': case 'E': case 'F': case 'G': case 'H': case 'I':
    case 'J': case 'K': case 'L': case 'M': case 'N': case 'O': case 'P': case 'Q': case 'R':
    case 'S': case 'T': case 'U': case 'V': case 'W': case 'X': case 'Y': case 'Z':
    case '_':
      return lex_identifier(c);
    case '0': case '1': case '2': case '3': case '4': case '5': case '6': case '7': case '8': case '9':
      return lex_number(c);
    case '"':
    case '\'':
      return lex_string(c);
    case '#':
      return lex_comment();
    case '\n':
      return lex_line_break();
    case '\r':
      cursor_.eat_char('\n');
      return lex_line_break();
    case '(':
      ++nesting_;
      return TokenKind::Lpar;
    case '[':
      ++nesting_;
      return TokenKind::Lsqb;
    case '{':
      ++nesting_;
      return TokenKind::Lbrace;
    case ')':
      if (nesting_ > 0) --nesting_;
      return TokenKind::Rpar;
    case ']':
      if (nesting_ > 0) --nesting_;
      return TokenKind::Rsqb;
    case '}':
      return lex_close_brace();
    case ':':
      return lex_colon();
    case '!':
      if (mode_ == Mode::Ipython) [[unlikely]] {
        if (auto kind = try_lex_ipython_escape_command(c)) return *kind;
      }
      return cursor_.eat_char('=') ? TokenKind::NotEqual : TokenKind::Exclamation;
    case '%':
      if (mode_ == Mode::Ipython) [[unlikely]] {
        if (auto kind = try_lex_ipython_escape_command(c)) return *kind;
      }
      return cursor_.eat_char('=') ? TokenKind::PercentEqual : TokenKind::Percent;
    case '&':
      return cursor_.eat_char('=') ? TokenKind::AmperEqual : TokenKind::Amper;
    case '*':
      if (cursor_.eat_char('=')) return TokenKind::StarEqual;
      if (cursor_.eat_char('*')) return cursor_.eat_char('=') ? TokenKind::DoubleStarEqual : TokenKind::DoubleStar;
      return TokenKind::Star;
    case '+':
      return cursor_.eat_char('=') ? TokenKind::PlusEqual : TokenKind::Plus;
    case ',':
      if (mode_ == Mode::Ipython) [[unlikely]] {
        if (auto kind = try_lex_ipython_escape_command(c)) return *kind;
      }
      return TokenKind::Comma;
    case '-':
      if (cursor_.eat_char('=')) return TokenKind::MinusEqual;
      if (cursor_.eat_char('>')) return TokenKind::Rarrow;
      return TokenKind::Minus;
    case '.':
      if (!cursor_.is_eof() && is_decimal(cursor_.first())) return lex_decimal_number('.');
      if (cursor_.eat_char2('.', '.')) return TokenKind::Ellipsis;
      return TokenKind::Dot;
    case '/':
      if (mode_ == Mode::Ipython) [[unlikely]] {
        if (auto kind = try_lex_ipython_escape_command(c)) return *kind;
      }
      if (cursor_.eat_char('=')) return TokenKind::SlashEqual;
      if (cursor_.eat_char('/')) return cursor_.eat_char('=') ? TokenKind::DoubleSlashEqual : TokenKind::DoubleSlash;
      return TokenKind::Slash;
    case ';':
      if (mode_ == Mode::Ipython) [[unlikely]] {
        if (auto kind = try_lex_ipython_escape_command(c)) return *kind;
      }
      return TokenKind::Semi;
    case '<':
      if (cursor_.eat_char('<')) return cursor_.eat_char('=') ? TokenKind::LeftShiftEqual : TokenKind::LeftShift;
      if (cursor_.eat_char('=')) return TokenKind::LessEqual;
      return TokenKind::Less;
    case '=':
      return cursor_.eat_char('=') ? TokenKind::EqEqual : TokenKind::Equal;
    case '>':
      if (cursor_.eat_char('>')) return cursor_.eat_char('=') ? TokenKind::RightShiftEqual : TokenKind::RightShift;
      if (cursor_.eat_char('=')) return TokenKind::GreaterEqual;
      return TokenKind::Greater;
    case '?':
      if (mode_ == Mode::Ipython) {
        if (auto kind = try_lex_ipython_escape_command(c)) return *kind;
        return TokenKind::Question;
      }
      break;
    case '@':
      return cursor_.eat_char('=') ? TokenKind::AtEqual : TokenKind::At;
    case '^':
      return cursor_.eat_char('=') ? TokenKind::CircumflexEqual : TokenKind::CircumFlex;
    case '|':
      return cursor_.eat_char('=') ? TokenKind::VbarEqual : TokenKind::Vbar;
    case '~':
      return TokenKind::Tilde;
    default:
      break;
  }
  state_ = LineState::InLine;
  return error_token(LexicalErrorType::unexpected_character(static_cast<unsigned char>(c)), cursor_.token_range());
}

// ---- IPython escape commands ----

// At one of the six prefix characters, just consumed, in Mode::Ipython: the
// command it starts, or nothing when it starts none here. At the start of a
// logical line (no token of the line produced yet) every prefix starts one,
// its kind by the pair rule: "!!", "%%" and "??" are two-character kinds,
// anything else the one-character kind of the prefix. Right after "=" at
// bracket nesting 0 only "!" and "%" start one, always of the one-character
// kind ("x = !!ls" is kind "!" with the text "!ls").
std::optional<TokenKind> Lexer::try_lex_ipython_escape_command(char prefix) {
  const bool line_start = state_ == LineState::LineStart || state_ == LineState::LineIndented;
  const bool after_assign = state_ == LineState::AfterAssign && nesting_ == 0 && (prefix == '!' || prefix == '%');
  if (!line_start && !after_assign) return std::nullopt;
  // The pair is tried only where it can succeed (two equal characters of
  // "!", "%" and "?"), so that no conversion error text is ever built.
  const bool pair_prefix = prefix == '!' || prefix == '%' || prefix == '?';
  if (line_start && pair_prefix && cursor_.first() == static_cast<unsigned char>(prefix)) {
    if (tolva::Result<python_ast::IpyEscapeKind> pair = python_ast::ipy_escape_kind_try_from(prefix, prefix)) {
      cursor_.bump();
      return lex_ipython_escape_command(pair.value());
    }
  }
  tolva::Result<python_ast::IpyEscapeKind> single = python_ast::ipy_escape_kind_try_from(prefix);
  if (!single) tolva::fatal("internal error: entered unreachable code: " + single.error());
  return lex_ipython_escape_command(single.value());
}

namespace {

// The bytes that end a run of plain command text: the line ends, NUL, the
// backslash of a possible continuation and the help-end "?".
constexpr std::array<bool, 256> make_command_stop_table() {
  std::array<bool, 256> table{};
  table['\n'] = table['\r'] = table['\0'] = table['\\'] = table['?'] = true;
  return table;
}
constexpr std::array<bool, 256> kCommandStop = make_command_stop_table();

bool ends_command(const char* p, const char* end) { return p == end || *p == '\n' || *p == '\r' || *p == '\0'; }

}  // namespace

// The body of an escape command, after its prefix, up to the end of its line:
//   - a line feed, a carriage return, NUL or the end of the text ends it, and
//     is not consumed;
//   - a backslash followed by "\n", "\r" or "\r\n" continues the command on
//     the next line: all of it is consumed and nothing is added to the text;
//     any other backslash is text, and the character after it is read as
//     usual;
//   - a run of "?" is consumed whole. It is a help-end suffix ("%timeit?",
//     "obj??") when it has one or two marks, ends the line, and follows text
//     whose last character is not a space, a tab or a form feed: the command
//     ends there, its kind becomes "?" or "??" by the count, and the text is
//     that of a help request: without its leading "?" and spaces for the help
//     kinds, with "%" or "%%" in front for the magic kinds, unchanged for the
//     others. Any other run of "?" is text.
// The token covers the prefix through the last consumed character. The text
// is a view of the source when no continuation was dropped from it (the "%"
// or "%%" put in front is then the prefix itself), else a copy in the arena.
TokenKind Lexer::lex_ipython_escape_command(python_ast::IpyEscapeKind kind) {
  const char* const body = cursor_.position();
  const char* const end = cursor_.end();
  const char* p = body;
  // Until a continuation is dropped the text is [body, p); from then on it is
  // collected in scratch_.
  bool copied = false;
  auto add = [&](const char* from, const char* to) {
    if (copied) scratch_.append(from, static_cast<std::size_t>(to - from));
  };
  while (!ends_command(p, end)) {
    const char* run = p;
    while (p < end && !kCommandStop[static_cast<unsigned char>(*p)]) ++p;
    add(run, p);
    if (ends_command(p, end)) break;
    if (*p == '\\') {
      if (p + 1 < end && (p[1] == '\n' || p[1] == '\r')) {
        if (!copied) {
          scratch_.assign(body, static_cast<std::size_t>(p - body));
          copied = true;
        }
        p += 2;
        if (p[-1] == '\r' && p < end && *p == '\n') ++p;
      } else {
        add(p, p + 1);
        ++p;
      }
      continue;
    }
    // A run of "?".
    const char* marks = p;
    while (p < end && *p == '?') ++p;
    const auto count = static_cast<std::size_t>(p - marks);
    const std::size_t size = copied ? scratch_.size() : static_cast<std::size_t>(marks - body);
    const char last = size == 0 ? '\0' : copied ? scratch_.back() : marks[-1];
    if (count <= 2 && size != 0 && last != ' ' && last != '\t' && last != '\f' && ends_command(p, end)) {
      cursor_.skip_to(p);
      std::string_view text = copied ? std::string_view(scratch_) : std::string_view(body, size);
      switch (kind) {
        case python_ast::IpyEscapeKind::Question:
        case python_ast::IpyEscapeKind::DoubleQuestion: {
          std::size_t leading = 0;
          while (leading < text.size() && (text[leading] == '?' || text[leading] == ' ')) ++leading;
          text.remove_prefix(leading);
          break;
        }
        case python_ast::IpyEscapeKind::Percent:
        case python_ast::IpyEscapeKind::DoublePercent: {
          const std::size_t prefix = kind == python_ast::IpyEscapeKind::Percent ? 1 : 2;
          if (copied) {
            scratch_.insert(0, prefix, '%');
            text = scratch_;
          } else {
            // The prefix just before the text is that "%" or "%%".
            tolva::check(body - source_.data() >= static_cast<std::ptrdiff_t>(prefix) && body[-1] == '%' &&
                             body[-static_cast<std::ptrdiff_t>(prefix)] == '%',
                         "a magic escape command's text follows its prefix");
            text = std::string_view(body - prefix, size + prefix);
          }
          break;
        }
        default:
          break;
      }
      kind = count == 1 ? python_ast::IpyEscapeKind::Question : python_ast::IpyEscapeKind::DoubleQuestion;
      current_value_ = TokenValue::ipy_escape_command(kind, copied ? arena_->copy_text(text) : text);
      return TokenKind::IpyEscapeCommand;
    }
    add(marks, p);
  }
  cursor_.skip_to(p);
  const std::string_view text =
      copied ? arena_->copy_text(scratch_) : std::string_view(body, static_cast<std::size_t>(p - body));
  current_value_ = TokenValue::ipy_escape_command(kind, text);
  return TokenKind::IpyEscapeCommand;
}

TokenKind Lexer::lex_colon() {
  if (!fstrings_.empty()) {
    InterpolationFrame& frame = fstrings_.back();
    const std::uint32_t open = frame.open_count(nesting_);
    // At the interpolation's own bracket level, ":" starts the format
    // specifier (so ":=" is never recognised there).
    if (open > frame.format_spec_depth && open - frame.format_spec_depth == 1) {
      ++frame.format_spec_depth;
      return TokenKind::Colon;
    }
  }
  return cursor_.eat_char('=') ? TokenKind::ColonEqual : TokenKind::Colon;
}

TokenKind Lexer::lex_close_brace() {
  if (!fstrings_.empty()) {
    InterpolationFrame& frame = fstrings_.back();
    if (nesting_ == frame.nesting) {
      // At the f-string's own level the brace closes no interpolation.
      record_interpolated_string_error(frame, InterpolatedStringErrorType::SingleCloseBrace, cursor_.token_range());
      return TokenKind::Unknown;
    }
    if (frame.is_in_format_spec(nesting_)) --frame.format_spec_depth;
  }
  if (nesting_ > 0) --nesting_;
  return TokenKind::Rbrace;
}

// ---- Names, keywords and string prefixes ----

std::optional<TokenKind> Lexer::try_lex_string_prefix(char first) {
  const char* p = cursor_.position();
  const char* end = cursor_.end();
  auto is_quote = [](char c) { return c == '\'' || c == '"'; };
  TokenFlags flags;
  char quote = 0;
  if (p < end && is_quote(p[0])) {
    switch (first) {
      case 'b': case 'B': flags = TokenFlags::kPrefixB; break;
      case 'f': case 'F': flags = TokenFlags::kPrefixF; break;
      case 't': case 'T': flags = TokenFlags::kPrefixT; break;
      case 'u': case 'U': flags = TokenFlags::kPrefixU; break;
      case 'r': flags = TokenFlags::kPrefixLowerR; break;
      case 'R': flags = TokenFlags::kPrefixUpperR; break;
      default: return std::nullopt;
    }
    quote = p[0];
    cursor_.skip_bytes(1);
  } else if (end - p >= 2 && is_quote(p[1])) {
    // Two letters: an r or R with one of b, f, t, in either order.
    auto raw_bit = [](char c) -> std::optional<TokenFlags> {
      if (c == 'r') return TokenFlags::kPrefixLowerR;
      if (c == 'R') return TokenFlags::kPrefixUpperR;
      return std::nullopt;
    };
    auto kind_bit = [](char c) -> std::optional<TokenFlags> {
      switch (c) {
        case 'b': case 'B': return TokenFlags::kPrefixB;
        case 'f': case 'F': return TokenFlags::kPrefixF;
        case 't': case 'T': return TokenFlags::kPrefixT;
        default: return std::nullopt;
      }
    };
    const char second = p[0];
    std::optional<TokenFlags> raw = raw_bit(first);
    std::optional<TokenFlags> kind = kind_bit(second);
    if (!raw || !kind) {
      raw = raw_bit(second);
      kind = kind_bit(first);
    }
    if (!raw || !kind) return std::nullopt;
    flags = *raw | *kind;
    quote = p[1];
    cursor_.skip_bytes(2);
  } else {
    return std::nullopt;
  }

  current_flags_ |= flags;
  if (flags.intersects(TokenFlags::kPrefixF | TokenFlags::kPrefixT)) {
    return lex_interpolated_string_start(quote, flags);
  }
  return lex_string(quote);
}

TokenKind Lexer::lex_identifier(char first) {
  {
    // A string prefix has a quote after one or two letters.
    const char* p = cursor_.position();
    const char* end = cursor_.end();
    const bool quote_near = (p < end && (p[0] == '\'' || p[0] == '"')) ||
                            (end - p >= 2 && (p[1] == '\'' || p[1] == '"'));
    if (quote_near) {
      if (auto kind = try_lex_string_prefix(first)) return *kind;
    }
  }

  const char* start = cursor_.position() - 1;
  const char* end = cursor_.end();
  const char* p = ascii_identifier_end(cursor_.position(), end);
  if (p < end && static_cast<unsigned char>(*p) >= 0x80) return lex_non_ascii_identifier(start);
  cursor_.skip_to(p);

  const std::string_view text(start, static_cast<std::size_t>(p - start));
  if (auto keyword = python_ast::keyword_kind(text)) return *keyword;
  current_value_ = TokenValue::name(python_ast::Name(text));
  return TokenKind::Name;
}

// An identifier starting at `start` that may hold characters outside ASCII;
// the cursor stands somewhere inside it, after its first character.
TokenKind Lexer::lex_non_ascii_identifier(const char* start) {
  bool ascii = true;
  for (const char* q = start; q < cursor_.position(); ++q) {
    if (static_cast<unsigned char>(*q) >= 0x80) ascii = false;
  }
  while (!cursor_.is_eof()) {
    const char byte = *cursor_.position();
    if (is_ascii_identifier_byte(byte)) {
      cursor_.skip_bytes(1);
      continue;
    }
    if (static_cast<unsigned char>(byte) < 0x80) break;
    const char32_t c = cursor_.first();
    if (!is_xid_continue(c)) break;
    cursor_.bump();
    ascii = false;
  }

  const std::string_view text(start, static_cast<std::size_t>(cursor_.position() - start));
  if (ascii) {
    if (auto keyword = python_ast::keyword_kind(text)) return *keyword;
    current_value_ = TokenValue::name(python_ast::Name(text));
    return TokenKind::Name;
  }

  // Never a keyword: the value is the NFKC form, the source itself when it is
  // already normalised.
  // A long name goes to ICU in pieces cut where normalisation starts afresh.
  const icu::Normalizer2& normalizer = nfkc();
  const auto is_cut = [&](std::string_view whole, std::size_t offset) {
    std::uint32_t length = 0;
    return normalizer.hasBoundaryBefore(
        static_cast<UChar32>(decode_utf8(whole.data() + offset, whole.data() + whole.size(), length)));
  };
  const auto icu_piece = [](std::string_view piece) {
    return icu::StringPiece(piece.data(), static_cast<int32_t>(piece.size()));
  };
  bool normalized = true;
  tolva::for_each_utf8_piece(text, tolva::PieceLimits{}, "NFKC normalisation of an identifier", is_cut,
                             [&](std::string_view piece) {
                               UErrorCode status = U_ZERO_ERROR;
                               if (normalized) normalized = normalizer.isNormalizedUTF8(icu_piece(piece), status) && U_SUCCESS(status);
                             });
  if (normalized) {
    current_value_ = TokenValue::name(python_ast::Name(text));
    return TokenKind::Name;
  }
  scratch_.clear();
  StringSink sink(scratch_);
  tolva::for_each_utf8_piece(text, tolva::PieceLimits{}, "NFKC normalisation of an identifier", is_cut,
                             [&](std::string_view piece) {
                               UErrorCode status = U_ZERO_ERROR;
                               normalizer.normalizeUTF8(0, icu_piece(piece), sink, nullptr, status);
                               if (U_FAILURE(status)) tolva::fatal("NFKC normalisation of an identifier failed");
                             });
  current_value_ = TokenValue::name(python_ast::Name::copy(*arena_, scratch_));
  return TokenKind::Name;
}

// ---- Numbers ----

void Lexer::lexed_push(char c) {
  if (lexed_.owned) {
    scratch_.push_back(c);
  } else {
    ++lexed_.length;
  }
}

std::string_view Lexer::lexed_text() const {
  if (lexed_.owned) return scratch_;
  return {lexed_.start, lexed_.length};
}

void Lexer::radix_run(std::uint32_t radix) {
  while (true) {
    const char* p = cursor_.position();
    const char* end = cursor_.end();
    if (p == end) return;
    if (is_digit_of(*p, radix)) {
      lexed_push(*p);
      cursor_.skip_bytes(1);
    } else if (*p == '_' && end - p >= 2 && is_digit_of(p[1], radix)) {
      // The underscore is dropped: from here on the text is a copy.
      if (!lexed_.owned) {
        scratch_.assign(lexed_.start, lexed_.length);
        lexed_.owned = true;
      }
      cursor_.skip_bytes(1);
    } else {
      return;
    }
  }
}

TokenKind Lexer::lex_number(char first) {
  if (first == '0') {
    if (cursor_.eat_if([](char32_t c) { return c == 'x' || c == 'X'; })) return lex_number_radix(16);
    if (cursor_.eat_if([](char32_t c) { return c == 'o' || c == 'O'; })) return lex_number_radix(8);
    if (cursor_.eat_if([](char32_t c) { return c == 'b' || c == 'B'; })) return lex_number_radix(2);
  }
  return lex_decimal_number(first);
}

TokenKind Lexer::lex_number_radix(std::uint32_t radix) {
  lexed_ = LexedText{cursor_.position(), 0, false};
  radix_run(radix);
  const std::string_view literal(cursor_.position() - cursor_.token_len(), cursor_.token_len());
  python_ast::IntResult result = Int::from_str_radix(lexed_text(), radix, literal, *arena_);
  state_ = LineState::InLine;
  if (!result) {
    return error_token(LexicalErrorType::other(std::string(result.error().debug())), cursor_.token_range());
  }
  current_value_ = TokenValue::integer(result.value());
  return TokenKind::Int;
}

TokenKind Lexer::lex_decimal_number(char first) {
  state_ = LineState::InLine;
  lexed_ = LexedText{cursor_.position() - 1, 0, false};
  bool is_float = false;
  if (first == '.') {
    lexed_push('.');
    is_float = true;
  } else {
    lexed_push(first);
    radix_run(10);
    if (cursor_.eat_char('.')) {
      lexed_push('.');
      is_float = true;
      if (!cursor_.is_eof() && cursor_.first() == '_') {
        cursor_.skip_bytes(1);
        const TextOffset end = cursor_.offset();
        return error_token(LexicalErrorType::other("Invalid Syntax"), TextRange(TextOffset(end.raw - 1), end));
      }
    }
  }
  if (is_float) radix_run(10);

  // An exponent only when a digit follows the letter (after an optional
  // sign); otherwise the number ends before the letter.
  const char32_t letter = cursor_.first();
  if (letter == 'e' || letter == 'E') {
    const char32_t after = cursor_.second();
    const bool signed_exponent = (after == '+' || after == '-') && is_decimal(cursor_.third());
    if (is_decimal(after) || signed_exponent) {
      cursor_.skip_bytes(1);
      lexed_push(static_cast<char>(letter));
      if (signed_exponent) {
        cursor_.skip_bytes(1);
        lexed_push(static_cast<char>(after));
      }
      radix_run(10);
      is_float = true;
    }
  }

  auto imaginary = [this] { return cursor_.eat_if([](char32_t c) { return c == 'j' || c == 'J'; }).has_value(); };

  if (!is_float) {
    if (imaginary()) {
      double imag = 0.0;
      if (!parse_float(lexed_text(), imag)) {
        return error_token(LexicalErrorType::other("Invalid decimal literal"), cursor_.token_range());
      }
      current_value_ = TokenValue::complex(0.0, imag);
      return TokenKind::Complex;
    }
    python_ast::IntResult result = Int::from_str(lexed_text(), *arena_);
    if (!result) {
      return error_token(LexicalErrorType::other(std::string(result.error().debug())), cursor_.token_range());
    }
    const bool is_zero = result.value().as_u64() == std::optional<std::uint64_t>(0);
    if (first == '0' && !is_zero) {
      return error_token(LexicalErrorType::other("Invalid decimal integer literal"), cursor_.token_range());
    }
    current_value_ = TokenValue::integer(result.value());
    return TokenKind::Int;
  }

  double value = 0.0;
  if (!parse_float(lexed_text(), value)) {
    return error_token(LexicalErrorType::other("Invalid decimal literal"), cursor_.token_range());
  }
  if (imaginary()) {
    current_value_ = TokenValue::complex(0.0, value);
    return TokenKind::Complex;
  }
  current_value_ = TokenValue::floating(value);
  return TokenKind::Float;
}

// ---- Strings and comments ----

TokenKind Lexer::lex_string(char quote) {
  if (quote == '"') current_flags_ |= TokenFlags::kDoubleQuoted;
  if (cursor_.eat_char2(quote, quote)) current_flags_ |= TokenFlags::kTripleQuoted;

  const char* value_start = cursor_.position();
  const char* end = cursor_.end();
  const char* p = value_start;

  auto unclosed = [&](const char* stop) {
    cursor_.skip_to(stop);
    current_flags_ |= TokenFlags::kUnclosed;
    push_error(LexicalError{LexicalErrorType::MissingClosingQuote, cursor_.token_range()});
    current_value_ = TokenValue::string(std::string_view(value_start, static_cast<std::size_t>(stop - value_start)));
    return TokenKind::String;
  };

  if (current_flags_.is_triple_quoted()) {
    while (true) {
      const char* found = find_byte(p, end, quote);
      if (found == end) return unclosed(end);
      const bool escaped = backslashes_before(p, found) % 2 == 1;
      p = found + 1;
      if (escaped) continue;
      if (end - p >= 2 && p[0] == quote && p[1] == quote) {
        cursor_.skip_to(p + 2);
        current_value_ =
            TokenValue::string(std::string_view(value_start, static_cast<std::size_t>(found - value_start)));
        return TokenKind::String;
      }
    }
  }

  while (true) {
    const char* found = find_any3(p, end, quote, '\r', '\n');
    if (found == end) return unclosed(end);
    if (backslashes_before(p, found) % 2 == 1) {
      // An escaped quote or line break belongs to the body.
      p = found + 1;
      if (*found == '\r' && p < end && *p == '\n') ++p;
      continue;
    }
    if (*found != quote) return unclosed(found);
    cursor_.skip_to(found + 1);
    current_value_ = TokenValue::string(std::string_view(value_start, static_cast<std::size_t>(found - value_start)));
    return TokenKind::String;
  }
}

TokenKind Lexer::lex_comment() {
  cursor_.skip_to(find_any2(cursor_.position(), cursor_.end(), '\n', '\r'));
  return TokenKind::Comment;
}

// ---- f-strings and t-strings ----

TokenKind Lexer::lex_interpolated_string_start(char quote, TokenFlags prefix) {
  if (quote == '"') current_flags_ |= TokenFlags::kDoubleQuoted;
  if (cursor_.eat_char2(quote, quote)) current_flags_ |= TokenFlags::kTripleQuoted;
  fstrings_.push(InterpolationFrame{nesting_, 0, current_flags_});
  return prefix.contains(TokenFlags::kPrefixF) ? TokenKind::FStringStart : TokenKind::TStringStart;
}

std::optional<TokenKind> Lexer::lex_interpolated_string_middle_or_end() {
  const InterpolationFrame frame = fstrings_.back();
  const InterpolatedStringKind kind = frame.kind();
  const char quote = frame.quote_char();
  const bool triple = frame.is_triple_quoted();

  if (triple ? cursor_.eat_char3(quote, quote, quote) : cursor_.eat_char(quote)) {
    current_flags_ = frame.flags;
    fstrings_.pop();
    return kind == InterpolatedStringKind::FString ? TokenKind::FStringEnd : TokenKind::TStringEnd;
  }

  const bool in_format_spec = frame.is_in_format_spec(nesting_);
  const char* const part_start = cursor_.position();
  const char* const end = cursor_.end();
  const char* p = part_start;
  // Collapsed brace pairs: the text up to `copied` is in scratch_.
  bool collapsed = false;
  const char* copied = part_start;
  bool named_escape = false;

  // The string ends without its closing quote at `stop`: the error covers the
  // part read so far, and the frame is gone.
  auto terminate = [&](InterpolatedStringErrorType error, const char* stop) {
    cursor_.skip_to(stop);
    record_interpolated_string_error(frame, error, cursor_.token_range());
    nesting_ = frame.nesting;
    fstrings_.pop();
    current_flags_ |= TokenFlags::kUnclosed;
  };
  auto collapse = [&]() {
    // The first brace of the pair is kept, the second skipped.
    if (!collapsed) scratch_.clear();
    scratch_.append(copied, static_cast<std::size_t>(p + 1 - copied));
    p += 2;
    copied = p;
    collapsed = true;
  };

  while (true) {
    if (p == end) {
      terminate(triple ? InterpolatedStringErrorType::UnterminatedTripleQuotedString
                       : InterpolatedStringErrorType::UnterminatedString,
                p);
      break;
    }
    const char c = *p;
    if (c == '\n' || c == '\r') {
      if (!triple) {
        terminate(in_format_spec ? InterpolatedStringErrorType::NewlineInSingleQuotedFormatSpec
                                 : InterpolatedStringErrorType::UnterminatedString,
                  p);
        break;
      }
      ++p;
    } else if (c == '\\') {
      ++p;
      if (p == end || *p == '{' || *p == '}') continue;
      if (!frame.is_raw_string() && *p == 'N' && end - p >= 2 && p[1] == '{') {
        p += 2;
        named_escape = true;
        continue;
      }
      // The escaped character (a carriage return with its line feed).
      if (*p == '\r' && end - p >= 2 && p[1] == '\n') {
        p += 2;
      } else {
        ++p;
      }
    } else if (c == quote) {
      if (!triple || (end - p >= 3 && p[1] == quote && p[2] == quote)) break;
      ++p;
    } else if (c == '{') {
      if (!in_format_spec && end - p >= 2 && p[1] == '{') {
        collapse();
        continue;
      }
      break;
    } else if (c == '}') {
      if (named_escape) {
        named_escape = false;
        ++p;
        continue;
      }
      if (!in_format_spec && end - p >= 2 && p[1] == '}') {
        collapse();
        continue;
      }
      break;
    } else {
      ++p;
    }
  }

  cursor_.skip_to(p);
  if (p == part_start) return std::nullopt;

  std::string_view value(part_start, static_cast<std::size_t>(p - part_start));
  if (collapsed) {
    scratch_.append(copied, static_cast<std::size_t>(p - copied));
    value = arena_->copy_text(scratch_);
  }
  current_value_ = TokenValue::interpolated_string_middle(value);
  current_flags_ |= frame.flags;
  return kind == InterpolatedStringKind::FString ? TokenKind::FStringMiddle : TokenKind::TStringMiddle;
}

// ---- Re-lexing after parser recovery ----

bool Lexer::re_lex_logical_token(std::optional<TextOffset> non_logical_newline_start) {
  if (nesting_ == 0) return false;
  --nesting_;
  if (current_flags_.is_triple_quoted_interpolated_string() || !non_logical_newline_start) return false;
  if (current_kind_ == TokenKind::Rpar || current_kind_ == TokenKind::Rsqb || current_kind_ == TokenKind::Rbrace) {
    ++nesting_;
  }
  if (!is_char_boundary(source_, non_logical_newline_start->raw)) {
    tolva::fatal("a re-lex position is not a character boundary of the source");
  }
  cursor_ = Cursor(source_, non_logical_newline_start->raw);
  state_ = LineState::InLine;
  next_token();
  return true;
}

void Lexer::re_lex_raw_string_in_format_spec() {
  if (current_kind_ != TokenKind::String || !current_flags_.is_unclosed() ||
      !current_flags_.contains(TokenFlags::kPrefixLowerR) ||
      current_flags_.intersects(TokenFlags::kPrefixB | TokenFlags::kPrefixF | TokenFlags::kPrefixT)) {
    return;
  }
  drop_missing_quote_error_of_current_token();
  const TextOffset start = current_range_.start();
  current_kind_ = TokenKind::Name;
  current_range_ = TextRange::at(start, 1);
  current_flags_ = TokenFlags();
  current_value_ = TokenValue::name(python_ast::Name(source_.substr(start.raw, 1)));
  cursor_ = Cursor(source_, start.raw + 1);
}

void Lexer::re_lex_string_token_in_interpolation_element(InterpolatedStringKind kind) {
  if (fstrings_.empty()) return;
  const InterpolationFrame frame = fstrings_.back();
  const TokenFlags prefixes = TokenFlags::kPrefixU | TokenFlags::kPrefixB | TokenFlags::kPrefixF |
                              TokenFlags::kPrefixT | TokenFlags::kPrefixLowerR | TokenFlags::kPrefixUpperR;
  if (current_kind_ != TokenKind::String || !current_flags_.is_unclosed() || current_flags_.intersects(prefixes)) {
    return;
  }
  const bool double_quoted = current_flags_.contains(TokenFlags::kDoubleQuoted);
  if (double_quoted != frame.flags.contains(TokenFlags::kDoubleQuoted) ||
      current_flags_.is_triple_quoted() != frame.is_triple_quoted()) {
    return;
  }
  const std::uint32_t quote_length = frame.is_triple_quoted() ? 3 : 1;
  const TextOffset start = current_range_.start();
  // Only blanks may follow the quote(s) up to the end of the line, a comment
  // or the end of the text.
  for (std::size_t i = start.raw + quote_length; i < source_.size(); ++i) {
    const char c = source_[i];
    if (c == '\n' || c == '\r' || c == '#') break;
    if (c != ' ' && c != '\t' && c != '\f') return;
  }
  drop_missing_quote_error_of_current_token();
  current_kind_ = kind == InterpolatedStringKind::FString ? TokenKind::FStringEnd : TokenKind::TStringEnd;
  current_range_ = TextRange::at(start, quote_length);
  current_value_ = TokenValue();
  current_flags_ = TokenFlags();
  nesting_ = frame.nesting;
  fstrings_.pop();
  cursor_ = Cursor(source_, start.raw + quote_length);
}

}  // namespace python_parser
