#pragma once

// The byte scans behind the line index, each in a block-wise version and a
// plain scalar version side by side. Both versions of a scan return the same
// result for every input (the tests hold them to it); the unsuffixed one is
// the fast one (SSE2 on x86-64, the scalar loop elsewhere).
//
// The scans work on arbitrary bytes: none of them decodes UTF-8 or assumes
// that it is well formed, and none reads outside the given text.

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace source_file::text_scan {

// Appends to `line_starts` the offset just after every line break of `text`:
// after each "\n", after each "\r" that is not followed by "\n" (the "\r\n"
// pair pushes once, after its "\n"). Returns whether any byte of `text` is at
// or above 0x80. The caller guarantees that text.size() fits 32 bits.
bool scan_line_starts(std::string_view text, std::vector<std::uint32_t>& line_starts);
bool scan_line_starts_scalar(std::string_view text, std::vector<std::uint32_t>& line_starts);

// Number of bytes of `text` that are not UTF-8 continuation bytes: the number
// of characters when `text` is well-formed UTF-8.
std::uint64_t count_characters(std::string_view text);
std::uint64_t count_characters_scalar(std::string_view text);

// Number of UTF-16 code units of `text` when it is well-formed UTF-8: one per
// character, plus one more per four-byte character (lead byte at or above
// 0xF0).
std::uint64_t count_utf16_code_units(std::string_view text);
std::uint64_t count_utf16_code_units_scalar(std::string_view text);

// The index of the last "\n" or "\r" of `text`, or std::string_view::npos.
std::size_t find_last_line_break(std::string_view text);
std::size_t find_last_line_break_scalar(std::string_view text);

}  // namespace source_file::text_scan
