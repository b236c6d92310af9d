#include "python_ast/token_kind.h"
#include "test_support/oracle.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace python_ast {
namespace {

constexpr TokenKind kind_at(int value) { return static_cast<TokenKind>(value); }

TEST(TokenKind, ClassBoundariesSitAtTheirNumbers) {
  struct Case {
    int value;
    TokenKind kind;
  };
  // The first and last kind of every class, plus the kinds other code names
  // by number.
  constexpr Case cases[] = {
      {0, TokenKind::Name},          {4, TokenKind::String},      {5, TokenKind::FStringStart},
      {10, TokenKind::TStringEnd},   {11, TokenKind::IpyEscapeCommand},
      {12, TokenKind::Comment},      {13, TokenKind::Newline},    {14, TokenKind::NonLogicalNewline},
      {15, TokenKind::Indent},       {16, TokenKind::Dedent},     {17, TokenKind::EndOfFile},
      {18, TokenKind::Question},     {20, TokenKind::Lpar},       {45, TokenKind::CircumFlex},
      {57, TokenKind::CircumflexEqual}, {66, TokenKind::Ellipsis}, {67, TokenKind::And},
      {80, TokenKind::False},        {90, TokenKind::None},       {97, TokenKind::True},
      {101, TokenKind::Yield},       {102, TokenKind::Case},      {104, TokenKind::Type},
      {105, TokenKind::Unknown},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(static_cast<int>(c.kind), c.value) << debug_name(c.kind);
  }
  EXPECT_EQ(kTokenKindCount, 106u);
  static_assert(sizeof(TokenKind) == 1);
}

TEST(TokenKind, PredicatesChangeExactlyAtTheClassBoundaries) {
  // For every kind, which classes it is in, from the class ranges written out
  // independently of the predicates.
  for (int value = 0; value < 106; ++value) {
    TokenKind kind = kind_at(value);
    SCOPED_TRACE(std::string(debug_name(kind)));
    EXPECT_EQ(is_name_or_literal(kind), value <= 4);
    EXPECT_EQ(is_interpolated_string_kind(kind), value >= 5 && value <= 10);
    EXPECT_EQ(is_fstring_kind(kind), value >= 5 && value <= 7);
    EXPECT_EQ(is_tstring_kind(kind), value >= 8 && value <= 10);
    EXPECT_EQ(is_trivia(kind), value == 12 || value == 14);
    EXPECT_EQ(is_layout(kind), value == 13 || (value >= 15 && value <= 17));
    EXPECT_EQ(is_operator(kind), value >= 18 && value <= 66);
    EXPECT_EQ(is_keyword(kind), value >= 67 && value <= 101);
    EXPECT_EQ(is_soft_keyword(kind), value >= 102 && value <= 104);
    EXPECT_EQ(is_any_keyword(kind), value >= 67 && value <= 104);
    EXPECT_EQ(is_unknown(kind), value == 105);
  }
}

TEST(TokenKind, DisplayTextsOfTheSpecialKinds) {
  struct Case {
    TokenKind kind;
    std::string_view display;
  };
  constexpr Case cases[] = {
      {TokenKind::Name, "name"},
      {TokenKind::String, "string"},
      {TokenKind::FStringStart, "FStringStart"},
      {TokenKind::FStringMiddle, "FStringMiddle"},
      {TokenKind::TStringEnd, "TStringEnd"},
      {TokenKind::IpyEscapeCommand, "IPython escape command"},
      {TokenKind::Comment, "comment"},
      {TokenKind::Newline, "newline"},
      {TokenKind::NonLogicalNewline, "NonLogicalNewline"},
      {TokenKind::Dedent, "dedent"},
      {TokenKind::EndOfFile, "end of file"},
      {TokenKind::Question, "`?`"},
      {TokenKind::Lpar, "`(`"},
      {TokenKind::CircumFlex, "`^`"},
      {TokenKind::CircumflexEqual, "`^=`"},
      {TokenKind::Ellipsis, "`...`"},
      {TokenKind::And, "`and`"},
      {TokenKind::None, "`None`"},
      {TokenKind::Type, "`type`"},
      {TokenKind::Unknown, "Unknown"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(display(c.kind), c.display);
    std::ostringstream out;
    out << c.kind;
    EXPECT_EQ(out.str(), c.display) << "operator<< writes the display text";
  }
}

TEST(TokenKind, DebugNamesKeepTheirExactSpelling) {
  EXPECT_EQ(debug_name(TokenKind::CircumFlex), "CircumFlex");
  EXPECT_EQ(debug_name(TokenKind::CircumflexEqual), "CircumflexEqual");
  EXPECT_EQ(debug_name(TokenKind::Name), "Name");
  EXPECT_EQ(debug_name(TokenKind::IpyEscapeCommand), "IpyEscapeCommand");
  EXPECT_EQ(debug_name(TokenKind::Unknown), "Unknown");
  // A value outside the table (only reachable through a cast) does not read
  // past the arrays.
  EXPECT_EQ(debug_name(kind_at(200)), "Unknown");
  EXPECT_EQ(display(kind_at(255)), "Unknown");
}

TEST(TokenKind, OperatorsAndKeywordsDisplayTheirSourceTextInBackquotes) {
  std::set<std::string_view> seen;
  for (int value = 18; value <= 104; ++value) {
    std::string_view shown = display(kind_at(value));
    ASSERT_GE(shown.size(), 3u) << value;
    EXPECT_EQ(shown.front(), '`') << value;
    EXPECT_EQ(shown.back(), '`') << value;
    EXPECT_TRUE(seen.insert(shown).second) << "duplicate display text " << shown;
  }
}

// Every keyword text maps to its own kind; the lookup runs over the table's
// own texts, so a keyword added to the table is covered at once.
TEST(KeywordLookup, EveryKeywordFindsItsKind) {
  for (int value = 67; value <= 104; ++value) {
    TokenKind kind = kind_at(value);
    std::string_view shown = display(kind);
    std::string text(shown.substr(1, shown.size() - 2));
    auto found = keyword_kind(text);
    ASSERT_TRUE(found.has_value()) << text;
    EXPECT_EQ(*found, kind) << text;
  }
}

TEST(KeywordLookup, NearMissesAreNames) {
  constexpr std::string_view names[] = {
      "",        "a",        "i",         "true",      "none",      "FALSE",   "And",
      "iff",     "ifx",      "i f",       "fo",        "forr",      "continu", "continues",
      "nonlocals", "_",      "__",        "print",     "self",      "exec",    "yeild",
      "matchx",  "Match",    "typ",       "types",     "cas",       "async_",  "awaitt",
      "lambda_", "elseif",   "imports",   "assert ",   " assert",   "inn",     "iss",
      "notnot",  "ofr",      "tru",       "Nonee",     "aaaaaaaaaaaaaaaa",
  };
  for (std::string_view name : names) {
    EXPECT_FALSE(keyword_kind(name).has_value()) << '"' << name << '"';
  }
  // Embedded NUL: same length and bytes up to it must not be enough.
  EXPECT_FALSE(keyword_kind(std::string_view("if\0", 3)).has_value());
  EXPECT_FALSE(keyword_kind(std::string_view("i\0", 2)).has_value());
  // Bytes above 0x7F hash without sign trouble.
  EXPECT_FALSE(keyword_kind("\xff\xfe").has_value());
  EXPECT_FALSE(keyword_kind("\xe9tait").has_value());
}

TEST(KeywordLookup, OneByteChangesOfAKeywordAreNames) {
  // Exhaustive over the texts of one changed byte from every keyword: the
  // lookup answers only for the keywords themselves.
  std::set<std::string> keywords;
  for (int value = 67; value <= 104; ++value) {
    std::string_view shown = display(kind_at(value));
    keywords.emplace(shown.substr(1, shown.size() - 2));
  }
  for (const std::string& keyword : keywords) {
    for (std::size_t i = 0; i < keyword.size(); ++i) {
      for (int byte = 0; byte < 256; ++byte) {
        std::string text = keyword;
        text[i] = static_cast<char>(byte);
        EXPECT_EQ(keyword_kind(text).has_value(), keywords.count(text) == 1) << text;
      }
    }
  }
}

// ---- Against the interpreters' own keyword and operator lists ----

// Runs `code` under the newest oracle of `at_least` or later and returns its
// output lines, or nothing when there is none or it failed.
std::optional<std::vector<std::string>> run_python(std::string_view at_least, const std::string& code,
                                                   std::string* used) {
  for (const test_support::Oracle& oracle : test_support::oracles_from(at_least)) {
    const std::string& python = oracle.python;
    *used = python;
    std::string command = python + " -c '" + code + "'";
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return std::nullopt;
    std::vector<std::string> lines;
    std::string line;
    int c;
    while ((c = std::fgetc(pipe)) != EOF) {
      if (c == '\n') {
        lines.push_back(line);
        line.clear();
      } else {
        line.push_back(static_cast<char>(c));
      }
    }
    if (pclose(pipe) != 0) return std::nullopt;
    return lines;
  }
  return std::nullopt;
}

TEST(TokenKindPeer, KeywordsAndOperatorsMatchTheInterpreter) {
  // Python 3.12 is the first with `type` as a soft keyword and `!` as an
  // operator token.
  std::string used;
  auto lines = run_python("3.12",
                          "import keyword, token\n"
                          "print(\" \".join(keyword.kwlist))\n"
                          "print(\" \".join(keyword.softkwlist))\n"
                          "print(\" \".join(token.EXACT_TOKEN_TYPES))\n",
                          &used);
  if (!lines && used.empty()) GTEST_SKIP() << "no oracle interpreter of Python 3.12 or later";
  ASSERT_TRUE(lines.has_value()) << used << " failed";
  ASSERT_EQ(lines->size(), 3u) << used;
  auto words = [](const std::string& line) {
    std::set<std::string> out;
    std::istringstream in(line);
    for (std::string word; in >> word;) out.insert(word);
    return out;
  };
  auto texts = [](int first, int last) {
    std::set<std::string> out;
    for (int value = first; value <= last; ++value) {
      std::string_view shown = display(kind_at(value));
      out.emplace(shown.substr(1, shown.size() - 2));
    }
    return out;
  };

  EXPECT_EQ(words((*lines)[0]), texts(67, 101)) << used;

  // The interpreter also lists "_", which is a soft keyword only inside
  // match patterns; it lexes as a name.
  std::set<std::string> soft = words((*lines)[1]);
  soft.erase("_");
  EXPECT_EQ(soft, texts(102, 104)) << used;
  for (const std::string& word : words((*lines)[0])) EXPECT_TRUE(keyword_kind(word).has_value()) << word;
  for (const std::string& word : soft) EXPECT_TRUE(keyword_kind(word).has_value()) << word;
  EXPECT_FALSE(keyword_kind("_").has_value());

  // "?" exists only in the IPython mode; the interpreter has no such token.
  std::set<std::string> operators = texts(18, 66);
  operators.erase("?");
  EXPECT_EQ(words((*lines)[2]), operators) << used;
}

}  // namespace
}  // namespace python_ast
