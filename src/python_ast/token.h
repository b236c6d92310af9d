#pragma once

// One lexed token, the string flags it carries, and the token list of a parse.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <ostream>
#include <span>
#include <type_traits>
#include <utility>
#include <vector>

#include "python_ast/string_flags.h"
#include "python_ast/token_kind.h"
#include "support/fatal_error.h"
#include "text_size/text_size.h"

namespace python_ast {

// The string properties of a String token or of a part of an f-string or
// t-string; empty on every other token. Same bit layout as AnyStringFlags:
//
//   kDoubleQuoted  0x001  delimited by double quotes (clear: single quotes)
//   kTripleQuoted  0x002  delimited by three quotes
//   kPrefixU       0x004  prefix "u" or "U"
//   kPrefixB       0x008  prefix "b" or "B"
//   kPrefixF       0x010  prefix "f" or "F" (the f-string kinds)
//   kPrefixT       0x020  prefix "t" or "T" (the t-string kinds)
//   kPrefixLowerR  0x040  prefix "r"
//   kPrefixUpperR  0x080  prefix "R"
//   kUnclosed      0x100  the string or part lacks its closing quote(s)
//
// The lexer keeps at most one of b, f, t, u and at most one raw bit, and never
// combines u with a raw bit.
class TokenFlags {
 public:
  static const TokenFlags kDoubleQuoted;
  static const TokenFlags kTripleQuoted;
  static const TokenFlags kPrefixU;
  static const TokenFlags kPrefixB;
  static const TokenFlags kPrefixF;
  static const TokenFlags kPrefixT;
  static const TokenFlags kPrefixLowerR;
  static const TokenFlags kPrefixUpperR;
  static const TokenFlags kUnclosed;

  constexpr TokenFlags() = default;
  // Bits outside the nine above are dropped.
  static constexpr TokenFlags from_bits(std::uint16_t bits) {
    return TokenFlags(static_cast<std::uint16_t>(bits & AnyStringFlags::kAllBits));
  }
  constexpr std::uint16_t bits() const { return bits_; }

  constexpr bool is_empty() const { return bits_ == 0; }
  // Whether every bit of `other` is set.
  constexpr bool contains(TokenFlags other) const { return (bits_ & other.bits_) == other.bits_; }
  // Whether any bit of `other` is set.
  constexpr bool intersects(TokenFlags other) const { return (bits_ & other.bits_) != 0; }
  constexpr void insert(TokenFlags other) { bits_ = static_cast<std::uint16_t>(bits_ | other.bits_); }
  constexpr void remove(TokenFlags other) { bits_ = static_cast<std::uint16_t>(bits_ & ~other.bits_); }

  constexpr TokenFlags operator|(TokenFlags other) const { return TokenFlags(bits_ | other.bits_); }
  constexpr TokenFlags operator&(TokenFlags other) const { return TokenFlags(bits_ & other.bits_); }
  constexpr TokenFlags& operator|=(TokenFlags other) {
    insert(other);
    return *this;
  }

  constexpr bool is_triple_quoted() const { return bits_ & AnyStringFlags::kTripleQuoted; }
  constexpr bool is_unclosed() const { return bits_ & AnyStringFlags::kUnclosed; }
  constexpr bool is_raw_string() const {
    return bits_ & (AnyStringFlags::kPrefixLowerR | AnyStringFlags::kPrefixUpperR);
  }
  constexpr bool is_interpolated_string() const {
    return bits_ & (AnyStringFlags::kPrefixF | AnyStringFlags::kPrefixT);
  }
  // Triple quotes and f or t: the token belongs to a triple-quoted f-string or
  // t-string, in which line breaks do not end a format specifier.
  constexpr bool is_triple_quoted_interpolated_string() const {
    return is_triple_quoted() && is_interpolated_string();
  }

  // The same bits as the flags of a string literal.
  constexpr AnyStringFlags as_any_string_flags() const { return AnyStringFlags::from_bits(bits_); }

  constexpr bool operator==(const TokenFlags&) const = default;

 private:
  constexpr explicit TokenFlags(unsigned bits) : bits_(static_cast<std::uint16_t>(bits)) {}
  std::uint16_t bits_ = 0;
};

inline constexpr TokenFlags TokenFlags::kDoubleQuoted{AnyStringFlags::kDoubleQuoted};
inline constexpr TokenFlags TokenFlags::kTripleQuoted{AnyStringFlags::kTripleQuoted};
inline constexpr TokenFlags TokenFlags::kPrefixU{AnyStringFlags::kPrefixU};
inline constexpr TokenFlags TokenFlags::kPrefixB{AnyStringFlags::kPrefixB};
inline constexpr TokenFlags TokenFlags::kPrefixF{AnyStringFlags::kPrefixF};
inline constexpr TokenFlags TokenFlags::kPrefixT{AnyStringFlags::kPrefixT};
inline constexpr TokenFlags TokenFlags::kPrefixLowerR{AnyStringFlags::kPrefixLowerR};
inline constexpr TokenFlags TokenFlags::kPrefixUpperR{AnyStringFlags::kPrefixUpperR};
inline constexpr TokenFlags TokenFlags::kUnclosed{AnyStringFlags::kUnclosed};

// The bits in hex, e.g. "0x013".
std::ostream& operator<<(std::ostream& out, TokenFlags flags);

// One lexed token: 12 bytes, copied by value.
struct Token {
  text_size::TextRange range;
  TokenFlags flags;
  TokenKind kind = TokenKind::EndOfFile;

  constexpr bool operator==(const Token&) const = default;
};

static_assert(sizeof(Token) <= 12, "a token is a range, 16 bits of flags and an 8-bit kind");
static_assert(std::is_trivially_copyable_v<Token>);
static_assert(std::is_trivially_destructible_v<Token>);

// "Lpar 3..4 0x000": debug name, range, flags.
std::ostream& operator<<(std::ostream& out, const Token& token);

// The tokens of one parse, in source order, trivia included and the final
// EndOfFile excluded. Users read it as a sequence; only the token source
// appends, and truncates when the parser rewinds to a checkpoint.
//
// Token is trivially copyable, so the buffer is plain memory: lists up to a
// few megabytes live on the heap, larger ones in a mapping of their own,
// which grows by remapping its pages (never by copying them into fresh ones)
// and is offered huge pages. Copying and faulting in pages is most of what a
// long file's token list would otherwise cost.
class Tokens {
 public:
  using const_iterator = const Token*;

  Tokens() = default;
  explicit Tokens(const std::vector<Token>& tokens);
  Tokens(const Tokens& other);
  Tokens& operator=(const Tokens& other);
  Tokens(Tokens&& other) noexcept
      : data_(std::exchange(other.data_, nullptr)),
        size_(std::exchange(other.size_, 0)),
        capacity_(std::exchange(other.capacity_, 0)) {}
  Tokens& operator=(Tokens&& other) noexcept;
  ~Tokens() { release(); }

  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  const_iterator begin() const { return data_; }
  const_iterator end() const { return data_ + size_; }
  // The token at `index`; an index at or past size() throws FatalError.
  const Token& operator[](std::size_t index) const {
    if (index >= size_) [[unlikely]] index_out_of_bounds(index);
    return data_[index];
  }
  std::span<const Token> as_span() const { return {data_, size_}; }

  // For the token source.
  void push_back(Token token) {
    if (size_ == capacity_) [[unlikely]] grow(size_ + 1);
    data_[size_++] = token;
  }
  void reserve(std::size_t capacity) {
    if (capacity > capacity_) grow(capacity);
  }
  // Keeps the first `length` tokens; a length at or beyond size() changes
  // nothing.
  void truncate(std::size_t length) {
    if (length < size_) size_ = length;
  }

 private:
  // Makes room for at least `capacity` tokens, at least doubling.
  void grow(std::size_t capacity);
  void release() noexcept;
  [[noreturn]] void index_out_of_bounds(std::size_t index) const;

  Token* data_ = nullptr;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};

}  // namespace python_ast
