#pragma once

// The prefix of a string, bytes, f-string or t-string literal.
//
// Thirteen prefixes in four families. The text of a prefix is its canonical
// spelling: lowercase b, f, t and u, with the r or R first, whatever the
// source wrote. The case of the raw letter is kept, the other letter's is not:
// "Br" reads "rb", "bR" reads "Rb".

#include <cstdint>
#include <ostream>
#include <string_view>

namespace python_ast {

enum class AnyStringPrefix : std::uint8_t {
  // Regular strings.
  Empty,    // ""
  Unicode,  // "u"
  Raw,      // "r"
  RawUpper, // "R"
  // Bytes.
  Bytes,          // "b"
  RawBytes,       // "rb"
  RawUpperBytes,  // "Rb"
  // f-strings.
  Format,          // "f"
  RawFormat,       // "rf"
  RawUpperFormat,  // "Rf"
  // t-strings.
  Template,          // "t"
  RawTemplate,       // "rt"
  RawUpperTemplate,  // "Rt"
};

inline constexpr int kAnyStringPrefixCount = 13;

// The canonical text of the prefix (the table above).
constexpr std::string_view prefix_text(AnyStringPrefix prefix) {
  switch (prefix) {
    case AnyStringPrefix::Empty: return "";
    case AnyStringPrefix::Unicode: return "u";
    case AnyStringPrefix::Raw: return "r";
    case AnyStringPrefix::RawUpper: return "R";
    case AnyStringPrefix::Bytes: return "b";
    case AnyStringPrefix::RawBytes: return "rb";
    case AnyStringPrefix::RawUpperBytes: return "Rb";
    case AnyStringPrefix::Format: return "f";
    case AnyStringPrefix::RawFormat: return "rf";
    case AnyStringPrefix::RawUpperFormat: return "Rf";
    case AnyStringPrefix::Template: return "t";
    case AnyStringPrefix::RawTemplate: return "rt";
    case AnyStringPrefix::RawUpperTemplate: return "Rt";
  }
  return "";
}

// Writes the canonical text.
inline std::ostream& operator<<(std::ostream& out, AnyStringPrefix prefix) { return out << prefix_text(prefix); }

constexpr bool is_regular_prefix(AnyStringPrefix prefix) { return prefix <= AnyStringPrefix::RawUpper; }
constexpr bool is_bytes_prefix(AnyStringPrefix prefix) {
  return AnyStringPrefix::Bytes <= prefix && prefix <= AnyStringPrefix::RawUpperBytes;
}
constexpr bool is_fstring_prefix(AnyStringPrefix prefix) {
  return AnyStringPrefix::Format <= prefix && prefix <= AnyStringPrefix::RawUpperFormat;
}
constexpr bool is_tstring_prefix(AnyStringPrefix prefix) { return AnyStringPrefix::Template <= prefix; }

// Whether the prefix holds an r or an R.
constexpr bool is_raw_prefix(AnyStringPrefix prefix) {
  switch (prefix) {
    case AnyStringPrefix::Raw:
    case AnyStringPrefix::RawUpper:
    case AnyStringPrefix::RawBytes:
    case AnyStringPrefix::RawUpperBytes:
    case AnyStringPrefix::RawFormat:
    case AnyStringPrefix::RawUpperFormat:
    case AnyStringPrefix::RawTemplate:
    case AnyStringPrefix::RawUpperTemplate:
      return true;
    default:
      return false;
  }
}

}  // namespace python_ast
