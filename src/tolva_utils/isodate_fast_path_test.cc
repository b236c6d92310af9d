// The fast paths of parse_time and parse_datetime against the general
// parsers: whenever a fast path takes a text, its value must be the general
// parser's value, and parse_time / parse_datetime must give exactly what the
// general parsers give (values and error texts) on every text.

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "tolva_utils/isodate.h"

namespace tolva_utils::isodate {
namespace {

using namespace std::string_literals;

std::string show(const IsoDate& d) {
  return std::to_string(d.year) + "-" + std::to_string(d.month) + "-" + std::to_string(d.day);
}

std::string show(const IsoTime& t) {
  std::string out = std::to_string(t.hour) + ":" + std::to_string(t.minute) + ":" + std::to_string(t.second) + "." +
                    std::to_string(t.microsecond);
  if (!t.tzinfo) return out + " naive";
  if (t.tzinfo->kind == IsoTzInfo::Kind::Utc) return out + " UTC[" + t.tzinfo->text + "]" + std::to_string(t.tzinfo->seconds);
  return out + " [" + t.tzinfo->text + "]" + std::to_string(t.tzinfo->seconds);
}

std::string show(const IsoDateTime& dt) { return show(dt.date) + " " + show(dt.time); }

template <class T>
std::string show(const tolva::Result<T>& r) {
  return r ? show(r.value()) : "error: " + r.error();
}

// What each road makes of one text. `fast` is empty when the fast path
// declines the text.
struct Roads {
  std::string fast, general, public_api;
};

Roads time_roads(const std::string& text) {
  Roads roads;
  IsoTime out;
  if (parse_time_fast(text, out)) roads.fast = show(out);
  roads.general = show(parse_time_general(text));
  roads.public_api = show(parse_time(text));
  return roads;
}

Roads datetime_roads(const std::string& text) {
  Roads roads;
  IsoDateTime out;
  if (parse_datetime_fast(text, out)) roads.fast = show(out);
  roads.general = show(parse_datetime_general(text));
  roads.public_api = show(parse_datetime(text));
  return roads;
}

// The fast path's value, when it takes the text, is the general value; the
// public parser is the general parser.
void expect_same(const Roads& roads, const std::string& text) {
  if (!roads.fast.empty()) {
    EXPECT_EQ(roads.fast, roads.general) << '"' << text << '"';
  }
  EXPECT_EQ(roads.public_api, roads.general) << '"' << text << '"';
}

TEST(IsoDateFastPath, TakesTheCommonLayoutsAndDeclinesTheirNearMisses) {
  struct Case {
    std::string text;
    bool fast;  // the fast path takes it
  };
  const Case datetimes[] = {
      {"2024-03-15", true},
      {"2024-03-15T10:30", true},
      {"2024-03-15 10:30", true},
      {"2024-03-15T10:30:45", true},
      {"2024-03-15 10:30:45.5", true},
      {"2024-03-15T10:30:45,123456789", true},
      {"2024-03-15T10:30:45.000001Z", true},
      {"2024-03-15T10:30z", true},
      {"2024-03-15T10:30:45+05:30", true},
      {"2024-03-15T10:30-0800", true},
      {"2024-03-15T10:30:45+00", true},
      {"2024-13-45T99:99:99", true},  // fields are not range-tested on either road
      {"0000-00-00T00:00", true},
      // Near misses: the general road decides, accepting or refusing.
      {"2024-03-15T10:30:45.", false},
      {"2024-03-15T10:30.5", false},       // a fraction of the minute
      {"2024-03-15T10:30:4", false},
      {"2024-03-15T1030", false},          // basic time
      {"2024-03-15T10", false},
      {"2024-03-15T10.5", false},
      {"2024-03-15TT10:30", false},        // the time's own "T"
      {"2024-03-15t10:30", false},
      {"2024-03-15  10:30", false},
      {"2024-03-15\t10:30", false},
      {" 2024-03-15T10:30", false},
      {"2024-03-15T10:30 ", false},
      {"2024-03-15T10:30:45+24:00", false},
      {"2024-03-15T10:30:45+05:60", false},
      {"2024-03-15T10:30:45+5", false},
      {"2024-03-15T10:30:45+05:3", false},
      {"2024-03-15T10:30:45Zz", false},
      {"2024-03-15T10:30:45 Z", false},
      {"2024-03-15T10:30:45\xC3\xA9", false},
      {"2024-03-15T10:30:45\0"s, false},
      {"2024-03-15 10:30:45 +05:00", false},
      {"2024-03-15T", false},
      {"2024-03-15 ", false},
      {"20240315T103045", false},
      {"2024-W11-5T10:30", false},
      {"2024-3-15T10:30", false},
      {"+024-03-15T10:30", false},
      {"2024-03-1\xC3\xA9T10:30", false},
      {"March 5, 2024 10:00", false},
      {"", false},
  };
  for (const Case& c : datetimes) {
    const Roads roads = datetime_roads(c.text);
    EXPECT_EQ(!roads.fast.empty(), c.fast) << '"' << c.text << '"';
    expect_same(roads, c.text);
  }

  const Case times[] = {
      {"10:30", true},
      {"T10:30:45", true},
      {"10:30:45.123456789+05:30", true},
      {"10:30Z", true},
      {"10:30:45", true},
      {"1030", false},
      {"10", false},
      {"10:30.5", false},
      {"10:30:45.", false},
      {"TT10:30", false},
      {"t10:30", false},
      {"10:3", false},
      {"10:30:45 ", false},
      {"10:30:45+2400", false},
      {"", false},
      {"T", false},
  };
  for (const Case& c : times) {
    const Roads roads = time_roads(c.text);
    EXPECT_EQ(!roads.fast.empty(), c.fast) << '"' << c.text << '"';
    expect_same(roads, c.text);
  }
}

// A fast path fills every field, whatever the value it was handed held.
TEST(IsoDateFastPath, OverwritesEveryFieldOfItsValue) {
  IsoDateTime value;
  ASSERT_TRUE(parse_datetime_fast("2024-03-15T10:30:45.5+05:30", value));
  ASSERT_TRUE(parse_datetime_fast("2024-03-15T10:30", value));
  EXPECT_EQ(show(value), "2024-3-15 10:30:0.0 naive");
  ASSERT_TRUE(parse_datetime_fast("2024-03-15T10:30:45.5+05:30", value));
  ASSERT_TRUE(parse_datetime_fast("2025-04-16", value));
  EXPECT_EQ(show(value), "2025-4-16 0:0:0.0 naive");
  IsoTime time;
  ASSERT_TRUE(parse_time_fast("10:30:45.5-08:00", time));
  ASSERT_TRUE(parse_time_fast("11:31Z", time));
  EXPECT_EQ(show(time), "11:31:0.0 UTC[]0");
}

// Texts built from the pieces of the common layouts and of their neighbours,
// then mutated: most are near misses of the fast layouts.
class NearMissGenerator {
 public:
  explicit NearMissGenerator(std::uint32_t seed) : rng_(seed) {}

  std::string time() {
    std::string text;
    switch (below(6)) {
      case 0: text = digits(2); break;
      case 1: text = digits(2) + ":" + digits(2); break;
      case 2: text = digits(4); break;
      case 3:
      case 4: text = digits(2) + ":" + digits(2) + ":" + digits(2); break;
      default: text = digits(6); break;
    }
    if (below(2) == 0) text += pick({".", ",", ".", ":"}) + digits(below(13));  // no digits at all now and then
    text += zone();
    if (below(5) == 0) text = pick({"T", "T", "TT", "t"}) + text;
    return text;
  }

  std::string datetime() {
    std::string text;
    switch (below(8)) {
      case 0: text = digits(8); break;
      case 1: text = digits(4) + "-W" + digits(2) + "-" + digits(1); break;
      case 2: text = digits(4) + "-" + digits(3); break;
      default: text = digits(4) + "-" + digits(2) + "-" + digits(2); break;
    }
    if (below(8) != 0) text += pick({"T", "T", " ", " ", "t", "TT", "  ", "\t", ""}) + time();  // a time's own "T" too
    if (below(10) == 0) text = pick({" ", "\t", "\n"}) + text;
    if (below(10) == 0) text += pick({" ", "\r\n", "\x0B"});
    return text;
  }

  // Up to two random edits: replace, insert or delete one character.
  std::string mutate(std::string text) {
    for (std::uint32_t edits = below(3); edits > 0 && !text.empty(); --edits) {
      const std::size_t at = below(static_cast<std::uint32_t>(text.size()));
      switch (below(3)) {
        case 0: text[at] = character(); break;
        case 1: text.insert(at, 1, character()); break;
        default: text.erase(at, 1); break;
      }
    }
    return text;
  }

 private:
  std::uint32_t below(std::uint32_t n) { return std::uniform_int_distribution<std::uint32_t>(0, n - 1)(rng_); }

  std::string digits(std::uint32_t count) {
    std::string out;
    for (std::uint32_t i = 0; i < count; ++i) out.push_back(static_cast<char>('0' + below(10)));
    return out;
  }

  std::string pick(std::initializer_list<const char*> choices) { return *(choices.begin() + below(static_cast<std::uint32_t>(choices.size()))); }

  std::string zone() {
    const std::string sign = pick({"+", "-"});
    switch (below(12)) {
      case 0:
      case 1:
      case 2: return "";
      case 3: return pick({"Z", "z"});
      case 4: return sign + digits(2);
      case 5: return sign + digits(4);
      case 6:
      case 7: return sign + digits(2) + ":" + digits(2);
      case 8: return sign + pick({"23:59", "24:00", "23:60", "00:00", "00", "2359", "2400"});
      case 9: return sign + digits(1 + below(3));
      case 10: return pick({"ZZ", " Z", "Z ", "+", "UTC", "+05:30:00"});
      default: return sign + digits(2) + ":" + digits(1);
    }
  }

  char character() {
    static constexpr char kAlphabet[] = "0123456789-:.,TtZz+- \tWx\xC3\xA9";
    if (below(20) == 0) return '\0';
    return kAlphabet[below(sizeof kAlphabet - 1)];
  }

  std::mt19937 rng_;
};

TEST(IsoDateFastPath, RandomizedAgainstTheGeneralParsers) {
  NearMissGenerator generator(20240315);
  // How often each road was taken, so that a generator that stopped reaching
  // one of them fails loudly instead of testing nothing.
  constexpr int kTexts = 200000;
  int fast = 0, general_only = 0, refused = 0;
  for (int i = 0; i < kTexts; ++i) {
    const bool time_only = i % 4 == 0;
    std::string text = time_only ? generator.time() : generator.datetime();
    if (i % 2 == 1) text = generator.mutate(text);
    const Roads roads = time_only ? time_roads(text) : datetime_roads(text);
    if (!roads.fast.empty()) {
      ++fast;
    } else if (roads.general.rfind("error: ", 0) == 0) {
      ++refused;
    } else {
      ++general_only;
    }
    expect_same(roads, text);
    if (HasFailure()) break;  // the first differing text says it all
  }
  EXPECT_GT(fast, kTexts / 20) << general_only << " " << refused;
  EXPECT_GT(general_only, kTexts / 20) << fast << " " << refused;
  EXPECT_GT(refused, kTexts / 20) << fast << " " << general_only;
}

}  // namespace
}  // namespace tolva_utils::isodate
