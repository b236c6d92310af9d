#include "source_file/text_scan.h"

#if defined(__SSE2__) && defined(__x86_64__)
#include <emmintrin.h>
#endif

namespace source_file::text_scan {
namespace {

// The line start for a line-break byte found at `at`, or 0 for a "\r" that
// opens a "\r\n" pair (whose "\n" pushes instead). 0 is never a real answer
// here: a break at `at` yields at + 1 >= 1.
inline std::uint32_t line_start_after(const char* data, std::size_t size, std::size_t at) {
  if (data[at] == '\r' && at + 1 < size && data[at + 1] == '\n') return 0;
  return static_cast<std::uint32_t>(at + 1);
}

inline void scan_scalar_from(const char* data, std::size_t size, std::size_t from,
                             std::vector<std::uint32_t>& line_starts) {
  for (std::size_t i = from; i < size; ++i) {
    if (data[i] == '\n' || data[i] == '\r') {
      if (std::uint32_t start = line_start_after(data, size, i)) line_starts.push_back(start);
    }
  }
}

inline bool any_high_byte_scalar(const char* data, std::size_t from, std::size_t size) {
  unsigned char seen = 0;
  for (std::size_t i = from; i < size; ++i) seen |= static_cast<unsigned char>(data[i]);
  return (seen & 0x80) != 0;
}

inline bool is_character_start(char byte) { return static_cast<signed char>(byte) >= -64; }  // not 10xxxxxx
inline bool is_four_byte_lead(char byte) { return static_cast<unsigned char>(byte) >= 0xF0; }  // 11110xxx and up

template <bool kUtf16>
std::uint64_t count_scalar_from(const char* data, std::size_t from, std::size_t size) {
  std::uint64_t count = 0;
  for (std::size_t i = from; i < size; ++i) {
    count += is_character_start(data[i]);
    if constexpr (kUtf16) count += is_four_byte_lead(data[i]);
  }
  return count;
}

#if defined(__SSE2__) && defined(__x86_64__)

inline __m128i load(const char* at) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at)); }

// Bit k set when byte k of `block` is "\n" or "\r".
inline std::uint32_t line_break_mask(__m128i block) {
  const __m128i newline = _mm_set1_epi8('\n');
  const __m128i carriage_return = _mm_set1_epi8('\r');
  __m128i hits = _mm_or_si128(_mm_cmpeq_epi8(block, newline), _mm_cmpeq_epi8(block, carriage_return));
  return static_cast<std::uint32_t>(_mm_movemask_epi8(hits));
}

// Counts characters (and, for UTF-16, four-byte leads) block by block: each
// 16-byte block adds 0 or 1 per byte lane to an 8-bit accumulator (the
// compares yield -1 for a hit, so subtracting adds one), which is folded
// into 64-bit sums with _mm_sad_epu8 before any lane can overflow.
template <bool kUtf16>
std::uint64_t count_blocks(const char* data, std::size_t size) {
  const __m128i continuation_limit = _mm_set1_epi8(-65);  // bytes above it start a character
  const __m128i four_byte_bits = _mm_set1_epi8(static_cast<char>(0xF0));  // 1111xxxx leads four bytes
  const __m128i zero = _mm_setzero_si128();
  __m128i sums = zero;
  std::size_t i = 0;
  while (i + 16 <= size) {
    // At most 2 per lane per block for UTF-16, so 127 blocks keep lanes <= 254.
    std::size_t blocks = (size - i) / 16;
    if (blocks > 127) blocks = 127;
    __m128i lanes = zero;
    for (std::size_t b = 0; b < blocks; ++b, i += 16) {
      __m128i block = load(data + i);
      lanes = _mm_sub_epi8(lanes, _mm_cmpgt_epi8(block, continuation_limit));
      if constexpr (kUtf16) {
        lanes = _mm_sub_epi8(lanes, _mm_cmpeq_epi8(_mm_and_si128(block, four_byte_bits), four_byte_bits));
      }
    }
    sums = _mm_add_epi64(sums, _mm_sad_epu8(lanes, zero));
  }
  auto count = static_cast<std::uint64_t>(_mm_cvtsi128_si64(sums)) +
               static_cast<std::uint64_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(sums, sums)));
  return count + count_scalar_from<kUtf16>(data, i, size);
}

#endif  // __SSE2__ && __x86_64__

}  // namespace

bool scan_line_starts_scalar(std::string_view text, std::vector<std::uint32_t>& line_starts) {
  scan_scalar_from(text.data(), text.size(), 0, line_starts);
  return any_high_byte_scalar(text.data(), 0, text.size());
}

std::uint64_t count_characters_scalar(std::string_view text) {
  return count_scalar_from<false>(text.data(), 0, text.size());
}

std::uint64_t count_utf16_code_units_scalar(std::string_view text) {
  return count_scalar_from<true>(text.data(), 0, text.size());
}

std::size_t find_last_line_break_scalar(std::string_view text) {
  for (std::size_t i = text.size(); i > 0; --i) {
    if (text[i - 1] == '\n' || text[i - 1] == '\r') return i - 1;
  }
  return std::string_view::npos;
}

#if defined(__SSE2__) && defined(__x86_64__)

// 32 bytes per step (two SSE2 blocks), then one 16-byte block, then bytes.
// The bytes are OR-ed into `high` on the way, so the non-ASCII test costs
// one instruction per block.
bool scan_line_starts(std::string_view text, std::vector<std::uint32_t>& line_starts) {
  const char* data = text.data();
  const std::size_t size = text.size();
  __m128i high = _mm_setzero_si128();
  std::size_t i = 0;
  for (; i + 32 <= size; i += 32) {
    __m128i first = load(data + i);
    __m128i second = load(data + i + 16);
    high = _mm_or_si128(high, _mm_or_si128(first, second));
    std::uint32_t mask = line_break_mask(first) | (line_break_mask(second) << 16);
    while (mask != 0) {
      std::size_t at = i + static_cast<std::size_t>(__builtin_ctz(mask));
      mask &= mask - 1;
      if (std::uint32_t start = line_start_after(data, size, at)) line_starts.push_back(start);
    }
  }
  if (i + 16 <= size) {
    __m128i block = load(data + i);
    high = _mm_or_si128(high, block);
    std::uint32_t mask = line_break_mask(block);
    while (mask != 0) {
      std::size_t at = i + static_cast<std::size_t>(__builtin_ctz(mask));
      mask &= mask - 1;
      if (std::uint32_t start = line_start_after(data, size, at)) line_starts.push_back(start);
    }
    i += 16;
  }
  scan_scalar_from(data, size, i, line_starts);
  return _mm_movemask_epi8(high) != 0 || any_high_byte_scalar(data, i, size);
}

std::uint64_t count_characters(std::string_view text) { return count_blocks<false>(text.data(), text.size()); }

std::uint64_t count_utf16_code_units(std::string_view text) {
  return count_blocks<true>(text.data(), text.size());
}

// 16-byte blocks from the end backwards; the highest set bit of a block's
// mask is its last line break.
std::size_t find_last_line_break(std::string_view text) {
  const char* data = text.data();
  std::size_t end = text.size();
  while (end >= 16) {
    std::uint32_t mask = line_break_mask(load(data + end - 16));
    if (mask != 0) return end - 16 + static_cast<std::size_t>(31 - __builtin_clz(mask));
    end -= 16;
  }
  return find_last_line_break_scalar(text.substr(0, end));
}

#else  // no SSE2: the scalar loops are the fast versions

bool scan_line_starts(std::string_view text, std::vector<std::uint32_t>& line_starts) {
  return scan_line_starts_scalar(text, line_starts);
}
std::uint64_t count_characters(std::string_view text) { return count_characters_scalar(text); }
std::uint64_t count_utf16_code_units(std::string_view text) { return count_utf16_code_units_scalar(text); }
std::size_t find_last_line_break(std::string_view text) { return find_last_line_break_scalar(text); }

#endif

}  // namespace source_file::text_scan
