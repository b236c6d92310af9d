#include "tolva_ast/fork_safety.h"

#include <gtest/gtest.h>

#include <optional>

namespace tolva_ast {
namespace {

// The fork handlers were registered as the program was loaded, and what the
// analysis makes once per process (the parser's Unicode tables) is made by
// prepare_for_threads, any number of times.
TEST(PrepareForThreads, RegistersNothingTwiceAndAnswersNoError) {
  EXPECT_EQ(fork_handlers_error(), std::nullopt);
  EXPECT_EQ(prepare_for_threads(), std::nullopt);
  EXPECT_EQ(prepare_for_threads(), std::nullopt);
}

}  // namespace
}  // namespace tolva_ast
