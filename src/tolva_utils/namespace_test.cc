#include "tolva_utils/namespace.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

#include "support/fatal_error.h"

namespace tolva_utils::namespace_ {
namespace {

using namespace std::string_literals;

// What to_snake_case loads of ICU on its first non-ASCII text is made by
// prepare_for_threads, any number of times.
TEST(PrepareForThreads, MakesTheCaseMappingAndAnswersNoError) {
  EXPECT_EQ(prepare_for_threads(), std::nullopt);
  EXPECT_EQ(prepare_for_threads(), std::nullopt);
  EXPECT_EQ(namespace_::to_snake_case("\u00C4bcDef"), "\u00E4bc_def");
}

TEST(ToSnakeCase, Names) {
  struct Case {
    std::string in, out;
  };
  const Case cases[] = {
      {"FeatureClass", "feature_class"},
      {"XMLParser", "xml_parser"},
      {"getXML", "get_xml"},
      {"FooBARBaz", "foo_bar_baz"},
      {"Feature2Class", "feature2_class"},
      {"TestV2", "test_v2"},
      {"A1B", "a1_b"},
      {"aB1C", "a_b1_c"},
      {"ABC", "abc"},
      {"User_Features", "user_features"},
      {"snake_Case", "snake_case"},
      {"Foo__Bar", "foo__bar"},
      {"__Private", "__private"},
      {"already_snake", "already_snake"},
      {"My Feature", "my _feature"},
      {"", ""},
      {"A", "a"},
      {"Ab", "ab"},
      {"aBc", "a_bc"},
      {"ABcDe", "a_bc_de"},    // step 1 consumes the "c" before "De"; step 3 splits it
      {"___Abc", "___abc"},    // step 1 doubles to four "_", step 2 takes one back
      {"_A_B", "_a_b"},
      {"HTTPServerError", "http_server_error"},
  };
  for (const Case& c : cases) EXPECT_EQ(to_snake_case(c.in), c.out) << c.in;
}

TEST(ToSnakeCase, LineBreaksAndNonAscii) {
  struct Case {
    std::string in, out;
  };
  const Case cases[] = {
      {"\nFoo", "\nfoo"},                      // "." does not match a line feed...
      {"a\nFoo", "a\nfoo"},
      {"\rFoo", "\r_foo"},                     // ...but does match a carriage return
      {"\tFoo", "\t_foo"},
      {"\0Foo"s, "\0_foo"s},
      {"\xC3\x84" "Bc", "\xC3\xA4_bc"},        // ÄBc: the two-byte Ä is the "." as a whole
      {"\xF0\x9D\x90\x80" "Bc", "\xF0\x9D\x90\x80_bc"},  // a non-BMP letter before a word
      {"\xC3\xA9" "A", "\xC3\xA9" "a"},        // é is not [a-z0-9]: no split
      {"\xC3\x89t\xC3\xA9", "\xC3\xA9t\xC3\xA9"},  // Été: only lowercased
      {"\xCE\xA3\xCE\xA3", "\xCF\x83\xCF\x82"},    // ΣΣ: final sigma at the word's end
      {"A\xCE\xA3", "a\xCF\x82"},
      {"\xCE\xA3", "\xCF\x83"},                // a lone capital sigma is not final
      {"I\xCC\x87", "i\xCC\x87"},
      {"\xC4\xB0", "i\xCC\x87"},               // İ lowercases to two characters
      {"\xE1\xBA\x9E", "\xC3\x9F"},            // ẞ -> ß
      {"Foo\xC3\x84" "Bar", "foo\xC3\xa4_bar"},
  };
  for (const Case& c : cases) EXPECT_EQ(to_snake_case(c.in), c.out) << c.in;
}

// Ill-formed UTF-8 cannot come from Python; each maximal ill-formed subpart
// becomes U+FFFD before conversion, and the result is valid UTF-8.
TEST(ToSnakeCase, IllFormedUtf8BecomesReplacementCharacters) {
  struct Case {
    std::string in, out;
  };
  const std::string fffd = "\xEF\xBF\xBD";
  const Case cases[] = {
      {"\xFF" "Foo", fffd + "_foo"},
      {"\xC3" "Foo", fffd + "_foo"},           // truncated lead byte before a word
      {"Foo\xE2\x80", "foo" + fffd},
      {"a\x80" "BC", "a" + fffd + "bc"},
      {"\xED\xA0\x80" "Ab", fffd + fffd + fffd + "_ab"},  // a surrogate: three subparts
      {"\xC3\x84\xC3", "\xC3\xA4" + fffd},
  };
  for (const Case& c : cases) EXPECT_EQ(to_snake_case(c.in), c.out) << c.in;
}

TEST(ToSnakeCase, LongInputsTerminateAndKeepEverything) {
  // Long inputs: no recursion, no quadratic rescans.
  std::string camel;
  std::string expected;
  for (int i = 0; i < 100000; ++i) {
    camel += "Word";
    expected += i == 0 ? "word" : "_word";
  }
  EXPECT_EQ(to_snake_case(camel), expected);
  EXPECT_EQ(to_snake_case(std::string(1000000, 'A')), std::string(1000000, 'a'));
  EXPECT_EQ(to_snake_case(std::string(1000000, '\n')), std::string(1000000, '\n'));
}

// A non-ASCII text goes to ICU's lowercasing in pieces (ICU takes 32-bit
// lengths). With small pieces injected, the result is the one of the whole
// text: the cuts never separate a capital sigma from the context that makes
// it final or not.
TEST(ToSnakeCase, PiecewiseLowercasingMatchesTheWholeText) {
  // The longest stretch without a cut here is 6 bytes (" \u03A3\u03A3_").
  const std::string unit = "\xC3\x80" "b\xCE\xA3 c\xCE\xA3.d \xC4\xB0x \xCE\xA3\xCE\xA3_y \xCE\xA3\xCC\x81 ";
  std::string text;
  for (int i = 0; i < 40; ++i) text += unit;
  const std::string whole = tolva_utils::namespace_::detail::to_snake_case(text, {text.size(), text.size()});
  EXPECT_NE(whole.find("b\xCF\x82 "), std::string::npos);  // a final sigma
  EXPECT_NE(whole.find("\xCF\x83\xCF\x82_"), std::string::npos);
  for (std::size_t piece = 6; piece <= 24; ++piece) {
    EXPECT_EQ(tolva_utils::namespace_::detail::to_snake_case(text, {piece, piece}), whole) << "pieces of " << piece;
  }
  // Pieces shorter than the stretches between cuts grow to the next cut.
  for (std::size_t piece = 1; piece < 6; ++piece) {
    EXPECT_EQ(tolva_utils::namespace_::detail::to_snake_case(text, {piece, 64}), whole) << "pieces of " << piece;
  }
  EXPECT_EQ(to_snake_case(text), whole);
}

TEST(ToSnakeCase, TextWithoutACutWithinTheLongestPieceIsAnError) {
  std::string text;
  for (int i = 0; i < 32; ++i) text += "\xCE\xA3";
  try {
    tolva_utils::namespace_::detail::to_snake_case(text, {8, 32});
    ADD_FAILURE() << "no error";
  } catch (const tolva::FatalError& error) {
    EXPECT_NE(error.message().find("to_snake_case"), std::string::npos) << error.message();
  }
}

// Just over 2^31 bytes with one non-ASCII character: once the length reached
// ICU as a negative number and the result was empty. Release builds only:
// it needs several GiB and the sanitizers would take minutes.
TEST(ToSnakeCase, TextOverTwoGibibytes) {
#if defined(__SANITIZE_ADDRESS__) || !defined(NDEBUG)
  GTEST_SKIP() << "needs a release build without sanitizers";
#else
  const long pages = ::sysconf(_SC_AVPHYS_PAGES);
  const long page_size = ::sysconf(_SC_PAGESIZE);
  if (pages > 0 && page_size > 0 && static_cast<double>(pages) * static_cast<double>(page_size) < 8e9) {
    GTEST_SKIP() << "needs 8 GB of free memory";
  }
  const std::size_t size = (std::size_t{1} << 31) + 16;
  std::string text(size, 'x');
  text.replace(size / 2, 2, "\xC3\x89");  // É
  text.replace(size - 2, 2, "\xCE\xA3");  // a final capital sigma
  std::string result = to_snake_case(text);
  ASSERT_EQ(result.size(), size);
  EXPECT_EQ(result.compare(size / 2, 2, "\xC3\xA9"), 0);
  EXPECT_EQ(result.compare(size - 2, 2, "\xCF\x82"), 0);
  EXPECT_EQ(result.compare(0, 16, std::string(16, 'x')), 0);
#endif
}

TEST(ToSnakeCase, ManyThreads) {
  std::vector<std::thread> threads;
  std::vector<int> ok(8, 0);
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([t, &ok] {
      bool good = true;
      for (int i = 0; i < 2000; ++i) good = good && to_snake_case("\xC3\x84" "FeatureClass\xCE\xA3") == "\xC3\xA4_feature_class\xCF\x82";
      ok[t] = good;
    });
  }
  for (auto& thread : threads) thread.join();
  for (int t = 0; t < 8; ++t) EXPECT_TRUE(ok[t]) << t;
}

TEST(BuildNamespacedName, Joins) {
  struct Case {
    std::optional<std::string> ns, name;
    std::string out;
  };
  const Case cases[] = {
      {"MyNs::SubNs", "FeatureX", "my_ns::sub_ns::FeatureX"},
      {"::A::::B::", std::nullopt, "a::b"},
      {std::nullopt, "X", "X"},
      {std::nullopt, std::nullopt, ""},
      {"Ns", "", "ns"},
      {"a:::b", std::nullopt, "a:::b"},
      {"", "", ""},
      {"::", "Name", "Name"},
      {"", "MyName", "MyName"},                // the name is never converted
      {std::nullopt, "::", "::"},
      {"Outer::Inner", "x::y", "outer::inner::x::y"},
      {"A:B", std::nullopt, "a:b"},            // a single colon is not a separator
      {"\xC3\x84" "Bc::\xCE\xA3", "N", "\xC3\xA4_bc::\xCF\x83::N"},
  };
  for (const Case& c : cases) {
    const std::optional<std::string_view> ns = c.ns ? std::optional<std::string_view>(*c.ns) : std::nullopt;
    const std::optional<std::string_view> name = c.name ? std::optional<std::string_view>(*c.name) : std::nullopt;
    EXPECT_EQ(build_namespaced_name(ns, name), c.out) << c.ns.value_or("<none>") << " / " << c.name.value_or("<none>");
  }
}

}  // namespace
}  // namespace tolva_utils::namespace_
