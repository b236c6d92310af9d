#include "python_parser/parser/expression_string.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "python_ast/string_flags.h"
#include "python_parser/error.h"
#include "python_parser/parser/depth_guard.h"
#include "python_parser/parser/expression.h"
#include "python_parser/parser/parser.h"
#include "python_parser/string.h"
#include "support/fatal_error.h"

namespace python_parser {

using python_ast::AnyStringFlags;
using python_ast::BytesLiteral;
using python_ast::BytesLiteralFlags;
using python_ast::Conversion;
using python_ast::Expr;
using python_ast::FStringFlags;
using python_ast::FStringLiteralPart;
using python_ast::FStringPart;
using python_ast::InterpolatedStringElement;
using python_ast::InterpolatedStringElements;
using python_ast::StringLiteral;
using python_ast::StringLiteralFlags;
using python_ast::TokenFlags;
using python_ast::TokenKind;
using python_ast::TString;
using python_ast::TStringFlags;
using text_size::TextOffset;
using text_size::TextRange;

namespace {

constexpr std::string_view kBytesMixedMessage = "Bytes literal cannot be mixed with non-bytes literals";
constexpr std::string_view kTStringMixedMessage = "cannot mix t-string literals with string or bytes literals";

bool at_string_start(const Parser& parser) {
  TokenKind kind = parser.current_token_kind();
  return kind == TokenKind::String || kind == TokenKind::FStringStart || kind == TokenKind::TStringStart;
}

// The flags of a literal from its token's flags: prefix, quote style and
// triple quotes, normalised through the prefix; never the unclosed bit.
AnyStringFlags string_flags_of(TokenFlags token_flags) {
  AnyStringFlags any = token_flags.as_any_string_flags();
  return AnyStringFlags(any.prefix(), any.quote_style(),
                        any.is_triple_quoted() ? python_ast::TripleQuotes::Yes : python_ast::TripleQuotes::No);
}

AnyStringFlags with_unclosed(AnyStringFlags flags) {
  return AnyStringFlags::from_bits(static_cast<std::uint16_t>(flags.bits() | AnyStringFlags::kUnclosed));
}

// What the kind of interpolated string decides: its tokens, its list kinds
// and its error kind.
struct InterpolatedStringSyntax {
  InterpolatedStringKind kind;
  TokenKind start;
  TokenKind middle;
  TokenKind end;
  RecoveryContextKind elements;
  RecoveryContextKind format_spec_elements;

  ParseErrorType error(InterpolatedStringErrorType error) const {
    return kind == InterpolatedStringKind::FString ? ParseErrorType::fstring_error(error)
                                                   : ParseErrorType::tstring_error(error);
  }
};

constexpr InterpolatedStringSyntax kFStringSyntax{
    InterpolatedStringKind::FString,     TokenKind::FStringStart,
    TokenKind::FStringMiddle,            TokenKind::FStringEnd,
    RecoveryContextKind::FStringElements, RecoveryContextKind::FStringElementsInFormatSpec,
};
constexpr InterpolatedStringSyntax kTStringSyntax{
    InterpolatedStringKind::TString,     TokenKind::TStringStart,
    TokenKind::TStringMiddle,            TokenKind::TStringEnd,
    RecoveryContextKind::TStringElements, RecoveryContextKind::TStringElementsInFormatSpec,
};

// One f-string or t-string literal as read: its elements, its range and its
// flags (the unclosed bit set when the end token was missing).
struct InterpolatedStringParts {
  InterpolatedStringElements elements;
  TextRange range;
  AnyStringFlags flags;
};

InterpolatedStringElement* parse_interpolated_string_element(Parser& parser, const InterpolatedStringSyntax& syntax,
                                                             AnyStringFlags flags);

// The elements of an f-string or t-string body or of a format specifier,
// run by the list loop of `list_kind`.
InterpolatedStringElements parse_interpolated_string_elements(Parser& parser, const InterpolatedStringSyntax& syntax,
                                                              RecoveryContextKind list_kind, AnyStringFlags flags) {
  return parser.parse_list(list_kind, [&syntax, flags](Parser& p) {
    return parse_interpolated_string_element(p, syntax, flags);
  });
}

// fstring_middle: fstring_replacement_field | FSTRING_MIDDLE
// One literal part (FSTRING_MIDDLE) of an f-string or t-string: the text
// between interpolations, decoded. An undecodable part is reported and kept empty.
InterpolatedStringElement* parse_literal_element(Parser& parser, const InterpolatedStringSyntax& syntax,
                                                 AnyStringFlags flags) {
  TextRange range = parser.current_token_range();
  std::string_view raw = parser.bump_value(syntax.middle).as_text();
  DecodeResult<std::string_view> decoded =
      parse_interpolated_string_literal_element(raw, flags, range, parser.arena());
  std::string_view value;
  if (decoded) {
    value = decoded.value();
  } else {
    LexicalError error = std::move(decoded).take_error();
    parser.add_error(ParseErrorType::lexical(std::move(error.error)), error.range);
  }
  return parser.arena().make<python_ast::InterpolatedStringLiteralElement>(range, value);
}

// fstring_conversion: "!" NAME
// The conversion after `!`, which the caller has consumed; `bang_end` is the
// end of the `!`.
Conversion parse_conversion(Parser& parser, const InterpolatedStringSyntax& syntax, TextOffset bang_end) {
  // `!r'...` would otherwise be read as the start of a raw string.
  parser.token_source().re_lex_raw_string_in_format_spec();

  if (!parser.at(TokenKind::Name)) {
    parser.add_error(syntax.error(InterpolatedStringErrorType::InvalidConversionCharacter),
                     parser.current_token_range());
    // The token stands where the conversion should be and is taken as that
    // (wrong) conversion; the end of the file is never consumed.
    if (!parser.at(TokenKind::EndOfFile)) parser.bump_any();
    return Conversion::None;
  }

  TextRange name_range = parser.current_token_range();
  if (name_range.start() != bang_end) {
    parser.add_error(syntax.error(InterpolatedStringErrorType::ConversionNotAfterExclamation),
                     TextRange(bang_end, name_range.start()));
  }
  std::string_view name = parser.bump_value(TokenKind::Name).as_name().as_str();
  if (name == "s") return Conversion::Str;
  if (name == "r") return Conversion::Repr;
  if (name == "a") return Conversion::Ascii;
  parser.add_error(syntax.error(InterpolatedStringErrorType::InvalidConversionCharacter), name_range);
  return Conversion::None;
}

// replacement_field:
//     | '{' (yield_expr | star_expressions) ['='] ['!' NAME] [':' fstring_format_spec*] '}'
// The current token is `{`.
InterpolatedStringElement* parse_interpolation(Parser& parser, const InterpolatedStringSyntax& syntax,
                                               AnyStringFlags flags) {
  TextOffset start = parser.node_start();
  DepthGuard depth(parser);
  if (depth.exceeded()) {
    return parser.arena().make<python_ast::InterpolatedStringLiteralElement>(parser.node_range(start),
                                                                             std::string_view());
  }

  parser.bump(TokenKind::Lbrace);
  TextOffset after_brace = parser.prev_token_end();
  // A quote that the lexer took for the start of a new string may be this
  // string's own closing quote (`f'{'`).
  parser.token_source().re_lex_string_token_in_interpolation_element(syntax.kind);

  MarkedExpr expression =
      parse_expression_list(parser, ExpressionParseFlags::StarredAllowed | ExpressionParseFlags::StarredAsOrOperand |
                                        ExpressionParseFlags::YieldAllowed);
  if (!expression.in_parentheses && expression.expr->is<python_ast::ExprLambda>()) {
    parser.add_error(syntax.error(InterpolatedStringErrorType::UnparenthesizedLambda), *expression.expr);
  }

  // `{x = }`: the text from the brace to the expression, and from the
  // expression to the token after `=`, blanks included.
  std::optional<python_ast::DebugText> debug_text;
  if (parser.eat(TokenKind::Equal)) {
    TextRange range = expression.expr->range;
    debug_text = python_ast::DebugText{
        parser.src_text(TextRange(after_brace, range.start())),
        parser.src_text(TextRange(range.end(), parser.node_start())),
    };
  }

  Conversion conversion = Conversion::None;
  if (parser.at(TokenKind::Exclamation)) {
    TextOffset bang_end = parser.current_token_range().end();
    parser.bump(TokenKind::Exclamation);
    conversion = parse_conversion(parser, syntax, bang_end);
  }

  python_ast::InterpolatedStringFormatSpec* format_spec = nullptr;
  if (parser.eat(TokenKind::Colon)) {
    TextOffset spec_start = parser.node_start();
    InterpolatedStringElements elements =
        parse_interpolated_string_elements(parser, syntax, syntax.format_spec_elements, flags);
    format_spec = parser.arena().make<python_ast::InterpolatedStringFormatSpec>(parser.node_range(spec_start),
                                                                               elements);
  }

  parser.token_source().re_lex_string_token_in_interpolation_element(syntax.kind);
  if (!parser.eat(TokenKind::Rbrace)) {
    parser.add_error(syntax.error(InterpolatedStringErrorType::ExpectingCloseBrace), parser.current_token_range());
  }

  return parser.arena().make<python_ast::Interpolation>(parser.node_range(start), expression.expr, debug_text,
                                                        conversion, format_spec);
}

// fstring_middle: fstring_replacement_field | FSTRING_MIDDLE
InterpolatedStringElement* parse_interpolated_string_element(Parser& parser, const InterpolatedStringSyntax& syntax,
                                                             AnyStringFlags flags) {
  if (parser.at(TokenKind::Lbrace)) return parse_interpolation(parser, syntax, flags);
  return parse_literal_element(parser, syntax, flags);
}

// fstring: FSTRING_START fstring_middle* FSTRING_END
// tstring: TSTRING_START tstring_middle* TSTRING_END
InterpolatedStringParts parse_interpolated_string(Parser& parser, const InterpolatedStringSyntax& syntax) {
  if (!parser.at(syntax.start)) [[unlikely]] {
    tolva::fatal("parse_interpolated_string: expected " + std::string(python_ast::debug_name(syntax.start)) +
                 ", found " + std::string(python_ast::debug_name(parser.current_token_kind())));
  }
  AnyStringFlags flags = string_flags_of(parser.current_token_flags());
  TextOffset start = parser.node_start();
  parser.bump(syntax.start);

  InterpolatedStringElements elements = parse_interpolated_string_elements(parser, syntax, syntax.elements, flags);

  bool closed = parser.expect(syntax.end);
  return InterpolatedStringParts{elements, parser.node_range(start), closed ? flags : with_unclosed(flags)};
}

// One literal of an implicit concatenation, before the kind of the whole is
// known. `value` is set for strings and bytes, `elements` for f-strings and
// t-strings; `bits` are the per-kind flags.
struct ParsedStringPart {
  enum class Kind : std::uint8_t { String, Bytes, FString, TString };

  Kind kind = Kind::String;
  TextRange range;
  std::string_view value;
  InterpolatedStringElements elements;
  std::uint8_t bits = 0;

  StringLiteral as_string() const { return StringLiteral(range, value, StringLiteralFlags::from_bits(bits)); }
  BytesLiteral as_bytes() const { return BytesLiteral(range, value, BytesLiteralFlags::from_bits(bits)); }
  FStringLiteralPart as_fstring() const { return FStringLiteralPart(range, elements, FStringFlags::from_bits(bits)); }
  TString as_tstring() const { return TString(range, elements, TStringFlags::from_bits(bits)); }
};

// One String token, decoded. An undecodable literal is reported and replaced
// by an invalid empty literal of the token's range.
ParsedStringPart parse_string_literal_part(Parser& parser) {
  TextRange range = parser.current_token_range();
  TokenFlags token_flags = parser.current_token_flags();
  AnyStringFlags flags = string_flags_of(token_flags);
  if (token_flags.is_unclosed()) flags = with_unclosed(flags);
  std::string_view raw = parser.bump_value(TokenKind::String).as_text();

  bool is_bytes = flags.is_bytes();
  ParsedStringPart part;
  part.kind = is_bytes ? ParsedStringPart::Kind::Bytes : ParsedStringPart::Kind::String;
  part.range = range;

  DecodeResult<std::string_view> decoded = parse_string_literal(raw, flags, range, parser.arena());
  if (decoded) {
    part.value = decoded.value();
    part.bits = is_bytes ? BytesLiteralFlags::from(flags).bits() : StringLiteralFlags::from(flags).bits();
  } else {
    LexicalError error = std::move(decoded).take_error();
    parser.add_error(ParseErrorType::lexical(std::move(error.error)), error.range);
    part.bits = is_bytes ? BytesLiteralFlags::from(flags).with_invalid().bits()
                         : StringLiteralFlags::from(flags).with_invalid().bits();
  }
  return part;
}

ParsedStringPart parse_string_part(Parser& parser) {
  switch (parser.current_token_kind()) {
    case TokenKind::String:
      return parse_string_literal_part(parser);
    case TokenKind::FStringStart: {
      InterpolatedStringParts fstring = parse_interpolated_string(parser, kFStringSyntax);
      ParsedStringPart part;
      part.kind = ParsedStringPart::Kind::FString;
      part.range = fstring.range;
      part.elements = fstring.elements;
      part.bits = FStringFlags::from(fstring.flags).bits();
      return part;
    }
    case TokenKind::TStringStart: {
      InterpolatedStringParts tstring = parse_interpolated_string(parser, kTStringSyntax);
      ParsedStringPart part;
      part.kind = ParsedStringPart::Kind::TString;
      part.range = tstring.range;
      part.elements = tstring.elements;
      part.bits = TStringFlags::from(tstring.flags).bits();
      return part;
    }
    default:
      tolva::fatal("internal error: entered unreachable code: Expected to parse at least one string");
  }
}

// The expression of a single literal.
Expr* single_string_expression(Parser& parser, const ParsedStringPart& part, TextRange range) {
  python_ast::Arena& arena = parser.arena();
  switch (part.kind) {
    case ParsedStringPart::Kind::String:
      return arena.make<python_ast::ExprStringLiteral>(range,
                                                       python_ast::StringLiteralValue::single(arena, part.as_string()));
    case ParsedStringPart::Kind::Bytes:
      return arena.make<python_ast::ExprBytesLiteral>(range,
                                                      python_ast::BytesLiteralValue::single(arena, part.as_bytes()));
    case ParsedStringPart::Kind::FString:
      return arena.make<python_ast::ExprFString>(
          range, python_ast::FStringValue::single(arena, FStringPart(part.as_fstring())));
    case ParsedStringPart::Kind::TString:
      return arena.make<python_ast::ExprTString>(range, python_ast::TStringValue::single(arena, part.as_tstring()));
  }
  tolva::fatal("single_string_expression: unknown part kind");
}

// The expression of two or more adjacent literals, by Python's rules: bytes
// join only with bytes, t-strings only with t-strings; otherwise an f-string
// among plain strings makes an f-string value. A refused mixture is
// reported over the whole range and still gives a value of the nearest kind,
// each part that does not fit replaced by an invalid empty literal.
Expr* concatenated_string_expression(Parser& parser, const ScratchList<ParsedStringPart>& parts, TextRange range) {
  if (parts.size() < 2) [[unlikely]] tolva::fatal("assertion failed: strings.len() > 1");
  python_ast::Arena& arena = parser.arena();

  std::size_t bytes_count = 0;
  std::size_t tstring_count = 0;
  bool has_fstring = false;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    ParsedStringPart part = parts[i];
    bytes_count += part.kind == ParsedStringPart::Kind::Bytes;
    tstring_count += part.kind == ParsedStringPart::Kind::TString;
    has_fstring |= part.kind == ParsedStringPart::Kind::FString;
  }

  if (bytes_count > 0) {
    if (bytes_count == parts.size()) {
      std::span<BytesLiteral> literals = arena.make_array<BytesLiteral>(parts.size());
      for (std::size_t i = 0; i < parts.size(); ++i) literals[i] = parts[i].as_bytes();
      return arena.make<python_ast::ExprBytesLiteral>(range,
                                                      python_ast::BytesLiteralValue::concatenated(arena, literals));
    }
    parser.add_error(ParseErrorType::other(std::string(kBytesMixedMessage)), range);
  }

  if (tstring_count > 0) {
    if (tstring_count == parts.size()) {
      std::span<TString> literals = arena.make_array<TString>(parts.size());
      for (std::size_t i = 0; i < parts.size(); ++i) literals[i] = parts[i].as_tstring();
      return arena.make<python_ast::ExprTString>(range, python_ast::TStringValue::concatenated(arena, literals));
    }
    // Dropped when the bytes error was just recorded at the same start.
    parser.add_error(ParseErrorType::other(std::string(kTStringMixedMessage)), range);
  }

  if (tstring_count == 0 && !has_fstring) {
    std::span<StringLiteral> literals = arena.make_array<StringLiteral>(parts.size());
    for (std::size_t i = 0; i < parts.size(); ++i) {
        ParsedStringPart part = parts[i];
      literals[i] = part.kind == ParsedStringPart::Kind::String ? part.as_string() : StringLiteral::invalid(part.range);
    }
    return arena.make<python_ast::ExprStringLiteral>(range,
                                                     python_ast::StringLiteralValue::concatenated(arena, literals));
  }

  std::span<FStringPart> fstring_parts = arena.make_array<FStringPart>(parts.size());
  for (std::size_t i = 0; i < parts.size(); ++i) {
    ParsedStringPart part = parts[i];
    switch (part.kind) {
      case ParsedStringPart::Kind::String:
        fstring_parts[i] = FStringPart(part.as_string());
        break;
      case ParsedStringPart::Kind::FString:
        fstring_parts[i] = FStringPart(part.as_fstring());
        break;
      case ParsedStringPart::Kind::Bytes:
      case ParsedStringPart::Kind::TString:
        // A t-string's elements are dropped with it.
        fstring_parts[i] = FStringPart(StringLiteral::invalid(part.range));
        break;
    }
  }
  return arena.make<python_ast::ExprFString>(range, python_ast::FStringValue::concatenated(arena, fstring_parts));
}

}  // namespace

// strings: (fstring | tstring | string)+
Expr* parse_strings(Parser& parser) {
  if (!at_string_start(parser)) [[unlikely]] {
    tolva::fatal("internal error: entered unreachable code: Expected to parse at least one string");
  }
  TextOffset start = parser.node_start();
  // Strings nest only through interpolations, which guard the depth.
  ParsedStringPart first = parse_string_part(parser);
  if (!at_string_start(parser)) return single_string_expression(parser, first, parser.node_range(start));

  auto parts = parser.scratch_list<ParsedStringPart>();
  parts.push(first);
  ProgressGuard progress;
  while (at_string_start(parser)) {
    progress.check(parser);
    ParsedStringPart part = parse_string_part(parser);
    parts.push(part);
  }
  // The parts are read back from the scratch list, whose segment is freed on
  // return: only the typed parts of the value reach the arena.
  return concatenated_string_expression(parser, parts, parser.node_range(start));
}

}  // namespace python_parser
