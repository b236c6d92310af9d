#pragma once

// Decoding of string and bytes literals and of the literal parts of f-strings
// and t-strings.
//
// The lexer hands over a literal's body undecoded (the text between the
// quotes, or one literal part of an interpolated string with its doubled
// braces already collapsed). The parser calls one of the two functions below
// once per String token and once per literal part; they decode escapes,
// remove line continuations and check bytes literals for non-ASCII
// characters.
//
// Cost contract: a body without backslashes (and any raw body) comes back as
// `source` itself, with no copy and no allocation. Otherwise the value is
// written once into `arena`, into a block of `source.size()` bytes (no escape
// yields more bytes than it occupies in the source), so decoding never grows
// a buffer and never touches the heap. Errors carry no heap data either.
//
// Lifetime: the returned value views either `source` or `arena`; `source`
// must therefore outlive the tree (the lexer's bodies are views of the source
// text or arena-held).
//
// Error positions are file offsets. For a String token the decoder places
// `source` at range.start + prefix length + quote length; for a literal part
// at range.start. An empty error range marks a point (end of the text, just
// after `\N`, just after the last hex digit); a non-empty one covers the
// offending character or the name that has no character.

#include <cstdint>
#include <optional>
#include <string_view>
#include <utility>
#include <variant>

#include "python_ast/arena.h"
#include "python_ast/string_flags.h"
#include "python_parser/error.h"
#include "support/fatal_error.h"
#include "text_size/text_size.h"

namespace python_parser {

// A decoded value or the first error that ended decoding.
template <class T>
class [[nodiscard]] DecodeResult {
 public:
  DecodeResult(T value) : state_(std::in_place_index<0>, std::move(value)) {}  // NOLINT: implicit by design
  DecodeResult(LexicalError error) : state_(std::in_place_index<1>, std::move(error)) {}  // NOLINT

  bool has_value() const noexcept { return state_.index() == 0; }
  explicit operator bool() const noexcept { return has_value(); }

  const T& value() const {
    tolva::check(has_value(), "called `DecodeResult::value()` on an error");
    return std::get<0>(state_);
  }
  const LexicalError& error() const {
    tolva::check(!has_value(), "called `DecodeResult::error()` on a value");
    return std::get<1>(state_);
  }
  LexicalError&& take_error() && {
    tolva::check(!has_value(), "called `DecodeResult::error()` on a value");
    return std::get<1>(std::move(state_));
  }

 private:
  std::variant<T, LexicalError> state_;
};

// Decodes the body of one String token.
//
// `flags` are the token's string flags: with the b flag the value is a byte
// sequence (one char per byte, never above 0x7F in the source; escapes give
// any byte), otherwise UTF-8 text. `range` is the whole token's range, prefix
// and quotes included. Raw literals come back unchanged (a raw bytes literal
// is still checked for non-ASCII characters).
//
// Errors: UnexpectedString (a backslash ends the text), UnexpectedUnicode
// (bad \x, \u, \U digits, a value above U+10FFFF, an unknown \N name),
// UnicodeEscapeMissingOpenBrace / UnicodeEscapeMissingCloseBrace (a \N
// without its braces), NonAsciiInBytes.
DecodeResult<std::string_view> parse_string_literal(std::string_view source, python_ast::AnyStringFlags flags,
                                                    text_size::TextRange range, python_ast::Arena& arena);

// Decodes one literal part of an f-string or t-string.
//
// `flags` are the interpolated string's flags (only the raw bits matter);
// `range` is the part's token range, which starts at the part's first
// character. A brace in `source` stands for a doubled brace of the file (the
// lexer collapsed it), so each one moves the file position of what follows by
// one more byte. A backslash that ends the part is kept as it is (the part
// may end where an interpolation starts, as in f'\{x}'); in a raw part every
// backslash is kept. Errors as for parse_string_literal, NonAsciiInBytes
// excepted.
DecodeResult<std::string_view> parse_interpolated_string_literal_element(std::string_view source,
                                                                         python_ast::AnyStringFlags flags,
                                                                         text_size::TextRange range,
                                                                         python_ast::Arena& arena);

// The character whose Unicode name or formal name alias is `name`, as the
// \N{...} escape accepts it: letter case is ignored; spaces and hyphens must
// be exact. Character names come from ICU (algorithmic names of Hangul
// syllables and CJK ideographs included), the aliases from the generated
// table (control names, abbreviations, corrections, ...). Nothing for an
// unknown name, and for a name that holds a NUL or a non-ASCII byte or is
// longer than any Unicode name.
std::optional<char32_t> character_from_name(std::string_view name);

}  // namespace python_parser
