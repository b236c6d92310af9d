#pragma once

// A keyed hash of byte strings for tables whose keys come from user input.
//
// SipHash-1-3 (one compression round per 8-byte word, three finalisation
// rounds; the same function as CPython's str and bytes hash) under a 128-bit
// key. Without the key nobody can choose many texts that fall into the same
// buckets, so a table hashed this way keeps its expected cost on any input;
// a fixed, public hash function cannot promise that.

#include <cstdint>
#include <string_view>

namespace tolva {

struct HashKey {
  std::uint64_t k0 = 0;
  std::uint64_t k1 = 0;
};

// SipHash-1-3 of `bytes` under `key` (the key's words read as the
// little-endian halves of the 16 key bytes).
std::uint64_t siphash13(HashKey key, std::string_view bytes) noexcept;

// The key of this process: drawn from the system's random source on first
// use, the same for every later call, in any thread. No call ever waits for
// another thread's draw, so a process forked while a thread was drawing
// finds the key, or draws the missing half itself.
HashKey process_hash_key() noexcept;

// siphash13 under the process's key.
inline std::uint64_t keyed_hash(std::string_view bytes) noexcept { return siphash13(process_hash_key(), bytes); }

}  // namespace tolva
