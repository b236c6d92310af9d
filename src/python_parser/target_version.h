#pragma once

// The Python version a parse targets, and the records of syntax that needs a
// newer one.

#include <compare>
#include <cstdint>

#include "text_size/text_size.h"

namespace python_parser {

// A Python version, major then minor.
struct TargetVersion {
  std::uint8_t major = 3;
  std::uint8_t minor = 10;

  constexpr auto operator<=>(const TargetVersion&) const = default;
};

// The version this program parses for.
inline constexpr TargetVersion kDefaultTargetVersion{3, 10};

// Syntax that needs a newer Python than the target version. `kind` and
// `sub_kind` are the numbers the grammar assigns to each such construct.
// Nothing reads these records, and they never make a parse fail.
struct VersionGatedSyntaxError {
  std::uint8_t kind = 0;
  std::uint8_t sub_kind = 0;
  text_size::TextRange range;
  TargetVersion target_version;

  bool operator==(const VersionGatedSyntaxError&) const = default;
};

}  // namespace python_parser
