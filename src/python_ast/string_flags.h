#pragma once

// The flags of string literals: prefix, quotes and state.
//
// `AnyStringFlags` (16 bits) describes any literal: plain string, bytes,
// f-string or t-string. Its layout is the one the lexer's `TokenFlags` uses,
// so the parser turns a token's flags into these by copying the bits:
//
//   0x001 double quotes (clear: single)   0x020 prefix t
//   0x002 triple quotes                   0x040 prefix r
//   0x004 prefix u                        0x080 prefix R
//   0x008 prefix b                        0x100 unclosed
//   0x010 prefix f
//
// Every syntax-tree literal keeps a per-kind 8-bit form instead, converted
// with `X::from(AnyStringFlags)`:
//
//   bit   StringLiteralFlags  BytesLiteralFlags  FStringFlags  TStringFlags
//   0x01  double quotes       double quotes      double quotes double quotes
//   0x02  triple quotes       triple quotes      triple quotes triple quotes
//   0x04  u                   r                  r             r
//   0x08  r                   R                  R             R
//   0x10  R                   invalid            unclosed      unclosed
//   0x20  invalid             unclosed
//   0x40  unclosed
//
// "Invalid" marks a literal whose decoding failed, or a placeholder standing
// for a part of another kind in a mixed implicit concatenation; its value is
// empty. Converting flags of the wrong family (bytes flags into a regular
// string, ...) is a broken invariant of the caller and throws FatalError.
//
// All flag types share the queries of `StringFlagsQueries`: `quote_style()`,
// `is_triple_quoted()`, `prefix()` and what follows from them.

#include <cstdint>
#include <ostream>
#include <string_view>

#include "python_ast/str_prefix.h"

namespace python_ast {

enum class Quote : std::uint8_t { Single, Double };
enum class TripleQuotes : std::uint8_t { No, Yes };

constexpr char quote_char(Quote quote) { return quote == Quote::Double ? '"' : '\''; }

// The queries every flag type answers, from its `quote_style()`,
// `is_triple_quoted()` and `prefix()`.
template <class Flags>
class StringFlagsQueries {
 public:
  // The quotes that open (and close) the literal: ', ", ''' or """.
  constexpr std::string_view quote_str() const {
    const Flags& self = static_cast<const Flags&>(*this);
    if (self.quote_style() == Quote::Double) return self.is_triple_quoted() ? "\"\"\"" : "\"";
    return self.is_triple_quoted() ? "'''" : "'";
  }
  // 1, or 3 for triple quotes.
  constexpr std::uint32_t quote_len() const {
    return static_cast<const Flags&>(*this).is_triple_quoted() ? 3 : 1;
  }
  // The bytes before the body: the prefix (0, 1 or 2 letters) and the quotes.
  constexpr std::uint32_t opener_len() const {
    return static_cast<std::uint32_t>(prefix_text(static_cast<const Flags&>(*this).prefix()).size()) + quote_len();
  }
  constexpr bool is_raw_string() const { return is_raw_prefix(static_cast<const Flags&>(*this).prefix()); }

  // Stateless: lets the flag types default their own comparison.
  constexpr bool operator==(const StringFlagsQueries&) const = default;
};

class AnyStringFlags : public StringFlagsQueries<AnyStringFlags> {
 public:
  // Bit masks; `TokenFlags` names the same bits.
  static constexpr std::uint16_t kDoubleQuoted = 0x001;
  static constexpr std::uint16_t kTripleQuoted = 0x002;
  static constexpr std::uint16_t kPrefixU = 0x004;
  static constexpr std::uint16_t kPrefixB = 0x008;
  static constexpr std::uint16_t kPrefixF = 0x010;
  static constexpr std::uint16_t kPrefixT = 0x020;
  static constexpr std::uint16_t kPrefixLowerR = 0x040;
  static constexpr std::uint16_t kPrefixUpperR = 0x080;
  static constexpr std::uint16_t kUnclosed = 0x100;
  static constexpr std::uint16_t kAllBits = 0x1FF;

  // Single quotes, no prefix, closed.
  constexpr AnyStringFlags() = default;

  // The flags of a closed literal with this prefix and these quotes.
  constexpr AnyStringFlags(AnyStringPrefix prefix, Quote quote, TripleQuotes triple)
      : bits_(static_cast<std::uint16_t>(prefix_bits(prefix) | (quote == Quote::Double ? kDoubleQuoted : 0) |
                                         (triple == TripleQuotes::Yes ? kTripleQuoted : 0))) {}

  // Bits outside kAllBits are dropped.
  static constexpr AnyStringFlags from_bits(std::uint16_t bits) {
    AnyStringFlags flags;
    flags.bits_ = static_cast<std::uint16_t>(bits & kAllBits);
    return flags;
  }
  constexpr std::uint16_t bits() const { return bits_; }

  constexpr Quote quote_style() const { return (bits_ & kDoubleQuoted) ? Quote::Double : Quote::Single; }
  constexpr bool is_triple_quoted() const { return bits_ & kTripleQuoted; }
  constexpr bool is_unclosed() const { return bits_ & kUnclosed; }

  // The prefix, decided in this order: f, then t, then b (each family
  // taking r before R), then r, R, u, and otherwise the empty prefix.
  constexpr AnyStringPrefix prefix() const {
    if (bits_ & kPrefixF) return raw_variant(AnyStringPrefix::Format);
    if (bits_ & kPrefixT) return raw_variant(AnyStringPrefix::Template);
    if (bits_ & kPrefixB) return raw_variant(AnyStringPrefix::Bytes);
    if (bits_ & kPrefixLowerR) return AnyStringPrefix::Raw;
    if (bits_ & kPrefixUpperR) return AnyStringPrefix::RawUpper;
    if (bits_ & kPrefixU) return AnyStringPrefix::Unicode;
    return AnyStringPrefix::Empty;
  }

  constexpr bool is_fstring() const { return bits_ & kPrefixF; }
  constexpr bool is_tstring() const { return (bits_ & kPrefixT) && !(bits_ & kPrefixF); }
  constexpr bool is_interpolated_string() const { return bits_ & (kPrefixF | kPrefixT); }
  constexpr bool is_bytes() const { return (bits_ & kPrefixB) && !is_interpolated_string(); }

  constexpr bool operator==(const AnyStringFlags&) const = default;

  // The prefix bits of a prefix (no quote bits).
  static constexpr std::uint16_t prefix_bits(AnyStringPrefix prefix) {
    switch (prefix) {
      case AnyStringPrefix::Empty: return 0;
      case AnyStringPrefix::Unicode: return kPrefixU;
      case AnyStringPrefix::Raw: return kPrefixLowerR;
      case AnyStringPrefix::RawUpper: return kPrefixUpperR;
      case AnyStringPrefix::Bytes: return kPrefixB;
      case AnyStringPrefix::RawBytes: return kPrefixB | kPrefixLowerR;
      case AnyStringPrefix::RawUpperBytes: return kPrefixB | kPrefixUpperR;
      case AnyStringPrefix::Format: return kPrefixF;
      case AnyStringPrefix::RawFormat: return kPrefixF | kPrefixLowerR;
      case AnyStringPrefix::RawUpperFormat: return kPrefixF | kPrefixUpperR;
      case AnyStringPrefix::Template: return kPrefixT;
      case AnyStringPrefix::RawTemplate: return kPrefixT | kPrefixLowerR;
      case AnyStringPrefix::RawUpperTemplate: return kPrefixT | kPrefixUpperR;
    }
    return 0;
  }

 private:
  // `plain` is the family's prefix without r; the next two enumerators are
  // its r and R forms.
  constexpr AnyStringPrefix raw_variant(AnyStringPrefix plain) const {
    int offset = (bits_ & kPrefixLowerR) ? 1 : (bits_ & kPrefixUpperR) ? 2 : 0;
    return static_cast<AnyStringPrefix>(static_cast<int>(plain) + offset);
  }

  std::uint16_t bits_ = 0;
};

namespace string_flags_detail {
// Throws FatalError "internal error: entered unreachable code: Should never
// attempt to convert {prefix} into {target}".
[[noreturn]] void wrong_family(AnyStringFlags flags, std::string_view target);
}  // namespace string_flags_detail

// A plain string literal: quotes, u / r / R, invalid, unclosed.
class StringLiteralFlags : public StringFlagsQueries<StringLiteralFlags> {
 public:
  static constexpr std::uint8_t kDoubleQuoted = 0x01;
  static constexpr std::uint8_t kTripleQuoted = 0x02;
  static constexpr std::uint8_t kPrefixU = 0x04;
  static constexpr std::uint8_t kPrefixLowerR = 0x08;
  static constexpr std::uint8_t kPrefixUpperR = 0x10;
  static constexpr std::uint8_t kInvalid = 0x20;
  static constexpr std::uint8_t kUnclosed = 0x40;
  static constexpr std::uint8_t kAllBits = 0x7F;

  constexpr StringLiteralFlags() = default;
  static constexpr StringLiteralFlags empty() { return {}; }
  static constexpr StringLiteralFlags from_bits(std::uint8_t bits) { return StringLiteralFlags(bits & kAllBits); }

  // Requires none of b, f, t. Keeps the quotes, the raw bit (r before R),
  // u only when no raw bit is set, and unclosed; never sets invalid.
  static constexpr StringLiteralFlags from(AnyStringFlags any) {
    std::uint16_t bits = any.bits();
    if (bits & (AnyStringFlags::kPrefixB | AnyStringFlags::kPrefixF | AnyStringFlags::kPrefixT)) [[unlikely]] {
      string_flags_detail::wrong_family(any, "a regular string");
    }
    std::uint8_t out = quote_bits(bits);
    if (bits & AnyStringFlags::kPrefixLowerR) {
      out |= kPrefixLowerR;
    } else if (bits & AnyStringFlags::kPrefixUpperR) {
      out |= kPrefixUpperR;
    } else if (bits & AnyStringFlags::kPrefixU) {
      out |= kPrefixU;
    }
    if (bits & AnyStringFlags::kUnclosed) out |= kUnclosed;
    return StringLiteralFlags(out);
  }

  constexpr std::uint8_t bits() const { return bits_; }
  constexpr Quote quote_style() const { return (bits_ & kDoubleQuoted) ? Quote::Double : Quote::Single; }
  constexpr bool is_triple_quoted() const { return bits_ & kTripleQuoted; }
  constexpr bool is_invalid() const { return bits_ & kInvalid; }
  constexpr bool is_unclosed() const { return bits_ & kUnclosed; }
  constexpr AnyStringPrefix prefix() const {
    if (bits_ & kPrefixLowerR) return AnyStringPrefix::Raw;
    if (bits_ & kPrefixUpperR) return AnyStringPrefix::RawUpper;
    if (bits_ & kPrefixU) return AnyStringPrefix::Unicode;
    return AnyStringPrefix::Empty;
  }
  constexpr StringLiteralFlags with_invalid() const { return StringLiteralFlags(bits_ | kInvalid); }

  constexpr bool operator==(const StringLiteralFlags&) const = default;

 private:
  constexpr explicit StringLiteralFlags(unsigned bits) : bits_(static_cast<std::uint8_t>(bits)) {}
  static constexpr std::uint8_t quote_bits(std::uint16_t any) {
    return static_cast<std::uint8_t>(any & (AnyStringFlags::kDoubleQuoted | AnyStringFlags::kTripleQuoted));
  }
  std::uint8_t bits_ = 0;
};

// A bytes literal: quotes, r / R, invalid, unclosed. Its prefix always
// holds the b.
class BytesLiteralFlags : public StringFlagsQueries<BytesLiteralFlags> {
 public:
  static constexpr std::uint8_t kDoubleQuoted = 0x01;
  static constexpr std::uint8_t kTripleQuoted = 0x02;
  static constexpr std::uint8_t kPrefixLowerR = 0x04;
  static constexpr std::uint8_t kPrefixUpperR = 0x08;
  static constexpr std::uint8_t kInvalid = 0x10;
  static constexpr std::uint8_t kUnclosed = 0x20;
  static constexpr std::uint8_t kAllBits = 0x3F;

  constexpr BytesLiteralFlags() = default;
  static constexpr BytesLiteralFlags empty() { return {}; }
  static constexpr BytesLiteralFlags from_bits(std::uint8_t bits) { return BytesLiteralFlags(bits & kAllBits); }

  // Requires b and neither f nor t.
  static constexpr BytesLiteralFlags from(AnyStringFlags any) {
    std::uint16_t bits = any.bits();
    if (!(bits & AnyStringFlags::kPrefixB) || (bits & (AnyStringFlags::kPrefixF | AnyStringFlags::kPrefixT)))
        [[unlikely]] {
      string_flags_detail::wrong_family(any, "a bytestring");
    }
    std::uint8_t out = static_cast<std::uint8_t>(bits & (kDoubleQuoted | kTripleQuoted));
    if (bits & AnyStringFlags::kPrefixLowerR) {
      out |= kPrefixLowerR;
    } else if (bits & AnyStringFlags::kPrefixUpperR) {
      out |= kPrefixUpperR;
    }
    if (bits & AnyStringFlags::kUnclosed) out |= kUnclosed;
    return BytesLiteralFlags(out);
  }

  constexpr std::uint8_t bits() const { return bits_; }
  constexpr Quote quote_style() const { return (bits_ & kDoubleQuoted) ? Quote::Double : Quote::Single; }
  constexpr bool is_triple_quoted() const { return bits_ & kTripleQuoted; }
  constexpr bool is_invalid() const { return bits_ & kInvalid; }
  constexpr bool is_unclosed() const { return bits_ & kUnclosed; }
  constexpr AnyStringPrefix prefix() const {
    if (bits_ & kPrefixLowerR) return AnyStringPrefix::RawBytes;
    if (bits_ & kPrefixUpperR) return AnyStringPrefix::RawUpperBytes;
    return AnyStringPrefix::Bytes;
  }
  constexpr BytesLiteralFlags with_invalid() const { return BytesLiteralFlags(bits_ | kInvalid); }

  constexpr bool operator==(const BytesLiteralFlags&) const = default;

 private:
  constexpr explicit BytesLiteralFlags(unsigned bits) : bits_(static_cast<std::uint8_t>(bits)) {}
  std::uint8_t bits_ = 0;
};

namespace string_flags_detail {

// The common 5-bit layout of FStringFlags and TStringFlags.
template <class Self>
class InterpolatedStringFlags : public StringFlagsQueries<Self> {
 public:
  static constexpr std::uint8_t kDoubleQuoted = 0x01;
  static constexpr std::uint8_t kTripleQuoted = 0x02;
  static constexpr std::uint8_t kPrefixLowerR = 0x04;
  static constexpr std::uint8_t kPrefixUpperR = 0x08;
  static constexpr std::uint8_t kUnclosed = 0x10;
  static constexpr std::uint8_t kAllBits = 0x1F;

  constexpr std::uint8_t bits() const { return bits_; }
  constexpr Quote quote_style() const { return (bits_ & kDoubleQuoted) ? Quote::Double : Quote::Single; }
  constexpr bool is_triple_quoted() const { return bits_ & kTripleQuoted; }
  constexpr bool is_unclosed() const { return bits_ & kUnclosed; }

  constexpr bool operator==(const InterpolatedStringFlags&) const = default;

 protected:
  constexpr InterpolatedStringFlags() = default;
  constexpr explicit InterpolatedStringFlags(unsigned bits) : bits_(static_cast<std::uint8_t>(bits & kAllBits)) {}

  // The per-kind bits of flags already known to be of this family.
  static constexpr std::uint8_t convert(std::uint16_t bits) {
    std::uint8_t out = static_cast<std::uint8_t>(bits & (kDoubleQuoted | kTripleQuoted));
    if (bits & AnyStringFlags::kPrefixLowerR) {
      out |= kPrefixLowerR;
    } else if (bits & AnyStringFlags::kPrefixUpperR) {
      out |= kPrefixUpperR;
    }
    if (bits & AnyStringFlags::kUnclosed) out |= kUnclosed;
    return out;
  }
  // `plain` is the family's prefix without r; the next two are its r, R forms.
  constexpr AnyStringPrefix family_prefix(AnyStringPrefix plain) const {
    int offset = (bits_ & kPrefixLowerR) ? 1 : (bits_ & kPrefixUpperR) ? 2 : 0;
    return static_cast<AnyStringPrefix>(static_cast<int>(plain) + offset);
  }

 private:
  std::uint8_t bits_ = 0;
};

}  // namespace string_flags_detail

// One f-string literal: quotes, r / R, unclosed.
class FStringFlags : public string_flags_detail::InterpolatedStringFlags<FStringFlags> {
 public:
  constexpr FStringFlags() = default;
  static constexpr FStringFlags empty() { return {}; }
  static constexpr FStringFlags from_bits(std::uint8_t bits) { return FStringFlags(bits); }

  // Requires f.
  static constexpr FStringFlags from(AnyStringFlags any) {
    if (!(any.bits() & AnyStringFlags::kPrefixF)) [[unlikely]] {
      string_flags_detail::wrong_family(any, "an f-string");
    }
    return FStringFlags(convert(any.bits()));
  }

  constexpr AnyStringPrefix prefix() const { return family_prefix(AnyStringPrefix::Format); }

 private:
  constexpr explicit FStringFlags(unsigned bits) : InterpolatedStringFlags(bits) {}
};

// One t-string literal: quotes, r / R, unclosed.
class TStringFlags : public string_flags_detail::InterpolatedStringFlags<TStringFlags> {
 public:
  constexpr TStringFlags() = default;
  static constexpr TStringFlags empty() { return {}; }
  static constexpr TStringFlags from_bits(std::uint8_t bits) { return TStringFlags(bits); }

  // Requires t and no f.
  static constexpr TStringFlags from(AnyStringFlags any) {
    if (!(any.bits() & AnyStringFlags::kPrefixT) || (any.bits() & AnyStringFlags::kPrefixF)) [[unlikely]] {
      string_flags_detail::wrong_family(any, "a t-string");
    }
    return TStringFlags(convert(any.bits()));
  }

  constexpr AnyStringPrefix prefix() const { return family_prefix(AnyStringPrefix::Template); }

 private:
  constexpr explicit TStringFlags(unsigned bits) : InterpolatedStringFlags(bits) {}
};

// Debug forms for test failures and dumps: the bits in hex, e.g. "0x08b".
std::ostream& operator<<(std::ostream& out, AnyStringFlags flags);
std::ostream& operator<<(std::ostream& out, StringLiteralFlags flags);
std::ostream& operator<<(std::ostream& out, BytesLiteralFlags flags);
std::ostream& operator<<(std::ostream& out, FStringFlags flags);
std::ostream& operator<<(std::ostream& out, TStringFlags flags);

}  // namespace python_ast
