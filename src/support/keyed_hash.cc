#include "support/keyed_hash.h"

#include <sys/random.h>
#include <unistd.h>

#include <atomic>
#include <bit>
#include <chrono>
#include <cstring>

namespace tolva {

namespace {

struct SipState {
  std::uint64_t v0, v1, v2, v3;

  void round() noexcept {
    v0 += v1;
    v1 = std::rotl(v1, 13);
    v1 ^= v0;
    v0 = std::rotl(v0, 32);
    v2 += v3;
    v3 = std::rotl(v3, 16);
    v3 ^= v2;
    v0 += v3;
    v3 = std::rotl(v3, 21);
    v3 ^= v0;
    v2 += v1;
    v1 = std::rotl(v1, 17);
    v1 ^= v2;
    v2 = std::rotl(v2, 32);
  }

  // One message word: one compression round.
  void absorb(std::uint64_t word) noexcept {
    v3 ^= word;
    round();
    v0 ^= word;
  }
};

// The little-endian word of 8 bytes at `p` (the machines this builds for
// are little-endian; the test vectors would show otherwise).
std::uint64_t load_word(const char* p) noexcept {
  std::uint64_t word;
  std::memcpy(&word, p, sizeof word);
  return word;
}

// A key from the system's random source; should that fail (no getrandom,
// or too early in boot), one made of the clock, the process id and an
// address, which still differs from run to run.
HashKey draw_key() noexcept {
  HashKey key;
  unsigned char bytes[16];
  std::size_t filled = 0;
  while (filled < sizeof bytes) {
    const ssize_t got = ::getrandom(bytes + filled, sizeof bytes - filled, GRND_NONBLOCK);
    if (got <= 0) break;
    filled += static_cast<std::size_t>(got);
  }
  if (filled == sizeof bytes) {
    std::memcpy(&key.k0, bytes, 8);
    std::memcpy(&key.k1, bytes + 8, 8);
    return key;
  }
  const auto now = static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
  const auto wall = static_cast<std::uint64_t>(std::chrono::system_clock::now().time_since_epoch().count());
  const auto place = static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(&key));
  const HashKey mixing{now ^ (static_cast<std::uint64_t>(::getpid()) << 32), wall ^ place};
  char seed[16];
  std::memcpy(seed, &now, 8);
  std::memcpy(seed + 8, &place, 8);
  key.k0 = siphash13(mixing, std::string_view(seed, 8));
  key.k1 = siphash13(mixing, std::string_view(seed, 16));
  return key;
}

// The process's key, one word at a time, 0 while not drawn. Each word is
// set once, by whichever thread stores it first, and never changes after;
// the words of one key may thus come from two draws, each of them random.
// Constant-initialised, so there is no guard that a thread could hold
// while the process forks.
constinit std::atomic<std::uint64_t> process_key_words[2] = {0, 0};

// `word` as a key word: 0 marks a word not drawn yet, so a drawn 0 (one
// chance in 2^64) becomes 1.
std::uint64_t as_key_word(std::uint64_t word) noexcept { return word == 0 ? 1 : word; }

// The process key's word `index`: the one already stored, else `drawn`,
// stored unless another thread stored its own first.
std::uint64_t settle_key_word(int index, std::uint64_t drawn) noexcept {
  std::uint64_t stored = 0;
  if (process_key_words[index].compare_exchange_strong(stored, drawn, std::memory_order_relaxed)) return drawn;
  return stored;
}

}  // namespace

std::uint64_t siphash13(HashKey key, std::string_view bytes) noexcept {
  SipState s{key.k0 ^ 0x736f6d6570736575ULL, key.k1 ^ 0x646f72616e646f6dULL, key.k0 ^ 0x6c7967656e657261ULL,
             key.k1 ^ 0x7465646279746573ULL};
  const char* p = bytes.data();
  const std::size_t size = bytes.size();
  const std::size_t whole = size & ~std::size_t{7};
  for (std::size_t i = 0; i < whole; i += 8) s.absorb(load_word(p + i));
  // The last word: the remaining bytes, and the length's low byte on top.
  std::uint64_t last = static_cast<std::uint64_t>(size & 0xFF) << 56;
  for (std::size_t i = whole; i < size; ++i) {
    last |= static_cast<std::uint64_t>(static_cast<unsigned char>(p[i])) << (8 * (i - whole));
  }
  s.absorb(last);
  s.v2 ^= 0xFF;
  s.round();
  s.round();
  s.round();
  return s.v0 ^ s.v1 ^ s.v2 ^ s.v3;
}

HashKey process_hash_key() noexcept {
  // Each word is a value of its own, read and stored whole: nothing else is
  // published with it, so relaxed order suffices.
  HashKey key{process_key_words[0].load(std::memory_order_relaxed),
              process_key_words[1].load(std::memory_order_relaxed)};
  if (key.k0 != 0 && key.k1 != 0) [[likely]] return key;
  const HashKey drawn = draw_key();
  key.k0 = settle_key_word(0, as_key_word(drawn.k0));
  key.k1 = settle_key_word(1, as_key_word(drawn.k1));
  return key;
}

}  // namespace tolva
