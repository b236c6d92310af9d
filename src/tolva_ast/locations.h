#pragma once

// Where analysis records point: a file's "file://" URI and zero-based
// positions made from byte offsets.
//
// A file analysis resolves its path once (file_uri_for_path) and, when that
// gives a URI, builds every location of the file from it: all locations of
// one file share one URI text. A path that gives no URI gives no locations,
// and so no records.
//
// Positions: `line` counts the line breaks of the line index ("\n", "\r\n",
// a lone "\r") before the offset; `character` counts Unicode scalar values
// from the start of that line to the offset; on the first line a leading
// byte order mark is not counted. These are LineIndex::line_column's line
// and column, each minus one.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "source_file/line_index.h"
#include "text_size/text_size.h"
#include "tolva_ast/ast_types.h"

namespace tolva_ast {

// Appends `path` to `out` with every byte percent-encoded ("%" and two
// upper-case hexadecimal digits) that may not stand as itself in the path of
// a URI (RFC 3986 "pchar" and "/"): the bytes of non-ASCII characters (and
// any byte of ill-formed UTF-8), controls, space, and `"#%<>?[\]^`{|}`. The
// result names the same bytes for every input.
void append_percent_encoded_path(std::string& out, std::string_view path);

// The URI of the file at `path`: "file://" followed by the percent-encoded
// absolute path. A path that begins with "/" is used as it is (nothing is
// resolved or cleaned: ".", ".." and symbolic links stay); any other path is
// resolved to its canonical absolute form against the process's working
// directory, which needs the file to exist. Absent only when that resolution
// fails (or the path holds a NUL byte).
std::optional<std::string> file_uri_for_path(std::string_view path);

// Byte offsets of one text to Positions.
//
// Keeps a cursor: the line of the previous offset, and the characters
// counted from that line's start up to the previous offset. An offset on the
// same line at or after the cursor costs a count over the bytes in between
// (a subtraction when the text is ASCII, a block-wise count of lead bytes
// otherwise); an offset on a later line steps or binary-searches forward
// from the cursor's line. Analysis asks for offsets in roughly ascending
// order, so most lookups stay on the cursor's line or the next few.
//
// Not thread-safe (the cursor moves); one per file analysis. The text and
// the index must be the ones the index was built from and must outlive the
// converter. An offset beyond the text throws FatalError.
class PositionConverter {
 public:
  PositionConverter(std::string_view text, const source_file::LineIndex& index);

  Position position(text_size::TextOffset offset);
  Range range(text_size::TextRange range) {
    Position start = position(range.start());
    return Range{start, position(range.end())};
  }
  // The zero-based line of `offset`, without counting characters (moves the
  // cursor to the line's start when `offset` is on another line).
  std::uint32_t line(text_size::TextOffset offset);

  std::string_view text() const { return text_; }

 private:
  void seek_line(std::uint32_t offset);

  std::string_view text_;
  std::span<const std::uint32_t> line_starts_;
  bool ascii_;
  bool bom_;
  // The cursor.
  std::uint32_t line_ = 0;        // index into line_starts_
  std::uint32_t line_start_ = 0;  // line_starts_[line_]
  std::uint64_t next_start_ = 0;  // the next line's start, or past the text on the last line
  std::uint32_t offset_ = 0;      // line_start_ <= offset_ < next_start_
  std::uint32_t characters_ = 0;  // characters in [line_start_, offset_)
};

// One file's text, its positions and its URI: everything that makes the
// locations of one file analysis.
class FileLocations {
 public:
  FileLocations(std::string_view text, const source_file::LineIndex& index, SharedUri uri)
      : positions_(text, index), uri_(std::move(uri)) {}

  Location location(text_size::TextRange range) { return Location{uri_, positions_.range(range)}; }
  PositionConverter& positions() { return positions_; }
  std::string_view text() const { return positions_.text(); }
  const SharedUri& uri() const { return uri_; }

 private:
  PositionConverter positions_;
  SharedUri uri_;
};

}  // namespace tolva_ast
