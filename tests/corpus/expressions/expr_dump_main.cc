// expr_dump: parses expressions in expression mode and prints what the
// parser made of each, for the expression differential test.
//
// Input (standard input): any number of records, each the byte length of one
// source text in decimal, a line feed, then exactly that many bytes.
// Output (standard output): one line per record, a JSON object:
//   {"tree": DUMP, "errors": [[TEXT, START, END], ...]}
// where DUMP is the JSON dump of the expression (python_ast/dump.h) and each
// error is the merged error's display text with its byte range, in list
// order. A record whose parse threw a FatalError prints {"fatal": TEXT}; a
// malformed record ends the program with status 2.

#include <cstdio>
#include <exception>
#include <iostream>
#include <string>
#include <string_view>

#include "python_ast/dump.h"
#include "python_parser/parse.h"
#include "support/fatal_error.h"

namespace {

bool read_record(std::istream& in, std::string& text) {
  std::string header;
  if (!std::getline(in, header)) return false;
  std::size_t length = 0;
  for (char c : header) {
    if (c < '0' || c > '9') {
      std::cerr << "expr_dump: bad record header\n";
      std::exit(2);
    }
    length = length * 10 + static_cast<std::size_t>(c - '0');
  }
  text.resize(length);
  if (length != 0 && !in.read(text.data(), static_cast<std::streamsize>(length))) {
    std::cerr << "expr_dump: truncated record\n";
    std::exit(2);
  }
  return true;
}

void print_parse(std::string_view source, std::string& out) {
  python_parser::Parsed<python_ast::Mod> parsed =
      python_parser::parse_unchecked(source, python_parser::Mode::Expression);
  const python_ast::ModExpression& root = parsed.syntax->cast<python_ast::ModExpression>();
  out += "{\"tree\": ";
  out += python_ast::dump_json(*root.body, parsed.tree->source());
  out += ", \"errors\": [";
  bool first = true;
  for (const python_parser::ParseError& error : parsed.errors) {
    if (!first) out += ", ";
    first = false;
    out += '[';
    python_ast::append_json_string(out, error.error.display());
    out += ", " + std::to_string(error.range.start().raw) + ", " + std::to_string(error.range.end().raw) + ']';
  }
  out += "]}";
}

}  // namespace

int main() {
  std::ios::sync_with_stdio(false);
  std::string source;
  std::string out;
  while (read_record(std::cin, source)) {
    out.clear();
    try {
      print_parse(source, out);
    } catch (const tolva::FatalError& error) {
      out = "{\"fatal\": ";
      python_ast::append_json_string(out, error.what());
      out += '}';
    }
    out += '\n';
    std::fwrite(out.data(), 1, out.size(), stdout);
  }
  std::fflush(stdout);
  return 0;
}
