#pragma once

// String literal nodes, interpolated-string elements and the values of the
// string expressions.
//
// A string expression holds a value that is either one literal as written or
// an implicit concatenation of two or more adjacent literals, in source
// order. The values are built once, by `single` or `concatenated`, which copy
// the parts into the parse's arena; the joined text of a concatenated plain
// string is computed right there, so a finished tree is never written to
// again and any number of threads may read it.

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "python_ast/arena.h"
#include "python_ast/nodes_family.h"
#include "python_ast/string_flags.h"

namespace python_ast {

// The ordered elements of an f-string, a t-string or a format specifier.
using InterpolatedStringElements = std::span<InterpolatedStringElement*>;

// One plain string literal as written. `value` is the decoded text (escapes
// processed), a view of the source or of arena text.
struct StringLiteral {
  TOLVA_NODE_RECORD(StringLiteral)

  AtomicNodeIndex node_index;
  text_size::TextRange range;
  std::string_view value;
  StringLiteralFlags flags;

  StringLiteral() = default;
  StringLiteral(text_size::TextRange range, std::string_view value, StringLiteralFlags flags)
      : range(range), value(value), flags(flags) {}

  // A placeholder for `range`: empty value, only the invalid bit set. It
  // stands for an undecodable literal or for a part of another kind in a
  // mixed concatenation.
  static StringLiteral invalid(text_size::TextRange range) {
    return StringLiteral(range, {}, StringLiteralFlags::empty().with_invalid());
  }
};

// One bytes literal as written; `value` holds the decoded bytes.
struct BytesLiteral {
  TOLVA_NODE_RECORD(BytesLiteral)

  AtomicNodeIndex node_index;
  text_size::TextRange range;
  std::string_view value;
  BytesLiteralFlags flags;

  BytesLiteral() = default;
  BytesLiteral(text_size::TextRange range, std::string_view value, BytesLiteralFlags flags)
      : range(range), value(value), flags(flags) {}
};

// One f-string literal as written, from its start token to its end token.
struct FStringLiteralPart {
  TOLVA_NODE_RECORD(FStringLiteralPart)

  AtomicNodeIndex node_index;
  text_size::TextRange range;
  InterpolatedStringElements elements;
  FStringFlags flags;

  FStringLiteralPart() = default;
  FStringLiteralPart(text_size::TextRange range, InterpolatedStringElements elements, FStringFlags flags)
      : range(range), elements(elements), flags(flags) {}
};

// One t-string literal as written.
struct TString {
  TOLVA_NODE_RECORD(TString)

  AtomicNodeIndex node_index;
  text_size::TextRange range;
  InterpolatedStringElements elements;
  TStringFlags flags;

  TString() = default;
  TString(text_size::TextRange range, InterpolatedStringElements elements, TStringFlags flags)
      : range(range), elements(elements), flags(flags) {}
};

// One part of an f-string value: a plain string literal or an f-string
// literal.
class FStringPart {
 public:
  enum class Kind : std::uint8_t { Literal, FString };

  FStringPart() : kind_(Kind::Literal), literal_() {}
  FStringPart(const StringLiteral& literal) : kind_(Kind::Literal), literal_(literal) {}  // NOLINT: implicit
  FStringPart(const FStringLiteralPart& fstring) : kind_(Kind::FString), fstring_(fstring) {}  // NOLINT

  Kind kind() const { return kind_; }
  // The part as a plain literal, or nullptr.
  const StringLiteral* as_literal() const { return kind_ == Kind::Literal ? &literal_ : nullptr; }
  // The part as an f-string literal, or nullptr.
  const FStringLiteralPart* as_fstring() const { return kind_ == Kind::FString ? &fstring_ : nullptr; }
  text_size::TextRange range() const { return kind_ == Kind::Literal ? literal_.range : fstring_.range; }

 private:
  Kind kind_;
  union {
    StringLiteral literal_;
    FStringLiteralPart fstring_;
  };
};

// The value of a plain string expression.
class StringLiteralValue {
 public:
  // One literal, copied into `arena`.
  static StringLiteralValue single(Arena& arena, const StringLiteral& literal);
  // Two or more literals, copied into `arena`, with their joined text.
  // Fewer than two parts throws FatalError "Use `StringLiteralValue::single`
  // to create single-part strings".
  static StringLiteralValue concatenated(Arena& arena, std::span<const StringLiteral> parts);

  std::span<const StringLiteral> parts() const { return parts_; }
  bool is_implicit_concatenated() const { return parts_.size() > 1; }
  // The whole text: the single literal's value, or every part's value joined.
  std::string_view to_str() const { return text_; }

 private:
  StringLiteralValue(std::span<const StringLiteral> parts, std::string_view text) : parts_(parts), text_(text) {}

  std::span<const StringLiteral> parts_;
  std::string_view text_;
};

// The value of a bytes expression.
class BytesLiteralValue {
 public:
  static BytesLiteralValue single(Arena& arena, const BytesLiteral& literal);
  // Fewer than two parts throws FatalError "Use `BytesLiteralValue::single`
  // to create single-part bytestrings".
  static BytesLiteralValue concatenated(Arena& arena, std::span<const BytesLiteral> parts);

  std::span<const BytesLiteral> parts() const { return parts_; }
  bool is_implicit_concatenated() const { return parts_.size() > 1; }

 private:
  explicit BytesLiteralValue(std::span<const BytesLiteral> parts) : parts_(parts) {}

  std::span<const BytesLiteral> parts_;
};

// The value of an f-string expression: an f-string concatenated with plain
// strings is an f-string value.
class FStringValue {
 public:
  static FStringValue single(Arena& arena, const FStringPart& part);
  // Fewer than two parts throws FatalError "Use `FStringValue::single` to
  // create single-part f-strings".
  static FStringValue concatenated(Arena& arena, std::span<const FStringPart> parts);

  std::span<const FStringPart> parts() const { return parts_; }
  bool is_implicit_concatenated() const { return parts_.size() > 1; }

 private:
  explicit FStringValue(std::span<const FStringPart> parts) : parts_(parts) {}

  std::span<const FStringPart> parts_;
};

// The value of a t-string expression.
class TStringValue {
 public:
  static TStringValue single(Arena& arena, const TString& part);
  // Fewer than two parts throws FatalError "Use `TStringValue::single` to
  // create single-part t-strings".
  static TStringValue concatenated(Arena& arena, std::span<const TString> parts);

  std::span<const TString> parts() const { return parts_; }
  bool is_implicit_concatenated() const { return parts_.size() > 1; }

 private:
  explicit TStringValue(std::span<const TString> parts) : parts_(parts) {}

  std::span<const TString> parts_;
};

// The source text around the expression of a self-documenting interpolation
// (`{x = }`): `leading` runs from just after "{" to the expression,
// `trailing` from the end of the expression to the next token after "=", so
// it holds the "=" and the blanks around it.
struct DebugText {
  std::string_view leading;
  std::string_view trailing;

  constexpr bool operator==(const DebugText&) const = default;
};

// The base of the two interpolated-string elements.
struct InterpolatedStringElement {
  TOLVA_NODE_FAMILY_BASE(InterpolatedStringElement, InterpolatedStringElementKind)
};

// Literal text of an f-string or t-string: decoded, doubled braces single.
struct InterpolatedStringLiteralElement final : InterpolatedStringElement {
  TOLVA_NODE_VARIANT(InterpolatedStringElementKind, Literal)

  std::string_view value;

  InterpolatedStringLiteralElement(text_size::TextRange range, std::string_view value)
      : InterpolatedStringElement(kKind, range), value(value) {}
};

// The format specifier after ":" in an interpolation; its interpolations may
// have specifiers of their own.
struct InterpolatedStringFormatSpec {
  TOLVA_NODE_RECORD(InterpolatedStringFormatSpec)

  AtomicNodeIndex node_index;
  text_size::TextRange range;
  InterpolatedStringElements elements;

  InterpolatedStringFormatSpec() = default;
  InterpolatedStringFormatSpec(text_size::TextRange range, InterpolatedStringElements elements)
      : range(range), elements(elements) {}
};

// One `{...}` interpolation.
struct Interpolation final : InterpolatedStringElement {
  TOLVA_NODE_VARIANT(InterpolatedStringElementKind, Interpolation)

  Expr* expression;
  std::optional<DebugText> debug_text;
  Conversion conversion;
  InterpolatedStringFormatSpec* format_spec;  // optional

  Interpolation(text_size::TextRange range, Expr* expression, std::optional<DebugText> debug_text,
                Conversion conversion, InterpolatedStringFormatSpec* format_spec)
      : InterpolatedStringElement(kKind, range),
        expression(expression),
        debug_text(debug_text),
        conversion(conversion),
        format_spec(format_spec) {}
};

}  // namespace python_ast
