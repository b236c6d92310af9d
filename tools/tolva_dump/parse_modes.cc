#include "tolva_dump/parse_modes.h"

#include <optional>
#include <ostream>
#include <utility>
#include <string_view>

#include "python_ast/dump.h"
#include "python_ast/token_kind.h"
#include "python_parser/parse.h"
#include "support/fatal_error.h"
#include "tolva_dump/input.h"

namespace tolva_dump {

namespace {

constexpr int kStatusOk = 0;
constexpr int kStatusUnreadable = 1;
constexpr int kStatusFatal = 3;

void append_range(std::string& out, text_size::TextRange range) {
  append_number(out, range.start().raw);
  out += ',';
  append_number(out, range.end().raw);
}

// Folds one file's status into the run's: a fatal error outranks an
// unreadable file.
void note(int& status, int file_status) {
  if (file_status > status) status = file_status;
}

// The JSON line of one parsed file, without its line feed.
void append_parse(std::string_view source, python_parser::Mode mode, std::string& out) {
  python_parser::Parsed<python_ast::Mod> parsed = python_parser::parse_unchecked(source, mode);
  out += ",\"tree\":";
  out += python_ast::dump_json(*parsed.syntax, parsed.tree->source());
  out += ",\"tokens\":[";
  bool first = true;
  for (const python_ast::Token& token : parsed.tokens) {
    if (!first) out += ',';
    first = false;
    out += "[\"";
    out += python_ast::debug_name(token.kind);
    out += "\",";
    append_range(out, token.range);
    out += ']';
  }
  out += "],\"errors\":[";
  first = true;
  for (const python_parser::ParseError& error : parsed.errors) {
    if (!first) out += ',';
    first = false;
    out += '[';
    python_ast::append_json_string(out, error.error.display());
    out += ',';
    append_range(out, error.range);
    out += error.error.kind() == python_parser::ParseErrorType::Lexical ? ",\"lexer\"]" : ",\"parser\"]";
  }
  out += ']';
}

}  // namespace

int dump_ast(std::span<const std::string> paths, python_parser::Mode mode, std::ostream& out) {
  int status = kStatusOk;
  std::string text;
  std::string line;
  for (const std::string& path : paths) {
    if (!read_input(path, text)) {
      note(status, kStatusUnreadable);
      continue;
    }
    line.clear();
    line += "{\"path\":";
    python_ast::append_json_string(line, path);
    const std::size_t header = line.size();
    try {
      append_parse(text, mode, line);
    } catch (const tolva::FatalError& error) {
      report_fatal(path, error.message());
      note(status, kStatusFatal);
      // Whatever the failed parse had written is dropped.
      line.resize(header);
      line += ",\"fatal\":";
      python_ast::append_json_string(line, error.message());
    }
    line += "}\n";
    out.write(line.data(), static_cast<std::streamsize>(line.size()));
  }
  out.flush();
  return status;
}

int check_files(std::span<const std::string> paths, python_parser::Mode mode, std::ostream& out) {
  int status = kStatusOk;
  std::string text;
  for (const std::string& path : paths) {
    if (!read_input(path, text)) {
      note(status, kStatusUnreadable);
      continue;
    }
    try {
      // Module mode keeps to parse_module, the entry project analysis calls.
      const std::optional<python_parser::ParseError> error = python_parser::checked_error(text, mode);
      if (!error) {
        out << "ok " << path << '\n';
      } else {
        out << "error " << path << ": " << error->display() << '\n';
      }
    } catch (const tolva::FatalError& error) {
      report_fatal(path, error.message());
      note(status, kStatusFatal);
    }
  }
  out.flush();
  return status;
}

}  // namespace tolva_dump
