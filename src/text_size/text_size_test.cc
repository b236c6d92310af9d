#include "text_size/text_size.h"

#include <gtest/gtest.h>

namespace text_size {
namespace {

TEST(TextRange, DebugFormAndAccessors) {
  EXPECT_EQ(TextRange(3, 7).debug(), "3..7");
  EXPECT_EQ(TextRange::empty(TextOffset(0)).debug(), "0..0");
  TextRange range = TextRange::at(TextOffset(4), 3);
  EXPECT_EQ(range.start().raw, 4u);
  EXPECT_EQ(range.end().raw, 7u);
  EXPECT_EQ(range.length(), 3u);
  EXPECT_TRUE(range.contains(TextOffset(6)));
  EXPECT_FALSE(range.contains(TextOffset(7)));
  EXPECT_TRUE(range.contains_inclusive(TextOffset(7)));
  EXPECT_EQ(TextRange(1, 2).cover(TextRange(5, 9)), TextRange(1, 9));
}

TEST(TextRange, StartAfterEndIsFatalWithItsText) {
  try {
    (void)TextRange(5, 4);
    FAIL() << "no fatal error";
  } catch (const tolva::FatalError& error) {
    EXPECT_EQ(error.message(), "assertion failed: start.raw <= end.raw");
  }
}

}  // namespace
}  // namespace text_size
