#pragma once

// Parse errors as tests compare them: the display text and the byte range.

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "python_parser/error.h"

namespace python_parser::parser_testing {

struct ShownError {
  std::string text;
  std::uint32_t start;
  std::uint32_t end;
  bool operator==(const ShownError&) const = default;
};

std::ostream& operator<<(std::ostream& out, const ShownError& error);

// Every error of the list, in order.
std::vector<ShownError> shown(const std::vector<ParseError>& errors);

}  // namespace python_parser::parser_testing
