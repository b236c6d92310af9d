#include "test_support/python_parser/shown_error.h"

namespace python_parser::parser_testing {

std::ostream& operator<<(std::ostream& out, const ShownError& error) {
  return out << '"' << error.text << "\" " << error.start << ".." << error.end;
}

std::vector<ShownError> shown(const std::vector<ParseError>& errors) {
  std::vector<ShownError> out;
  for (const ParseError& error : errors) {
    out.push_back({error.error.display(), error.range.start().raw, error.range.end().raw});
  }
  return out;
}

}  // namespace python_parser::parser_testing
