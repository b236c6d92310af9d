#include "python_parser/string.h"

#include <unicode/uchar.h>

#include <algorithm>
#include <cstring>
#include <limits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace python_parser {

namespace {

using python_ast::AnyStringFlags;
using text_size::TextOffset;
using text_size::TextRange;

// ---------------------------------------------------------------------------
// Byte searches. Each returns the index of the first matching byte of
// [data, data + size), or `size` when there is none. The SSE2 loops look at
// 16 bytes at a time and never read past `size`; the scalar loops are the
// plain fallback and handle the tail.

std::size_t find_backslash(const char* data, std::size_t size) {
  const void* hit = std::memchr(data, '\\', size);
  return hit == nullptr ? size : static_cast<std::size_t>(static_cast<const char*>(hit) - data);
}

std::size_t find_brace_or_backslash(const char* data, std::size_t size) {
  std::size_t i = 0;
#if defined(__SSE2__)
  const __m128i open = _mm_set1_epi8('{');
  const __m128i close = _mm_set1_epi8('}');
  const __m128i backslash = _mm_set1_epi8('\\');
  for (; i + 16 <= size; i += 16) {
    __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i));
    __m128i hits = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(block, open), _mm_cmpeq_epi8(block, close)),
                                _mm_cmpeq_epi8(block, backslash));
    int mask = _mm_movemask_epi8(hits);
    if (mask != 0) return i + static_cast<std::size_t>(__builtin_ctz(static_cast<unsigned>(mask)));
  }
#endif
  for (; i < size; ++i) {
    char c = data[i];
    if (c == '{' || c == '}' || c == '\\') return i;
  }
  return size;
}

std::size_t find_non_ascii(const char* data, std::size_t size) {
  std::size_t i = 0;
#if defined(__SSE2__)
  for (; i + 16 <= size; i += 16) {
    __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i));
    int mask = _mm_movemask_epi8(block);  // the top bit of every byte
    if (mask != 0) return i + static_cast<std::size_t>(__builtin_ctz(static_cast<unsigned>(mask)));
  }
#endif
  for (; i < size; ++i) {
    if (static_cast<unsigned char>(data[i]) >= 0x80) return i;
  }
  return size;
}

// The byte length of the character that starts at text[at] (at < size): the
// length its lead byte announces when the continuation bytes are there, else 1
// (an invalid byte counts as one character of its own).
std::uint32_t char_length(std::string_view text, std::size_t at) {
  auto lead = static_cast<unsigned char>(text[at]);
  std::size_t length = lead < 0x80 ? 1 : lead < 0xC2 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : lead < 0xF5 ? 4 : 1;
  if (at + length > text.size()) return 1;
  for (std::size_t k = 1; k < length; ++k) {
    if ((static_cast<unsigned char>(text[at + k]) & 0xC0) != 0x80) return 1;
  }
  return static_cast<std::uint32_t>(length);
}

bool is_hex_digit(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

std::uint32_t hex_value(char c) {
  if (c <= '9') return static_cast<std::uint32_t>(c - '0');
  if (c >= 'a') return static_cast<std::uint32_t>(c - 'a' + 10);
  return static_cast<std::uint32_t>(c - 'A' + 10);
}

// ---------------------------------------------------------------------------
// The output buffer: one arena block of the source's length. Decoding never
// writes more bytes than it reads, so the block never needs to grow; a write
// beyond it would be a broken invariant of this file.

class Output {
 public:
  Output(python_ast::Arena& arena, std::size_t capacity)
      : data_(static_cast<char*>(arena.allocate(capacity, 1))), capacity_(capacity) {}

  void append(std::string_view text) {
    reserve(text.size());
    std::memcpy(data_ + size_, text.data(), text.size());
    size_ += text.size();
  }
  void push(char c) {
    reserve(1);
    data_[size_++] = c;
  }
  void push_utf8(char32_t c) {
    if (c < 0x80) {
      push(static_cast<char>(c));
    } else if (c < 0x800) {
      reserve(2);
      data_[size_++] = static_cast<char>(0xC0 | (c >> 6));
      data_[size_++] = static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      reserve(3);
      data_[size_++] = static_cast<char>(0xE0 | (c >> 12));
      data_[size_++] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      data_[size_++] = static_cast<char>(0x80 | (c & 0x3F));
    } else {
      reserve(4);
      data_[size_++] = static_cast<char>(0xF0 | (c >> 18));
      data_[size_++] = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      data_[size_++] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      data_[size_++] = static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  std::string_view view() const { return {data_, size_}; }

 private:
  void reserve(std::size_t more) {
    tolva::check(more <= capacity_ - size_, "decoded string literal outgrew its source length");
  }

  char* data_;
  std::size_t capacity_;
  std::size_t size_ = 0;
};

// ---------------------------------------------------------------------------
// The outcome of one escape sequence.

struct EscapeResult {
  enum class Kind : std::uint8_t {
    Decoded,   // the escape stands for `character`
    Verbatim,  // unrecognised: the backslash and the `length` source bytes at `at` stay
    Nothing,   // a line continuation: the escape disappears
  };
  Kind kind;
  char32_t character = 0;
  std::uint32_t at = 0;
  std::uint32_t length = 0;
};

// The state of decoding one literal body.
class StringParser {
 public:
  StringParser(std::string_view source, TextOffset offset, bool bytes)
      : source_(source), offset_(offset), bytes_(bytes) {}

  // Decodes the escape whose backslash the cursor has just passed.
  DecodeResult<EscapeResult> parse_escaped_char() {
    if (cursor_ >= size()) {
      return error(LexicalErrorType::UnexpectedString, TextRange::empty(position(size())));
    }
    std::uint32_t first = cursor_;
    char c = source_[cursor_++];
    switch (c) {
      case '\n':
        return EscapeResult{EscapeResult::Kind::Nothing};
      case '\r':
        if (cursor_ < size() && source_[cursor_] == '\n') ++cursor_;
        return EscapeResult{EscapeResult::Kind::Nothing};
      case '\\':
      case '\'':
      case '"':
        return decoded(static_cast<char32_t>(c));
      case 'a': return decoded(0x07);
      case 'b': return decoded(0x08);
      case 'f': return decoded(0x0C);
      case 'n': return decoded(0x0A);
      case 'r': return decoded(0x0D);
      case 't': return decoded(0x09);
      case 'v': return decoded(0x0B);
      case '0': case '1': case '2': case '3': case '4': case '5': case '6': case '7': {
        auto value = static_cast<char32_t>(c - '0');
        for (int extra = 0; extra < 2 && cursor_ < size(); ++extra) {
          char digit = source_[cursor_];
          if (digit < '0' || digit > '7') break;
          value = value * 8 + static_cast<char32_t>(digit - '0');
          ++cursor_;
        }
        return decoded(value);
      }
      case 'x':
        return parse_unicode_literal(2);
      case 'u':
        if (bytes_) break;
        return parse_unicode_literal(4);
      case 'U':
        if (bytes_) break;
        return parse_unicode_literal(8);
      case 'N':
        if (bytes_) break;
        return parse_named_unicode();
      default:
        break;
    }
    // Unrecognised: keep the backslash and the whole character after it.
    std::uint32_t length = char_length(source_, first);
    cursor_ = first + length;
    return EscapeResult{EscapeResult::Kind::Verbatim, 0, first, length};
  }

  // Reads exactly `count` hexadecimal digits (2, 4 or 8).
  DecodeResult<EscapeResult> parse_unicode_literal(int count) {
    std::uint32_t value = 0;
    for (int i = 0; i < count; ++i) {
      if (cursor_ >= size()) {
        return error(LexicalErrorType::UnexpectedUnicode, TextRange::empty(position(size())));
      }
      char c = source_[cursor_];
      if (!is_hex_digit(c)) {
        return error(LexicalErrorType::UnexpectedUnicode,
                     TextRange::at(position(cursor_), char_length(source_, cursor_)));
      }
      value = value * 16 + hex_value(c);
      ++cursor_;
    }
    // A lone surrogate cannot be held in UTF-8 text; it becomes U+FFFD.
    if (value >= 0xD800 && value <= 0xDFFF) return decoded(0xFFFD);
    if (value > 0x10FFFF) {
      return error(LexicalErrorType::UnexpectedUnicode, TextRange::empty(position(cursor_)));
    }
    return decoded(value);
  }

  std::uint32_t cursor() const { return cursor_; }
  void set_cursor(std::uint32_t cursor) { cursor_ = cursor; }
  std::uint32_t size() const { return static_cast<std::uint32_t>(source_.size()); }
  // Moves the file position of every later cursor value by `bytes`.
  void shift_offset(std::uint32_t bytes) { offset_ = TextOffset(offset_.raw + bytes); }

 private:
  // \N{name}, the cursor just after the N.
  DecodeResult<EscapeResult> parse_named_unicode() {
    std::uint32_t after_n = cursor_;
    if (cursor_ >= size() || source_[cursor_] != '{') {
      return error(LexicalErrorType::UnicodeEscapeMissingOpenBrace, TextRange::empty(position(after_n)));
    }
    std::uint32_t name_start = cursor_ + 1;
    std::string_view rest = source_.substr(name_start);
    std::size_t close = rest.find('}');
    if (close == std::string_view::npos) {
      return error(LexicalErrorType::UnicodeEscapeMissingCloseBrace, TextRange::empty(position(size())));
    }
    auto name_end = static_cast<std::uint32_t>(name_start + close);
    cursor_ = name_end + 1;
    std::optional<char32_t> character = character_from_name(rest.substr(0, close));
    if (!character) {
      return error(LexicalErrorType::UnexpectedUnicode, TextRange(position(name_start), position(name_end)));
    }
    return decoded(*character);
  }

  static EscapeResult decoded(char32_t character) { return EscapeResult{EscapeResult::Kind::Decoded, character}; }
  static LexicalError error(LexicalErrorType::Kind kind, TextRange range) { return LexicalError{kind, range}; }
  TextOffset position(std::uint32_t cursor) const { return TextOffset(offset_.raw + cursor); }

  std::string_view source_;
  std::uint32_t cursor_ = 0;
  TextOffset offset_;
  bool bytes_;
};

// Appends the result of one escape.
void append_escape(Output& out, const EscapeResult& escape, std::string_view source, bool bytes) {
  switch (escape.kind) {
    case EscapeResult::Kind::Decoded:
      if (bytes) {
        out.push(static_cast<char>(escape.character & 0xFF));
      } else {
        out.push_utf8(escape.character);
      }
      return;
    case EscapeResult::Kind::Verbatim:
      out.push('\\');
      out.append(source.substr(escape.at, escape.length));
      return;
    case EscapeResult::Kind::Nothing:
      return;
  }
}

// Positions are 32-bit file offsets: the body must end inside the token and
// inside the 4 GiB source limit (the lexer refuses larger sources).
void check_bounds(std::string_view source, TextOffset offset, TextRange range) {
  tolva::check(offset.raw >= range.start().raw && offset.raw <= range.end().raw &&
                   source.size() <= static_cast<std::size_t>(range.end().raw - offset.raw),
               "string literal body does not fit its token range");
}

struct NameAlias {
  std::string_view name;
  char32_t character;
};

constexpr NameAlias kNameAliases[] = {
#include "python_parser/unicode_name_aliases.inc"
};

constexpr bool aliases_sorted() {
  for (std::size_t i = 1; i < std::size(kNameAliases); ++i) {
    if (!(kNameAliases[i - 1].name < kNameAliases[i].name)) return false;
  }
  return true;
}
static_assert(aliases_sorted(), "unicode_name_aliases.inc must be sorted by name, without duplicates");

// No Unicode name or alias is longer than this (the longest has 88 bytes).
constexpr std::size_t kMaxCharacterNameLength = 256;

}  // namespace

std::optional<char32_t> character_from_name(std::string_view name) {
  if (name.empty() || name.size() > kMaxCharacterNameLength) return std::nullopt;
  // Upper case, NUL-terminated for ICU; names are ASCII, so a NUL or a
  // non-ASCII byte can never match.
  char upper[kMaxCharacterNameLength + 1];
  for (std::size_t i = 0; i < name.size(); ++i) {
    auto c = static_cast<unsigned char>(name[i]);
    if (c == 0 || c >= 0x80) return std::nullopt;
    upper[i] = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : static_cast<char>(c);
  }
  upper[name.size()] = '\0';
  std::string_view key(upper, name.size());

  const NameAlias* alias = std::lower_bound(std::begin(kNameAliases), std::end(kNameAliases), key,
                                            [](const NameAlias& entry, std::string_view k) { return entry.name < k; });
  if (alias != std::end(kNameAliases) && alias->name == key) return alias->character;

  UErrorCode status = U_ZERO_ERROR;
  UChar32 character = u_charFromName(U_UNICODE_CHAR_NAME, upper, &status);
  if (U_FAILURE(status) || character < 0 || character > 0x10FFFF) return std::nullopt;
  return static_cast<char32_t>(character);
}

DecodeResult<std::string_view> parse_string_literal(std::string_view source, AnyStringFlags flags, TextRange range,
                                                    python_ast::Arena& arena) {
  TextOffset offset(range.start().raw + flags.opener_len());
  check_bounds(source, offset, range);
  bool bytes = flags.is_bytes();

  if (bytes) {
    std::size_t at = find_non_ascii(source.data(), source.size());
    if (at != source.size()) {
      return LexicalError{LexicalErrorType::NonAsciiInBytes,
                          TextRange::at(TextOffset(offset.raw + static_cast<std::uint32_t>(at)),
                                        char_length(source, at))};
    }
  }
  if (flags.is_raw_string()) return source;

  std::size_t backslash = find_backslash(source.data(), source.size());
  if (backslash == source.size()) return source;

  StringParser parser(source, offset, bytes);
  Output out(arena, source.size());
  std::size_t copied = 0;  // source bytes before this index are in `out`
  while (true) {
    out.append(source.substr(copied, backslash - copied));
    parser.set_cursor(static_cast<std::uint32_t>(backslash + 1));
    DecodeResult<EscapeResult> escape = parser.parse_escaped_char();
    if (!escape) return std::move(escape).take_error();
    append_escape(out, escape.value(), source, bytes);
    copied = parser.cursor();
    std::size_t next = find_backslash(source.data() + copied, source.size() - copied);
    if (next == source.size() - copied) break;
    backslash = copied + next;
  }
  out.append(source.substr(copied));
  return out.view();
}

DecodeResult<std::string_view> parse_interpolated_string_literal_element(std::string_view source,
                                                                         AnyStringFlags flags, TextRange range,
                                                                         python_ast::Arena& arena) {
  check_bounds(source, range.start(), range);
  std::size_t found = find_brace_or_backslash(source.data(), source.size());
  if (found == source.size()) return source;

  bool raw = flags.is_raw_string();
  StringParser parser(source, range.start(), /*bytes=*/false);
  Output out(arena, source.size());
  std::size_t copied = 0;
  while (true) {
    out.append(source.substr(copied, found - copied));
    char c = source[found];
    parser.set_cursor(static_cast<std::uint32_t>(found + 1));
    if (c == '{' || c == '}') {
      // The lexer collapsed a doubled brace of the file into this one.
      out.push(c);
      parser.shift_offset(1);
    } else if (c == '\\') {
      if (raw || found + 1 == source.size()) {
        out.push('\\');
      } else {
        char next = source[found + 1];
        DecodeResult<EscapeResult> escape = parser.parse_escaped_char();
        if (!escape) return std::move(escape).take_error();
        append_escape(out, escape.value(), source, /*bytes=*/false);
        // A backslash before a brace: the brace is one of a collapsed pair
        // ("\{{" in the file), kept verbatim with its backslash.
        if (next == '{' || next == '}') parser.shift_offset(1);
      }
    } else {
      tolva::fatal(std::string("internal error: entered unreachable code: Expected '{', '}', or '\\\\' but got '") +
                   c + "'");
    }
    copied = parser.cursor();
    std::size_t next = find_brace_or_backslash(source.data() + copied, source.size() - copied);
    if (next == source.size() - copied) break;
    found = copied + next;
  }
  out.append(source.substr(copied));
  return out.view();
}

}  // namespace python_parser
