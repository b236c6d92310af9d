#include "support/keyed_hash.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace tolva {
namespace {

std::string first_bytes(int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out.push_back(static_cast<char>(i));
  return out;
}

// CPython hashes bytes with SipHash-1-3; under PYTHONHASHSEED=0 its key is
// zero, so `hash(b)` (as an unsigned 64-bit number) is siphash13 of b under
// the zero key, for any b but the empty one (which CPython maps to 0).
// Figures from
//   PYTHONHASHSEED=0 python3.11 -c 'print(hex(hash(b"abc") & (2**64 - 1)))'
// The lengths cover no word, one whole word, a word and a tail, and several.
TEST(KeyedHash, SipHash13UnderTheZeroKeyIsCPythonsUnseededBytesHash) {
  struct Case {
    std::string bytes;
    std::uint64_t hash;
  };
  const Case cases[] = {
      {"a", 0x407448d2b89b1813ULL},
      {"abc", 0xc03bc3a0042630f2ULL},
      {"k12345", 0xa81cfd91de2e0a3cULL},
      {"abcdefg", 0x6db12aae9070f506ULL},
      {"abcdefgh", 0x3f7b849c0b8e35eaULL},
      {"abcdefghi", 0xf89b34a3d11eb6e5ULL},
      {first_bytes(15), 0xf30eb725bb91c9eaULL},
      {first_bytes(16), 0x8972188433a5c5b7ULL},
      {first_bytes(64), 0x75e05fd5bbc870c6ULL},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(siphash13(HashKey{}, c.bytes), c.hash) << c.bytes.size() << " bytes";
  }
}

TEST(KeyedHash, TheKeyChangesTheHashAndTheProcessKeyStaysTheSame) {
  EXPECT_NE(siphash13(HashKey{1, 0}, "abc"), siphash13(HashKey{}, "abc"));
  EXPECT_NE(siphash13(HashKey{0, 1}, "abc"), siphash13(HashKey{}, "abc"));
  const HashKey key = process_hash_key();
  EXPECT_EQ(process_hash_key().k0, key.k0);
  EXPECT_EQ(process_hash_key().k1, key.k1);
  EXPECT_EQ(keyed_hash("field"), siphash13(key, "field"));
  // Drawn at random: that both halves are zero has odds of 2^-128.
  EXPECT_TRUE(key.k0 != 0 || key.k1 != 0);
}

// The key is drawn on first use with no guard: threads that all meet it
// first at once may each draw, yet every one of them, and every later call,
// sees one key. The death test runs in a process of its own (the test binary
// started anew), where the key is not drawn yet.
TEST(KeyedHashDeathTest, ThreadsMeetingTheKeyFirstAtOnceAgreeOnIt) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        constexpr int kThreads = 16;
        std::vector<HashKey> seen(kThreads);
        std::atomic<int> waiting{kThreads};
        std::vector<std::thread> threads;
        for (int i = 0; i < kThreads; ++i) {
          threads.emplace_back([&, i] {
            waiting.fetch_sub(1);
            while (waiting.load() > 0) {
            }
            seen[i] = process_hash_key();
          });
        }
        for (std::thread& thread : threads) thread.join();
        const HashKey last = process_hash_key();
        bool agree = last.k0 != 0 && last.k1 != 0;
        for (const HashKey& key : seen) agree = agree && key.k0 == last.k0 && key.k1 == last.k1;
        std::exit(agree ? 0 : 1);
      },
      testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace tolva
