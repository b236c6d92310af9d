#pragma once

// What every mode of tolva-dump shares: reading its inputs, reporting the
// ones it cannot read or that broke the front end, and writing offsets.

#include <cstdint>
#include <string>
#include <string_view>

namespace tolva_dump {

// Reads the whole file (standard input for "-") as bytes into `text`. On
// failure reports "tolva-dump: cannot read PATH: REASON" on standard error
// and returns false.
bool read_input(const std::string& path, std::string& text);

// Reports "tolva-dump: fatal error in PATH: MESSAGE" on standard error.
void report_fatal(const std::string& path, std::string_view message);

// Appends `value` in decimal.
void append_number(std::string& out, std::uint32_t value);

}  // namespace tolva_dump
