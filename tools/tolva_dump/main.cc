// tolva-dump: prints what the Python front end makes of source files.
//
//   tolva-dump tokens FILE...    the lexer's tokens and lexical errors
//   tolva-dump ast FILE...       the syntax tree, tokens and every error
//   tolva-dump check FILE...     parse_module's verdict on each file
//   tolva-dump analyse ROOT FILE...
//                                the analysis of each file (records, locations)
//
// "--mode ipython" reads the files as IPython cells instead of modules.
//
// FILE "-" reads standard input. See kUsage below for the output formats.

#include <charconv>
#include <cstdio>
#include <iostream>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "python_ast/arena.h"
#include "python_ast/token_kind.h"
#include "python_parser/cursor.h"
#include "python_parser/lexer.h"
#include "support/fatal_error.h"
#include "tolva_dump/analyse.h"
#include "tolva_dump/input.h"
#include "tolva_dump/parse_modes.h"

namespace {

constexpr std::string_view kUsage = R"(usage: tolva-dump tokens|ast|check [--mode module|ipython] FILE...
       tolva-dump analyse ROOT FILE...

--mode: what each FILE holds: a Python module (the default), or an IPython
cell, where escape commands ("!ls", "%time x", "x = !pwd", "obj?") are
lexed and parsed. The option may also stand before tokens|ast|check.

tokens: lexes each FILE ("-" for standard input) in the mode, as the parser's
token source would (no re-lexing), and prints for each file:

  file PATH                       a header line
  KIND START END FLAGS [VALUE]    one line per token, EndOfFile last
  error START END TEXT            one line per lexical error, after the tokens

KIND is the token kind's debug name, START and END are byte offsets (the
half-open range), FLAGS the token's string flags in hexadecimal (0x001 double
quotes, 0x002 triple quotes, 0x004 u, 0x008 b, 0x010 f, 0x020 t, 0x040 r,
0x080 R, 0x100 unclosed). VALUE is present for:
  Name                  the name (NFKC form for non-ASCII names), quoted
  Int                   the decimal value, or the literal's kept text when it
                        does not fit 64 bits
  Float                 the shortest text that reads back as the same double
                        ("inf" for infinity)
  Complex               the imaginary part as for Float, followed by "j"
  String                the raw text between the quotes, quoted
  FStringMiddle, TStringMiddle
                        the literal text, doubled braces collapsed, quoted
  IpyEscapeCommand      KIND "TEXT": KIND the command's kind (Exclamation,
                        DoubleExclamation, Question, DoubleQuestion, Percent,
                        DoublePercent, Comma, Semi, Slash), TEXT the command
                        text (prefix and line continuations removed), quoted
Quoted texts and TEXT (the error's message) are JSON strings: every byte
outside printable ASCII is written as a \u escape (UTF-16 surrogate pairs
above U+FFFF), and a byte that is not well-formed UTF-8 as \ufffd.

ast: parses each FILE in the mode, every error kept, and prints one JSON
object per line: {"path": PATH, "tree": TREE, "tokens": [[KIND, START, END],
...], "errors": [[TEXT, START, END, SOURCE], ...]}, TREE the syntax tree's JSON
dump with byte ranges, the tokens without the final EndOfFile, the errors
(lexical and syntactic, merged) in list order, SOURCE "lexer" or "parser". A parse that fails fatally prints
{"path": PATH, "fatal": TEXT} instead.

check: parses each FILE with parse_module (with parse in IPython mode) and
prints "ok PATH", or "error PATH: TEXT" with the first error's text.

analyse: reads each FILE as the project analysis does (strict UTF-8, no
"-"), parses it and analyses it as a file of the project below ROOT, and
prints one JSON object per line, in argument order:
  {"path": PATH, "module": MODULE, "uri": URI, "feature_classes": [...],
   "functions": [...], "resolvers": [...]}
or, when the file cannot be read or parsed, {"path": PATH, "module": MODULE,
"error": TEXT} with the parse cache's error text. MODULE is the dotted module
name of PATH below ROOT; URI the file's "file://" URI, or null when the path
gives no location (then the lists are empty). Records are objects whose keys
are the record's fields in declaration order ("namespace" for the namespace);
a location is [START_LINE, START_CHARACTER, END_LINE, END_CHARACTER] (zero-
based, characters are Unicode scalar values) or null; maps are objects with
keys in byte order; "resolvers" repeats the matching records of "functions".
Exit status 0, whatever the files hold; 3 when an analysis failed fatally.

Exit status of the other modes: 0 when every file was read (syntax and lexical errors
included), 1 when a file could not be read, 2 for a usage error, 3 when
lexing or parsing failed fatally.
)";

void append_json_string(std::string& out, std::string_view text) {
  out.push_back('"');
  const char* p = text.data();
  const char* end = text.data() + text.size();
  char buffer[16];
  while (p < end) {
    const auto byte = static_cast<unsigned char>(*p);
    if (byte >= 0x20 && byte < 0x7F) {
      if (byte == '"' || byte == '\\') out.push_back('\\');
      out.push_back(static_cast<char>(byte));
      ++p;
      continue;
    }
    std::uint32_t length = 1;
    char32_t c = python_parser::decode_utf8(p, end, length);
    p += length;
    switch (c) {
      case '\n':
        out += "\\n";
        continue;
      case '\r':
        out += "\\r";
        continue;
      case '\t':
        out += "\\t";
        continue;
      default:
        break;
    }
    if (c >= 0x10000) {
      const char32_t v = c - 0x10000;
      std::snprintf(buffer, sizeof buffer, "\\u%04x\\u%04x", static_cast<unsigned>(0xD800 + (v >> 10)),
                    static_cast<unsigned>(0xDC00 + (v & 0x3FF)));
    } else {
      std::snprintf(buffer, sizeof buffer, "\\u%04x", static_cast<unsigned>(c));
    }
    out += buffer;
  }
  out.push_back('"');
}

void append_double(std::string& out, double value) {
  char buffer[64];
  auto [ptr, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
  if (ec != std::errc()) {
    out += "nan";
    return;
  }
  out.append(buffer, ptr);
}

void append_value(std::string& out, const python_parser::TokenValue& value) {
  using python_parser::TokenValueTag;
  switch (value.tag()) {
    case TokenValueTag::None:
      return;
    case TokenValueTag::Name:
      out.push_back(' ');
      append_json_string(out, value.as_name().as_str());
      return;
    case TokenValueTag::Int:
      out.push_back(' ');
      out += value.as_int().to_string();
      return;
    case TokenValueTag::Float:
      out.push_back(' ');
      append_double(out, value.as_float());
      return;
    case TokenValueTag::Complex:
      out.push_back(' ');
      append_double(out, value.as_complex().imag);
      out.push_back('j');
      return;
    case TokenValueTag::String:
    case TokenValueTag::InterpolatedStringMiddle:
      out.push_back(' ');
      append_json_string(out, value.as_text());
      return;
    case TokenValueTag::IpyEscapeCommand: {
      const python_parser::TokenValue::IpyEscapeCommand command = value.as_ipy_escape_command();
      out.push_back(' ');
      out += python_ast::enum_name(command.kind);
      out.push_back(' ');
      append_json_string(out, command.text);
      return;
    }
  }
}

// Lexes `source` in `mode` and appends its lines to `out`. Returns false when
// the lexer stopped making progress (a bug the corpus tests look for).
bool dump_tokens(std::string_view source, python_parser::Mode mode, std::string& out) {
  python_ast::Arena arena;
  python_parser::Lexer lexer(source, mode, text_size::TextOffset(0), arena);
  // Every token but a bounded number of empty ones consumes at least one
  // byte, so a lexer that makes progress ends well within this many tokens.
  const std::uint64_t limit = 4 * static_cast<std::uint64_t>(source.size()) + 64;
  std::uint64_t count = 0;
  char flags[16];
  while (true) {
    const python_ast::TokenKind kind = lexer.next_token();
    const text_size::TextRange range = lexer.current_range();
    out += python_ast::debug_name(kind);
    out.push_back(' ');
    tolva_dump::append_number(out, range.start().raw);
    out.push_back(' ');
    tolva_dump::append_number(out, range.end().raw);
    std::snprintf(flags, sizeof flags, " 0x%03x", static_cast<unsigned>(lexer.current_flags().bits()));
    out += flags;
    append_value(out, lexer.current_value());
    out.push_back('\n');
    if (kind == python_ast::TokenKind::EndOfFile) break;
    if (++count > limit) return false;
  }
  for (const python_parser::LexicalError& error : lexer.errors()) {
    out += "error ";
    tolva_dump::append_number(out, error.range.start().raw);
    out.push_back(' ');
    tolva_dump::append_number(out, error.range.end().raw);
    out.push_back(' ');
    append_json_string(out, error.error.display());
    out.push_back('\n');
  }
  return true;
}

}  // namespace

// Takes the "--mode module|ipython" option out of `args`: it stands before
// or right after the mode word, before the first FILE. Answers false for a
// missing or unknown mode name.
bool take_mode_option(std::vector<std::string>& args, python_parser::Mode& mode) {
  mode = python_parser::Mode::Module;
  for (std::size_t i = 0; i < args.size() && i < 2; ++i) {
    if (args[i] != "--mode") continue;
    if (i + 1 >= args.size()) return false;
    if (args[i + 1] == "module") {
      mode = python_parser::Mode::Module;
    } else if (args[i + 1] == "ipython") {
      mode = python_parser::Mode::Ipython;
    } else {
      return false;
    }
    args.erase(args.begin() + static_cast<std::ptrdiff_t>(i), args.begin() + static_cast<std::ptrdiff_t>(i) + 2);
    return true;
  }
  return true;
}

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (!args.empty() && (args[0] == "--help" || args[0] == "-h")) {
    std::fwrite(kUsage.data(), 1, kUsage.size(), stdout);
    return 0;
  }
  python_parser::Mode mode = python_parser::Mode::Module;
  if (!take_mode_option(args, mode)) {
    std::fwrite(kUsage.data(), 1, kUsage.size(), stderr);
    return 2;
  }
  if (args.size() < 2 || (args[0] != "tokens" && args[0] != "ast" && args[0] != "check" && args[0] != "analyse")) {
    std::fwrite(kUsage.data(), 1, kUsage.size(), stderr);
    return 2;
  }
  if (args[0] == "analyse") {
    std::ios::sync_with_stdio(false);
    std::span<const std::string> paths(args.data() + 2, args.size() - 2);
    return tolva_dump::analyse_files(args[1], paths, std::cout);
  }
  if (args[0] != "tokens") {
    std::ios::sync_with_stdio(false);
    std::span<const std::string> paths(args.data() + 1, args.size() - 1);
    return args[0] == "ast" ? tolva_dump::dump_ast(paths, mode, std::cout)
                            : tolva_dump::check_files(paths, mode, std::cout);
  }

  int status = 0;
  std::string text;
  std::string out;
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string& path = args[i];
    out.clear();
    out += "file ";
    out += path;
    out.push_back('\n');
    if (!tolva_dump::read_input(path, text)) {
      status = 1;
      continue;
    }
    try {
      if (!dump_tokens(text, mode, out)) {
        std::fwrite(out.data(), 1, out.size(), stdout);
        std::fprintf(stderr, "tolva-dump: the lexer made no progress in %s\n", path.c_str());
        return 3;
      }
    } catch (const tolva::FatalError& error) {
      std::fwrite(out.data(), 1, out.size(), stdout);
      tolva_dump::report_fatal(path, error.message());
      return 3;
    }
    std::fwrite(out.data(), 1, out.size(), stdout);
  }
  std::fflush(stdout);
  return status;
}
