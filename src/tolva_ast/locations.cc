#include "tolva_ast/locations.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <memory>

#include "source_file/text_scan.h"
#include "support/fatal_error.h"

namespace tolva_ast {

namespace {

// The bytes that stand as themselves in a URI path: RFC 3986's unreserved
// characters, sub-delims, ":", "@" and the segment separator "/".
constexpr std::array<bool, 256> kPathByteAllowed = [] {
  std::array<bool, 256> allowed{};
  for (int c = 'a'; c <= 'z'; ++c) allowed[c] = true;
  for (int c = 'A'; c <= 'Z'; ++c) allowed[c] = true;
  for (int c = '0'; c <= '9'; ++c) allowed[c] = true;
  for (unsigned char c : std::string_view("-._~!$&'()*+,;=:@/")) allowed[c] = true;
  return allowed;
}();

struct FreeDeleter {
  void operator()(char* p) const { std::free(p); }
};

}  // namespace

void append_percent_encoded_path(std::string& out, std::string_view path) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  out.reserve(out.size() + path.size());
  for (char c : path) {
    const auto byte = static_cast<unsigned char>(c);
    if (kPathByteAllowed[byte]) {
      out.push_back(c);
    } else {
      out.push_back('%');
      out.push_back(kHex[byte >> 4]);
      out.push_back(kHex[byte & 0xF]);
    }
  }
}

std::optional<std::string> file_uri_for_path(std::string_view path) {
  std::string uri = "file://";
  if (!path.empty() && path.front() == '/') {
    append_percent_encoded_path(uri, path);
    return uri;
  }
  // realpath needs a NUL-terminated text; a path with a NUL in it names no file.
  if (path.find('\0') != std::string_view::npos) return std::nullopt;
  const std::string terminated(path);
  std::unique_ptr<char, FreeDeleter> resolved(::realpath(terminated.c_str(), nullptr));
  if (resolved == nullptr) return std::nullopt;
  const std::string_view absolute(resolved.get());
  // realpath answers an absolute path; the check keeps the "/" of the URI's
  // path should it ever not.
  if (absolute.empty() || absolute.front() != '/') uri.push_back('/');
  append_percent_encoded_path(uri, absolute);
  return uri;
}

PositionConverter::PositionConverter(std::string_view text, const source_file::LineIndex& index)
    : text_(text),
      line_starts_(index.line_starts()),
      ascii_(index.kind() == source_file::LineIndexKind::Ascii),
      bom_(text.substr(0, 3) == "\xEF\xBB\xBF") {
  tolva::check(!line_starts_.empty() && line_starts_.front() == 0, "a line index starts with line 0 at offset 0");
  next_start_ = line_starts_.size() > 1 ? line_starts_[1] : std::uint64_t{text_.size()} + 1;
}

void PositionConverter::seek_line(std::uint32_t offset) {
  const std::size_t count = line_starts_.size();
  std::size_t line = line_;
  if (offset >= next_start_) {
    // Forward: a few steps cover the usual next lines; a binary search over
    // the rest covers a jump.
    std::size_t steps = 0;
    while (line + 1 < count && line_starts_[line + 1] <= offset && steps < 8) {
      ++line;
      ++steps;
    }
    if (line + 1 < count && line_starts_[line + 1] <= offset) {
      const auto it = std::upper_bound(line_starts_.begin() + static_cast<std::ptrdiff_t>(line) + 1,
                                       line_starts_.end(), offset);
      line = static_cast<std::size_t>(it - line_starts_.begin()) - 1;
    }
  } else {
    const auto it =
        std::upper_bound(line_starts_.begin(), line_starts_.begin() + static_cast<std::ptrdiff_t>(line) + 1, offset);
    line = static_cast<std::size_t>(it - line_starts_.begin()) - 1;
  }
  line_ = static_cast<std::uint32_t>(line);
  line_start_ = line_starts_[line];
  next_start_ = line + 1 < count ? line_starts_[line + 1] : std::uint64_t{text_.size()} + 1;
  offset_ = line_start_;
  characters_ = 0;
}

std::uint32_t PositionConverter::line(text_size::TextOffset at) {
  const std::uint32_t offset = at.raw;
  tolva::check(offset <= text_.size(), "a location's offset lies within its text");
  if (offset < line_start_ || offset >= next_start_) seek_line(offset);
  return line_;
}

Position PositionConverter::position(text_size::TextOffset at) {
  const std::uint32_t offset = at.raw;
  tolva::check(offset <= text_.size(), "a location's offset lies within its text");
  if (offset < line_start_ || offset >= next_start_) seek_line(offset);
  if (ascii_) {
    characters_ = offset - line_start_;
  } else if (offset >= offset_) {
    characters_ += static_cast<std::uint32_t>(source_file::text_scan::count_characters(text_.substr(offset_, offset - offset_)));
  } else if (offset - line_start_ <= offset_ - offset) {
    characters_ = static_cast<std::uint32_t>(
        source_file::text_scan::count_characters(text_.substr(line_start_, offset - line_start_)));
  } else {
    characters_ -= static_cast<std::uint32_t>(source_file::text_scan::count_characters(text_.substr(offset, offset_ - offset)));
  }
  offset_ = offset;
  std::uint32_t character = characters_;
  if (line_ == 0 && bom_ && character > 0) --character;
  return Position{line_, character};
}

}  // namespace tolva_ast
