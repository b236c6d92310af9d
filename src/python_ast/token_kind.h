#pragma once

// The 106 token kinds of the Python lexer.
//
// One table, TOLVA_PYTHON_TOKEN_KINDS below, is the single source of truth:
// the enumeration, the debug names, the display texts and the keyword lookup
// are all generated from it. Its order is the numbering (0..105) and it is
// grouped so that every class of kinds is one contiguous range, which makes
// each class predicate a range check:
//
//   0..4     names and literals            Name Int Float Complex String
//   5..10    interpolated-string parts     FStringStart .. TStringEnd
//   11..17   IPython escape, comment and layout kinds
//   18..66   operators and delimiters      Question .. Ellipsis
//   67..101  keywords, alphabetical        And .. Yield
//   102..104 soft keywords                 Case Match Type
//   105      Unknown (text the lexer rejected)
//
// Display texts are what user-facing messages print ("Expected {}, found {}"):
// operators and keywords show their source text between backquotes. Debug
// names are the enumerator names; note "CircumFlex" (45) next to
// "CircumflexEqual" (57), both printed exactly so.

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <ostream>
#include <string_view>

namespace python_ast {

// X(Name, "display text"), in numbering order.
#define TOLVA_PYTHON_TOKEN_KINDS(X)          \
  X(Name, "name")                            \
  X(Int, "int")                              \
  X(Float, "float")                          \
  X(Complex, "complex")                      \
  X(String, "string")                        \
  X(FStringStart, "FStringStart")            \
  X(FStringMiddle, "FStringMiddle")          \
  X(FStringEnd, "FStringEnd")                \
  X(TStringStart, "TStringStart")            \
  X(TStringMiddle, "TStringMiddle")          \
  X(TStringEnd, "TStringEnd")                \
  X(IpyEscapeCommand, "IPython escape command") \
  X(Comment, "comment")                      \
  X(Newline, "newline")                      \
  X(NonLogicalNewline, "NonLogicalNewline")  \
  X(Indent, "indent")                        \
  X(Dedent, "dedent")                        \
  X(EndOfFile, "end of file")                \
  X(Question, "`?`")                         \
  X(Exclamation, "`!`")                      \
  X(Lpar, "`(`")                             \
  X(Rpar, "`)`")                             \
  X(Lsqb, "`[`")                             \
  X(Rsqb, "`]`")                             \
  X(Colon, "`:`")                            \
  X(Comma, "`,`")                            \
  X(Semi, "`;`")                             \
  X(Plus, "`+`")                             \
  X(Minus, "`-`")                            \
  X(Star, "`*`")                             \
  X(Slash, "`/`")                            \
  X(Vbar, "`|`")                             \
  X(Amper, "`&`")                            \
  X(Less, "`<`")                             \
  X(Greater, "`>`")                          \
  X(Equal, "`=`")                            \
  X(Dot, "`.`")                              \
  X(Percent, "`%`")                          \
  X(Lbrace, "`{`")                           \
  X(Rbrace, "`}`")                           \
  X(EqEqual, "`==`")                         \
  X(NotEqual, "`!=`")                        \
  X(LessEqual, "`<=`")                       \
  X(GreaterEqual, "`>=`")                    \
  X(Tilde, "`~`")                            \
  X(CircumFlex, "`^`")                       \
  X(LeftShift, "`<<`")                       \
  X(RightShift, "`>>`")                      \
  X(DoubleStar, "`**`")                      \
  X(DoubleStarEqual, "`**=`")                \
  X(PlusEqual, "`+=`")                       \
  X(MinusEqual, "`-=`")                      \
  X(StarEqual, "`*=`")                       \
  X(SlashEqual, "`/=`")                      \
  X(PercentEqual, "`%=`")                    \
  X(AmperEqual, "`&=`")                      \
  X(VbarEqual, "`|=`")                       \
  X(CircumflexEqual, "`^=`")                 \
  X(LeftShiftEqual, "`<<=`")                 \
  X(RightShiftEqual, "`>>=`")                \
  X(DoubleSlash, "`//`")                     \
  X(DoubleSlashEqual, "`//=`")               \
  X(ColonEqual, "`:=`")                      \
  X(At, "`@`")                               \
  X(AtEqual, "`@=`")                         \
  X(Rarrow, "`->`")                          \
  X(Ellipsis, "`...`")                       \
  X(And, "`and`")                            \
  X(As, "`as`")                              \
  X(Assert, "`assert`")                      \
  X(Async, "`async`")                        \
  X(Await, "`await`")                        \
  X(Break, "`break`")                        \
  X(Class, "`class`")                        \
  X(Continue, "`continue`")                  \
  X(Def, "`def`")                            \
  X(Del, "`del`")                            \
  X(Elif, "`elif`")                          \
  X(Else, "`else`")                          \
  X(Except, "`except`")                      \
  X(False, "`False`")                        \
  X(Finally, "`finally`")                    \
  X(For, "`for`")                            \
  X(From, "`from`")                          \
  X(Global, "`global`")                      \
  X(If, "`if`")                              \
  X(Import, "`import`")                      \
  X(In, "`in`")                              \
  X(Is, "`is`")                              \
  X(Lambda, "`lambda`")                      \
  X(None, "`None`")                          \
  X(Nonlocal, "`nonlocal`")                  \
  X(Not, "`not`")                            \
  X(Or, "`or`")                              \
  X(Pass, "`pass`")                          \
  X(Raise, "`raise`")                        \
  X(Return, "`return`")                      \
  X(True, "`True`")                          \
  X(Try, "`try`")                            \
  X(While, "`while`")                        \
  X(With, "`with`")                          \
  X(Yield, "`yield`")                        \
  X(Case, "`case`")                          \
  X(Match, "`match`")                        \
  X(Type, "`type`")                          \
  X(Unknown, "Unknown")

enum class TokenKind : std::uint8_t {
#define TOLVA_TOKEN_KIND_ENUMERATOR(name, display) name,
  TOLVA_PYTHON_TOKEN_KINDS(TOLVA_TOKEN_KIND_ENUMERATOR)
#undef TOLVA_TOKEN_KIND_ENUMERATOR
};

inline constexpr std::size_t kTokenKindCount = 0
#define TOLVA_TOKEN_KIND_COUNT(name, display) +1
    TOLVA_PYTHON_TOKEN_KINDS(TOLVA_TOKEN_KIND_COUNT)
#undef TOLVA_TOKEN_KIND_COUNT
    ;
static_assert(kTokenKindCount == 106, "the token table has 106 kinds, numbered 0..105");
static_assert(static_cast<std::size_t>(TokenKind::Unknown) + 1 == kTokenKindCount);

namespace token_kind_detail {

inline constexpr std::array<std::string_view, kTokenKindCount> kDebugNames = {
#define TOLVA_TOKEN_KIND_NAME(name, display) std::string_view(#name),
    TOLVA_PYTHON_TOKEN_KINDS(TOLVA_TOKEN_KIND_NAME)
#undef TOLVA_TOKEN_KIND_NAME
};

inline constexpr std::array<std::string_view, kTokenKindCount> kDisplayTexts = {
#define TOLVA_TOKEN_KIND_DISPLAY(name, display) std::string_view(display),
    TOLVA_PYTHON_TOKEN_KINDS(TOLVA_TOKEN_KIND_DISPLAY)
#undef TOLVA_TOKEN_KIND_DISPLAY
};

constexpr std::uint8_t raw(TokenKind kind) { return static_cast<std::uint8_t>(kind); }
constexpr bool in(TokenKind kind, TokenKind first, TokenKind last) {
  return raw(first) <= raw(kind) && raw(kind) <= raw(last);
}

}  // namespace token_kind_detail

// The enumerator name ("Lpar", "CircumFlex"); the debug form of a kind.
// A value outside 0..105 (only reachable through a cast) reads "Unknown".
constexpr std::string_view debug_name(TokenKind kind) {
  auto index = static_cast<std::size_t>(kind);
  return index < kTokenKindCount ? token_kind_detail::kDebugNames[index] : token_kind_detail::kDebugNames.back();
}

// The text user-facing messages print ("`(`", "newline", "end of file").
constexpr std::string_view display(TokenKind kind) {
  auto index = static_cast<std::size_t>(kind);
  return index < kTokenKindCount ? token_kind_detail::kDisplayTexts[index]
                                 : token_kind_detail::kDisplayTexts.back();
}

// Writes the display text.
inline std::ostream& operator<<(std::ostream& out, TokenKind kind) { return out << display(kind); }

// ---- Classes of kinds, each one contiguous range of the table ----

// Name, Int, Float, Complex, String (0..4).
constexpr bool is_name_or_literal(TokenKind kind) {
  return token_kind_detail::in(kind, TokenKind::Name, TokenKind::String);
}

// The start, middle and end tokens of f-strings and t-strings (5..10).
constexpr bool is_interpolated_string_kind(TokenKind kind) {
  return token_kind_detail::in(kind, TokenKind::FStringStart, TokenKind::TStringEnd);
}
constexpr bool is_fstring_kind(TokenKind kind) {
  return token_kind_detail::in(kind, TokenKind::FStringStart, TokenKind::FStringEnd);
}
constexpr bool is_tstring_kind(TokenKind kind) {
  return token_kind_detail::in(kind, TokenKind::TStringStart, TokenKind::TStringEnd);
}

// Comment and NonLogicalNewline, and no other kind: the token source records
// them in the token list but never shows them to the parser.
constexpr bool is_trivia(TokenKind kind) {
  return kind == TokenKind::Comment || kind == TokenKind::NonLogicalNewline;
}

// Newline (end of a logical line), Indent, Dedent and EndOfFile.
constexpr bool is_layout(TokenKind kind) {
  return kind == TokenKind::Newline || token_kind_detail::in(kind, TokenKind::Indent, TokenKind::EndOfFile);
}

// Operators and delimiters (18..66).
constexpr bool is_operator(TokenKind kind) {
  return token_kind_detail::in(kind, TokenKind::Question, TokenKind::Ellipsis);
}

// The hard keywords (67..101): never usable as a name.
constexpr bool is_keyword(TokenKind kind) { return token_kind_detail::in(kind, TokenKind::And, TokenKind::Yield); }

// case, match, type (102..104): keywords only where the grammar says so, names
// everywhere else.
constexpr bool is_soft_keyword(TokenKind kind) {
  return token_kind_detail::in(kind, TokenKind::Case, TokenKind::Type);
}

// Hard or soft keyword (67..104).
constexpr bool is_any_keyword(TokenKind kind) { return token_kind_detail::in(kind, TokenKind::And, TokenKind::Type); }

constexpr bool is_unknown(TokenKind kind) { return kind == TokenKind::Unknown; }

// ---- Keyword lookup ----
//
// The kind of a keyword text, soft keywords included ("match" gives Match), or
// nothing for any other text. Case-sensitive: "none" is a name. A perfect hash
// over (length, first byte, last byte) picks the one candidate slot, then one
// compare decides; no allocation, no loop. The slot table is built at compile
// time from the token table, and building it fails to compile if two keywords
// ever share a slot.

namespace token_kind_detail {

inline constexpr std::size_t kKeywordSlots = 128;
inline constexpr std::size_t kMaxKeywordLength = 8;  // "continue", "nonlocal"

constexpr std::size_t keyword_slot(const char* text, std::size_t length) {
  return (length + static_cast<unsigned char>(text[0]) * 13u + static_cast<unsigned char>(text[length - 1]) * 3u) &
         (kKeywordSlots - 1);
}

struct KeywordSlot {
  char text[kMaxKeywordLength] = {};
  std::uint8_t length = 0;  // 0: empty slot
  TokenKind kind = TokenKind::Unknown;
};

consteval std::array<KeywordSlot, kKeywordSlots> build_keyword_slots() {
  std::array<KeywordSlot, kKeywordSlots> slots{};
  for (auto k = raw(TokenKind::And); k <= raw(TokenKind::Type); ++k) {
    std::string_view shown = kDisplayTexts[k];
    std::string_view text = shown.substr(1, shown.size() - 2);  // strip the backquotes
    if (text.size() < 2 || text.size() > kMaxKeywordLength) throw "keyword length outside the lookup's bounds";
    KeywordSlot& slot = slots[keyword_slot(text.data(), text.size())];
    if (slot.length != 0) throw "two keywords share a lookup slot: pick new hash factors";
    for (std::size_t i = 0; i < text.size(); ++i) slot.text[i] = text[i];
    slot.length = static_cast<std::uint8_t>(text.size());
    slot.kind = static_cast<TokenKind>(k);
  }
  return slots;
}

inline constexpr std::array<KeywordSlot, kKeywordSlots> kKeywordTable = build_keyword_slots();

}  // namespace token_kind_detail

inline std::optional<TokenKind> keyword_kind(std::string_view text) {
  if (text.size() < 2 || text.size() > token_kind_detail::kMaxKeywordLength) return std::nullopt;
  const auto& slot = token_kind_detail::kKeywordTable[token_kind_detail::keyword_slot(text.data(), text.size())];
  if (slot.length == text.size() && std::memcmp(slot.text, text.data(), text.size()) == 0) return slot.kind;
  return std::nullopt;
}

}  // namespace python_ast
