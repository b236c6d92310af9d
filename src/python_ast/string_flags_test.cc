#include "python_ast/string_flags.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <sstream>
#include <string>

#include "python_ast/str_prefix.h"
#include "support/fatal_error.h"

namespace python_ast {
namespace {

// The fatal text of `convert`, or nothing when it returns.
std::optional<std::string> fatal_text(const std::function<void()>& convert) {
  try {
    convert();
  } catch (const tolva::FatalError& error) {
    return error.message();
  }
  return std::nullopt;
}

enum class Family { Regular, Bytes, Format, Template };

struct PrefixCase {
  AnyStringPrefix prefix;
  std::string_view text;
  std::uint16_t bits;
  Family family;
  bool raw;
};

constexpr PrefixCase kPrefixes[] = {
    {AnyStringPrefix::Empty, "", 0x000, Family::Regular, false},
    {AnyStringPrefix::Unicode, "u", 0x004, Family::Regular, false},
    {AnyStringPrefix::Raw, "r", 0x040, Family::Regular, true},
    {AnyStringPrefix::RawUpper, "R", 0x080, Family::Regular, true},
    {AnyStringPrefix::Bytes, "b", 0x008, Family::Bytes, false},
    {AnyStringPrefix::RawBytes, "rb", 0x048, Family::Bytes, true},
    {AnyStringPrefix::RawUpperBytes, "Rb", 0x088, Family::Bytes, true},
    {AnyStringPrefix::Format, "f", 0x010, Family::Format, false},
    {AnyStringPrefix::RawFormat, "rf", 0x050, Family::Format, true},
    {AnyStringPrefix::RawUpperFormat, "Rf", 0x090, Family::Format, true},
    {AnyStringPrefix::Template, "t", 0x020, Family::Template, false},
    {AnyStringPrefix::RawTemplate, "rt", 0x060, Family::Template, true},
    {AnyStringPrefix::RawUpperTemplate, "Rt", 0x0A0, Family::Template, true},
};
static_assert(std::size(kPrefixes) == kAnyStringPrefixCount);

TEST(StringFlags, WorkedValues) {
  AnyStringFlags rb(AnyStringPrefix::RawUpperBytes, Quote::Double, TripleQuotes::Yes);
  EXPECT_EQ(rb.bits(), 0x08B);
  EXPECT_EQ(prefix_text(AnyStringFlags::from_bits(0x08B).prefix()), "Rb");
  BytesLiteralFlags bytes = BytesLiteralFlags::from(rb);
  EXPECT_EQ(bytes.bits(), 0x0B);
  EXPECT_EQ(bytes.prefix(), AnyStringPrefix::RawUpperBytes);
  EXPECT_EQ(bytes.quote_str(), "\"\"\"");

  AnyStringFlags u(AnyStringPrefix::Unicode, Quote::Single, TripleQuotes::No);
  EXPECT_EQ(u.bits(), 0x004);
  EXPECT_EQ(StringLiteralFlags::from(u).bits(), 0x04);
  EXPECT_EQ(StringLiteralFlags::from(AnyStringFlags::from_bits(0x104)).bits(), 0x44);

  EXPECT_EQ(FStringFlags::from(AnyStringFlags::from_bits(0x150)).bits(), 0x14);
}

TEST(StringFlags, EveryPrefixRoundTripsWithEveryQuoting) {
  for (const PrefixCase& c : kPrefixes) {
    SCOPED_TRACE(std::string("prefix \"") + std::string(c.text) + "\"");
    EXPECT_EQ(prefix_text(c.prefix), c.text);
    std::ostringstream shown;
    shown << c.prefix;
    EXPECT_EQ(shown.str(), c.text);
    EXPECT_EQ(AnyStringFlags::prefix_bits(c.prefix), c.bits);
    EXPECT_EQ(is_raw_prefix(c.prefix), c.raw);
    EXPECT_EQ(is_regular_prefix(c.prefix), c.family == Family::Regular);
    EXPECT_EQ(is_bytes_prefix(c.prefix), c.family == Family::Bytes);
    EXPECT_EQ(is_fstring_prefix(c.prefix), c.family == Family::Format);
    EXPECT_EQ(is_tstring_prefix(c.prefix), c.family == Family::Template);

    for (Quote quote : {Quote::Single, Quote::Double}) {
      for (TripleQuotes triple : {TripleQuotes::No, TripleQuotes::Yes}) {
        AnyStringFlags any(c.prefix, quote, triple);
        std::uint16_t expected = c.bits | (quote == Quote::Double ? 0x001 : 0) | (triple == TripleQuotes::Yes ? 0x002 : 0);
        EXPECT_EQ(any.bits(), expected);
        EXPECT_FALSE(any.is_unclosed());
        EXPECT_EQ(any.prefix(), c.prefix);
        EXPECT_EQ(any.quote_style(), quote);
        EXPECT_EQ(any.is_triple_quoted(), triple == TripleQuotes::Yes);
        EXPECT_EQ(any.is_raw_string(), c.raw);
        EXPECT_EQ(any.quote_len(), triple == TripleQuotes::Yes ? 3u : 1u);
        EXPECT_EQ(any.opener_len(), c.text.size() + any.quote_len());
        std::string quotes(triple == TripleQuotes::Yes ? 3 : 1, quote_char(quote));
        EXPECT_EQ(any.quote_str(), quotes);

        // The per-kind flags of the literal's own family answer the same
        // queries, closed or unclosed.
        for (bool unclosed : {false, true}) {
          AnyStringFlags source = AnyStringFlags::from_bits(any.bits() | (unclosed ? 0x100 : 0));
          auto check = [&](const auto& flags) {
            EXPECT_EQ(flags.prefix(), c.prefix);
            EXPECT_EQ(flags.quote_style(), quote);
            EXPECT_EQ(flags.is_triple_quoted(), triple == TripleQuotes::Yes);
            EXPECT_EQ(flags.quote_str(), quotes);
            EXPECT_EQ(flags.is_raw_string(), c.raw);
            EXPECT_EQ(flags.is_unclosed(), unclosed);
          };
          switch (c.family) {
            case Family::Regular: check(StringLiteralFlags::from(source)); break;
            case Family::Bytes: check(BytesLiteralFlags::from(source)); break;
            case Family::Format: check(FStringFlags::from(source)); break;
            case Family::Template: check(TStringFlags::from(source)); break;
          }
        }
      }
    }
  }
}

TEST(StringFlags, PerKindBitLayouts) {
  struct Case {
    std::uint16_t any;
    Family family;
    std::uint8_t bits;
  };
  const Case cases[] = {
      // Unclosed lands on each kind's own bit.
      {0x100, Family::Regular, 0x40},
      {0x108, Family::Bytes, 0x20},
      {0x110, Family::Format, 0x10},
      {0x120, Family::Template, 0x10},
      // Raw bits.
      {0x040, Family::Regular, 0x08},
      {0x080, Family::Regular, 0x10},
      {0x048, Family::Bytes, 0x04},
      {0x088, Family::Bytes, 0x08},
      {0x0A3, Family::Template, 0x0B},
      // u is dropped next to a raw bit (a combination the lexer never makes).
      {0x044, Family::Regular, 0x08},
      {0x084, Family::Regular, 0x10},
      // Both raw bits: the r wins.
      {0x0C0, Family::Regular, 0x08},
      {0x0C8, Family::Bytes, 0x04},
      {0x0D0, Family::Format, 0x04},
      {0x0E0, Family::Template, 0x04},
      // Everything at once, per family.
      {0x1C7, Family::Regular, 0x4B},
      {0x1CB, Family::Bytes, 0x27},
      {0x1D3, Family::Format, 0x17},
  };
  for (const Case& c : cases) {
    AnyStringFlags any = AnyStringFlags::from_bits(c.any);
    SCOPED_TRACE(::testing::Message() << any);
    switch (c.family) {
      case Family::Regular: EXPECT_EQ(StringLiteralFlags::from(any).bits(), c.bits); break;
      case Family::Bytes: EXPECT_EQ(BytesLiteralFlags::from(any).bits(), c.bits); break;
      case Family::Format: EXPECT_EQ(FStringFlags::from(any).bits(), c.bits); break;
      case Family::Template: EXPECT_EQ(TStringFlags::from(any).bits(), c.bits); break;
    }
  }
  EXPECT_EQ(AnyStringFlags::from_bits(0x0C0).prefix(), AnyStringPrefix::Raw);
  EXPECT_EQ(AnyStringFlags::from_bits(0x044).prefix(), AnyStringPrefix::Raw);
  // f before t before b when several family bits are set.
  EXPECT_EQ(AnyStringFlags::from_bits(0x038).prefix(), AnyStringPrefix::Format);
  EXPECT_EQ(AnyStringFlags::from_bits(0x028).prefix(), AnyStringPrefix::Template);
  EXPECT_EQ(AnyStringFlags::from_bits(0x00C).prefix(), AnyStringPrefix::Bytes);
  EXPECT_EQ(AnyStringFlags::from_bits(0xFFFF).bits(), 0x1FF);
}

TEST(StringFlags, InvalidMarksThePlaceholders) {
  EXPECT_EQ(StringLiteralFlags::empty().with_invalid().bits(), 0x20);
  EXPECT_TRUE(StringLiteralFlags::empty().with_invalid().is_invalid());
  EXPECT_EQ(StringLiteralFlags::empty().with_invalid().prefix(), AnyStringPrefix::Empty);
  EXPECT_EQ(BytesLiteralFlags::empty().with_invalid().bits(), 0x10);
  EXPECT_EQ(BytesLiteralFlags::empty().prefix(), AnyStringPrefix::Bytes);
  // The conversion never sets it.
  EXPECT_FALSE(StringLiteralFlags::from(AnyStringFlags::from_bits(0x1FF & ~0x038)).is_invalid());
  EXPECT_FALSE(BytesLiteralFlags::from(AnyStringFlags::from_bits(0x1CB)).is_invalid());
}

// Each family's conversion accepts exactly its own prefixes; every other
// prefix is fatal with a text that names it.
TEST(StringFlags, WrongFamilyConversionsAreFatal) {
  struct Target {
    Family family;
    std::string_view noun;
    std::function<void(AnyStringFlags)> convert;
  };
  const Target targets[] = {
      {Family::Regular, "a regular string", [](AnyStringFlags f) { (void)StringLiteralFlags::from(f); }},
      {Family::Bytes, "a bytestring", [](AnyStringFlags f) { (void)BytesLiteralFlags::from(f); }},
      {Family::Format, "an f-string", [](AnyStringFlags f) { (void)FStringFlags::from(f); }},
      {Family::Template, "a t-string", [](AnyStringFlags f) { (void)TStringFlags::from(f); }},
  };
  for (const PrefixCase& c : kPrefixes) {
    for (const Target& target : targets) {
      AnyStringFlags any(c.prefix, Quote::Double, TripleQuotes::No);
      auto text = fatal_text([&] { target.convert(any); });
      if (target.family == c.family) {
        EXPECT_FALSE(text.has_value()) << c.text << " into " << target.noun;
      } else {
        EXPECT_EQ(text, "internal error: entered unreachable code: Should never attempt to convert " +
                            std::string(c.text) + " into " + std::string(target.noun));
      }
    }
  }
  // Several family bits: the prefix named is the one `prefix()` decides.
  EXPECT_EQ(fatal_text([] { (void)TStringFlags::from(AnyStringFlags::from_bits(0x030)); }),
            "internal error: entered unreachable code: Should never attempt to convert f into a t-string");
  EXPECT_EQ(fatal_text([] { (void)BytesLiteralFlags::from(AnyStringFlags::from_bits(0x028)); }),
            "internal error: entered unreachable code: Should never attempt to convert t into a bytestring");
  EXPECT_EQ(fatal_text([] { (void)StringLiteralFlags::from(AnyStringFlags::from_bits(0x04C)); }),
            "internal error: entered unreachable code: Should never attempt to convert rb into a regular string");
}

TEST(StringFlags, FamilyQueriesOfAnyStringFlags) {
  struct Case {
    std::uint16_t bits;
    bool fstring, tstring, interpolated, bytes;
  };
  const Case cases[] = {
      {0x000, false, false, false, false}, {0x008, false, false, false, true},
      {0x010, true, false, true, false},   {0x020, false, true, true, false},
      {0x030, true, false, true, false},   {0x018, true, false, true, false},
  };
  for (const Case& c : cases) {
    AnyStringFlags flags = AnyStringFlags::from_bits(c.bits);
    EXPECT_EQ(flags.is_fstring(), c.fstring) << flags;
    EXPECT_EQ(flags.is_tstring(), c.tstring) << flags;
    EXPECT_EQ(flags.is_interpolated_string(), c.interpolated) << flags;
    EXPECT_EQ(flags.is_bytes(), c.bytes) << flags;
  }
}

TEST(StringFlags, DebugFormsAreHex) {
  std::ostringstream out;
  out << AnyStringFlags::from_bits(0x08B) << ' ' << BytesLiteralFlags::from(AnyStringFlags::from_bits(0x08B)) << ' '
      << StringLiteralFlags::empty().with_invalid() << ' ' << FStringFlags::from_bits(0x14) << ' '
      << TStringFlags::empty();
  EXPECT_EQ(out.str(), "0x08b 0x0b 0x20 0x14 0x00");
}

}  // namespace
}  // namespace python_ast
