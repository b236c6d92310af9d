#include "python_ast/string_flags.h"

#include <cstdio>
#include <string>

#include "support/fatal_error.h"

namespace python_ast {

namespace string_flags_detail {

void wrong_family(AnyStringFlags flags, std::string_view target) {
  std::string message = "internal error: entered unreachable code: Should never attempt to convert ";
  message += prefix_text(flags.prefix());
  message += " into ";
  message += target;
  tolva::fatal(message);
}

}  // namespace string_flags_detail

namespace {

std::ostream& write_hex(std::ostream& out, unsigned bits, int digits) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%0*x", digits, bits);
  return out << text;
}

}  // namespace

std::ostream& operator<<(std::ostream& out, AnyStringFlags flags) { return write_hex(out, flags.bits(), 3); }
std::ostream& operator<<(std::ostream& out, StringLiteralFlags flags) { return write_hex(out, flags.bits(), 2); }
std::ostream& operator<<(std::ostream& out, BytesLiteralFlags flags) { return write_hex(out, flags.bits(), 2); }
std::ostream& operator<<(std::ostream& out, FStringFlags flags) { return write_hex(out, flags.bits(), 2); }
std::ostream& operator<<(std::ostream& out, TStringFlags flags) { return write_hex(out, flags.bits(), 2); }

}  // namespace python_ast
