// snake_case names and "::"-joined namespaced names.
//
// to_snake_case is three rewrites and a lowercasing:
//   1. "(.)([A-Z][a-z]+)"   -> "${1}_${2}"   (any character before a capitalised word)
//   2. "__([A-Z])"          -> "_${1}"       (undo the doubling of step 1 after an "_")
//   3. "([a-z0-9])([A-Z])"  -> "${1}_${2}"   (lower case or digit before a capital)
//   4. full Unicode lowercasing (final sigma included)
// Each rewrite replaces the leftmost match, then the leftmost match starting
// at or after its end, and so on, over the text of the step before. The
// patterns are fixed and small, so each is a hand-written scanner: "." is one
// Unicode scalar value other than "\n", the classes are ASCII, "+" is greedy.
// Matches start on character boundaries only, so a multi-byte character
// before a capital is the "." of its match as a whole.

#include <unicode/locid.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>

#include "tolva_utils/namespace.h"
#include "support/utf8_pieces.h"
#include "tolva_utils/text.h"

namespace tolva_utils::namespace_ {

namespace {

bool is_upper(char c) { return c >= 'A' && c <= 'Z'; }
bool is_lower(char c) { return c >= 'a' && c <= 'z'; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Bytes of the UTF-8 character whose lead byte is `lead`; the text is valid.
std::size_t char_length(char lead) {
  const auto byte = static_cast<unsigned char>(lead);
  if (byte < 0x80) return 1;
  if (byte < 0xE0) return 2;
  if (byte < 0xF0) return 3;
  return 4;
}

// Step 1: "(.)([A-Z][a-z]+)" -> "${1}_${2}".
std::string split_capitalised_words(std::string_view in) {
  std::string out;
  out.reserve(in.size() + in.size() / 4);
  std::size_t copied = 0;
  std::size_t pos = 0;
  while (pos < in.size()) {
    const std::size_t length = char_length(in[pos]);
    const std::size_t capital = pos + length;
    if (in[pos] != '\n' && capital < in.size() && is_upper(in[capital])) {
      std::size_t end = capital + 1;
      while (end < in.size() && is_lower(in[end])) ++end;
      if (end > capital + 1) {
        out.append(in, copied, capital - copied);
        out.push_back('_');
        out.append(in, capital, end - capital);
        copied = pos = end;
        continue;
      }
    }
    pos += length;
  }
  out.append(in, copied, std::string::npos);
  return out;
}

// Step 2: "__([A-Z])" -> "_${1}".
std::string merge_double_underscores(std::string_view in) {
  std::string out;
  out.reserve(in.size());
  std::size_t pos = 0;
  while (pos < in.size()) {
    if (in[pos] == '_' && pos + 2 < in.size() && in[pos + 1] == '_' && is_upper(in[pos + 2])) {
      out.push_back('_');
      out.push_back(in[pos + 2]);
      pos += 3;
    } else {
      out.push_back(in[pos++]);
    }
  }
  return out;
}

// Step 3: "([a-z0-9])([A-Z])" -> "${1}_${2}".
std::string split_before_capitals(std::string_view in) {
  std::string out;
  out.reserve(in.size() + in.size() / 4);
  std::size_t pos = 0;
  while (pos < in.size()) {
    if ((is_lower(in[pos]) || is_digit(in[pos])) && pos + 1 < in.size() && is_upper(in[pos + 1])) {
      out.push_back(in[pos]);
      out.push_back('_');
      out.push_back(in[pos + 1]);
      pos += 2;
    } else {
      out.push_back(in[pos++]);
    }
  }
  return out;
}

// The one context-dependent rule of the root locale's lowercasing is the
// final sigma: U+03A3 becomes U+03C2 after a cased letter (case-ignorable
// characters between them skipped) when no cased letter follows in the same
// way. A cut between two characters that are neither case-ignorable nor a
// capital sigma leaves every sigma's context on its own side.
bool is_lowercase_cut(std::string_view text, std::size_t offset) {
  const auto independent = [](char32_t c) {
    return c != U'\u03A3' && u_hasBinaryProperty(static_cast<UChar32>(c), UCHAR_CASE_IGNORABLE) == 0;
  };
  std::size_t before = offset - 1;
  while (before > 0 && (static_cast<unsigned char>(text[before]) & 0xC0) == 0x80) --before;
  return independent(text::decode_utf8(text, before).code_point) && independent(text::decode_utf8(text, offset).code_point);
}

// Appends `text` lowercased in ASCII to `out`.
void append_ascii_lowercase(std::string& out, std::string_view text) {
  const std::size_t at = out.size();
  out.append(text);
  for (std::size_t i = at; i < out.size(); ++i) {
    if (is_upper(out[i])) out[i] = static_cast<char>(out[i] - 'A' + 'a');
  }
}

// Step 4: the full Unicode lowercase mapping; ASCII needs no table, and
// neither does an ASCII piece of a long text.
std::string lowercase(std::string_view text, tolva::PieceLimits limits) {
  std::string out;
  out.reserve(text.size());
  if (text::is_ascii(text)) {
    append_ascii_lowercase(out, text);
    return out;
  }
  tolva::for_each_utf8_piece(text, limits, "to_snake_case", is_lowercase_cut, [&](std::string_view piece) {
    if (text::is_ascii(piece)) {
      append_ascii_lowercase(out, piece);
      return;
    }
    icu::UnicodeString wide =
        icu::UnicodeString::fromUTF8(icu::StringPiece(piece.data(), static_cast<std::int32_t>(piece.size())));
    wide.toLower(icu::Locale::getRoot());
    wide.toUTF8String(out);
  });
  return out;
}

}  // namespace

std::string to_snake_case(std::string_view name) { return detail::to_snake_case(name, tolva::PieceLimits{}); }

namespace detail {

std::string to_snake_case(std::string_view name, tolva::PieceLimits limits) {
  // Ill-formed UTF-8 (which no Python string holds) is first made valid,
  // each maximal ill-formed subpart becoming U+FFFD, so the scanners see
  // whole scalar values and the result is always valid UTF-8.
  // Each step reads the text of the step before; nothing is copied for a
  // step that has nothing to do.
  std::string repaired;
  if (!text::is_valid_utf8(name)) {
    repaired = text::to_valid_utf8(name);
    name = repaired;
  }
  // The rewrites all need an ASCII capital; without one they change nothing.
  bool has_capital = false;
  for (const char c : name) has_capital = has_capital || is_upper(c);
  std::string rewritten;
  if (has_capital) {
    rewritten = split_before_capitals(merge_double_underscores(split_capitalised_words(name)));
    if (text::is_ascii(rewritten)) {
      for (char& c : rewritten) {
        if (is_upper(c)) c = static_cast<char>(c - 'A' + 'a');
      }
      return rewritten;
    }
    name = rewritten;
  }
  return lowercase(name, limits);
}

}  // namespace detail

std::string build_namespaced_name(std::optional<std::string_view> ns, std::optional<std::string_view> name) {
  std::string out;
  bool first = true;
  const auto append_part = [&](std::string_view part) {
    if (!first) out.append("::");
    out.append(part);
    first = false;
  };
  if (ns) {
    std::string_view rest = *ns;
    for (;;) {
      const std::size_t separator = rest.find("::");
      const std::string_view segment = rest.substr(0, separator);
      if (!segment.empty()) append_part(to_snake_case(segment));
      if (separator == std::string_view::npos) break;
      rest.remove_prefix(separator + 2);
    }
  }
  if (name && !name->empty()) append_part(*name);
  return out;
}

}  // namespace tolva_utils::namespace_

namespace tolva_utils {

std::optional<std::string> prepare_for_threads() {
  // Upper-case Greek, whose last sigma lowercases to the final form: the
  // whole mapping, context included, in one short call.
  if (namespace_::to_snake_case("\u03A3\u0391\u03A3") != "\u03C3\u03B1\u03C2") {
    return std::string("the case mapping of ICU is unavailable");
  }
  return std::nullopt;
}

}  // namespace tolva_utils
