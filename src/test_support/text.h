#pragma once

// Texts built for tests.

#include <cstddef>
#include <string>
#include <string_view>

namespace test_support {

// `text` written `count` times.
inline std::string repeat(std::string_view text, std::size_t count) {
  std::string out;
  out.reserve(text.size() * count);
  for (std::size_t i = 0; i < count; ++i) out += text;
  return out;
}

}  // namespace test_support
