#include "tolva_ast/ast_types.h"

#include <cstring>

#include "tolva_utils/text.h"

namespace tolva_ast {

namespace {

// Whether `text` holds nothing but Unicode white space. ASCII is decided
// byte by byte; the first byte above ASCII hands the rest to the trim.
bool is_blank(std::string_view text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte == ' ' || (byte >= '\t' && byte <= '\r')) continue;
    if (byte < 0x80) return false;
    return tolva_utils::text::trim_white_space(text.substr(i)).empty();
  }
  return true;
}

// The leading run of spaces and tabs of `line`.
std::string_view indentation(std::string_view line) {
  std::size_t n = 0;
  while (n < line.size() && (line[n] == ' ' || line[n] == '\t')) ++n;
  return line.substr(0, n);
}

// Calls visit(start, content_end, next) for each line of `text`: a line
// ends after "\n", "\r\n" or a lone "\r" (the last one may have no break);
// its content is [start, content_end), its break [content_end, next).
template <class Visit>
void for_each_line(std::string_view text, Visit&& visit) {
  std::size_t at = 0;
  while (at < text.size()) {
    const LineBreak line_break = next_line_break(text, at);
    visit(at, line_break.at, line_break.at + line_break.length);
    at = line_break.at + line_break.length;
  }
}

}  // namespace

LineBreak next_line_break(std::string_view text, std::size_t offset) {
  const std::size_t at = text.find_first_of("\r\n", offset);
  if (at == std::string_view::npos) return {text.size(), 0};
  return {at, text[at] == '\r' && at + 1 < text.size() && text[at + 1] == '\n' ? std::size_t{2} : std::size_t{1}};
}

std::string ClassSource::text() const {
  const std::string_view cut = lines();

  // The common indentation of the non-blank lines, compared character by
  // character with the first one's. Once it is empty nothing shortens it.
  std::optional<std::string_view> common;
  for_each_line(cut, [&](std::size_t start, std::size_t content_end, std::size_t) {
    if (common.has_value() && common->empty()) return;
    const std::string_view content = cut.substr(start, content_end - start);
    const std::string_view indent = indentation(content);
    if (is_blank(content.substr(indent.size()))) return;
    if (!common.has_value()) {
      common = indent;
      return;
    }
    std::size_t n = 0;
    while (n < common->size() && n < indent.size() && (*common)[n] == indent[n]) ++n;
    common = common->substr(0, n);
  });

  // Each non-blank line without the common indentation (a prefix of its
  // own), with its break; each blank line as its break alone. The text is
  // copied in runs between the places where bytes are dropped.
  const std::size_t drop = common.has_value() ? common->size() : 0;
  std::string out;
  out.resize(cut.size());
  char* write = out.data();
  std::size_t run = 0;  // start of the bytes not yet copied
  const auto flush = [&](std::size_t until) {
    if (until == run) return;
    std::memcpy(write, cut.data() + run, until - run);
    write += until - run;
  };
  for_each_line(cut, [&](std::size_t start, std::size_t content_end, std::size_t) {
    const std::string_view content = cut.substr(start, content_end - start);
    if (is_blank(content.substr(indentation(content).size()))) {
      if (content.empty()) return;  // the line is its break already
      flush(start);
      run = content_end;
    } else if (drop > 0) {
      flush(start);
      run = start + drop;
    }
  });
  flush(cut.size());
  out.resize(static_cast<std::size_t>(write - out.data()));
  return out;
}

}  // namespace tolva_ast
