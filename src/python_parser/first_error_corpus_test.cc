// The checked entries against the full parse. parse_module_text (what the
// parse cache calls) and parse stop as soon as their first error is settled;
// the full parse (parse_unchecked) runs to the end and keeps every error. On
// every input both must give the same answer: success with the same tree,
// tokens and version-gated errors, or the same first error (kind, payload,
// range, and so its text).
//
// Inputs:
//   - every .py file of the standard library of each oracle interpreter
//     (test_support/oracle.h), as a module and as an IPython cell;
//   - mutants of each file, with the damage of tests/corpus/lexer_mutation.py
//     (truncation at a random byte, byte flips, insertion of bytes that change
//     the lexer's state, deletion of a slice), truncations at further random
//     offsets, and a run of junk bytes inserted at a random offset;
//   - random byte strings, over every byte and over Python punctuation, and
//     random soups of tokens and token fragments (brackets, strings and
//     f-string pieces, keywords that start speculative readings: `match`,
//     `with (`), in both modes.
// The seeds are fixed; each file's mutants are seeded by its path below the
// library, so a failure names an input that can be made again.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "python_ast/dump.h"
#include "python_parser/parse.h"
#include "test_support/oracle.h"

namespace python_parser {
namespace {

using python_ast::Mod;

// The bytes that lexer_mutation.py inserts: they change the lexer's state.
constexpr std::array<std::string_view, 44> kInsertions = {
    "'",   "\"",   "'''", "\"\"\"", "f'",   "f\"",       "rf'",          "t'",
    "b'",  "{",    "}",   "{{",     "}}",   "(",         ")",            "[",
    "]",   ":",    "!",   "=",      "\\",   "\\\n",      "\t",           " \t",
    "\f",  "\r",   "\r\n", "\n",    std::string_view("\0", 1), "#", "0x", "1_",
    "1e",  ".",    "\xff", "\xc3",  "\xe2\x82", "\xed\xa0\x80", "\xf4\x90\x80\x80", "\xc3\xa9",
    "\xef\xbd\x89\xef\xbd\x86", "$", "?", "\\N{",
};

// Runs of junk inserted whole: characters the lexer rejects one by one.
constexpr std::array<std::string_view, 5> kJunkUnits = {"$", std::string_view("\0", 1), "?", "\xe2\x82\xac", "\xff"};

// The pieces of a token soup.
constexpr std::array<std::string_view, 79> kSoupPieces = {
    "x",      "y1",    "match",  "case", "with",  "as",    "if",     "elif",   "else",  "for",   "in",
    "while",  "def",   "class",  "lambda", "return", "yield", "from", "import", "try",   "except", "finally",
    "async",  "await", "not",    "and",  "or",    "is",    "None",   "type",   "global", "del",  "pass",
    "(",      ")",     "[",      "]",    "{",     "}",     ":",      ",",      ";",     ".",     "=",
    "==",     "+=",    "->",     "*",    "**",    "@",     "|",      "-",      "~",     "<",     "!",
    "?",      "$",     "%",      ":=",   "'s'",   "\"",    "'''",    "f'",     "f\"{",  "}'",    "t'{x}'",
    "rb'",    "1",     "0x",     "1_",   "1.5j",  "\n",    "\n    ", "    ",   "\t",    "\\\n",  "#c\n",
    "\\",     "\x00",
};

// What one run compared.
struct Tally {
  std::size_t inputs = 0;
  std::size_t succeeded = 0;
  std::size_t failed = 0;

  std::string summary() const {
    return std::to_string(inputs) + " inputs: " + std::to_string(succeeded) + " without error, " +
           std::to_string(failed) + " with a first error";
  }
};

// Whether the checked entry of `mode` answers what the full parse of
// `source` says.
::testing::AssertionResult same_answer(const std::string& source, Mode mode, Tally& tally) {
  ++tally.inputs;
  Parsed<Mod> full = parse_unchecked(source, mode);
  // The module entry the cache calls, or the entry of the other modes.
  ParseResult<Mod> checked = [&]() -> ParseResult<Mod> {
    if (mode != Mode::Module) return parse(source, mode);
    ModuleParseResult module = parse_module_text(source);
    if (!module) return std::move(module).error();
    Parsed<python_ast::ModModule> parsed = std::move(module).value();
    return Parsed<Mod>{std::move(parsed.tree), parsed.syntax, std::move(parsed.tokens), std::move(parsed.errors),
                       std::move(parsed.version_gated_errors)};
  }();

  if (full.errors.empty()) {
    ++tally.succeeded;
    if (!checked) return ::testing::AssertionFailure() << "the checked entry fails: " << checked.error().display();
    const Parsed<Mod>& value = checked.value();
    if (python_ast::dump_json(*value.syntax, source) != python_ast::dump_json(*full.syntax, source)) {
      return ::testing::AssertionFailure() << "the trees differ";
    }
    if (!std::ranges::equal(value.tokens.as_span(), full.tokens.as_span())) return ::testing::AssertionFailure() << "the tokens differ";
    if (value.version_gated_errors != full.version_gated_errors) {
      return ::testing::AssertionFailure() << "the version-gated errors differ";
    }
    return ::testing::AssertionSuccess();
  }
  ++tally.failed;
  if (checked) {
    return ::testing::AssertionFailure() << "the checked entry succeeds; the full parse's first error is "
                                         << full.errors.front().display();
  }
  if (!(checked.error() == full.errors.front())) {
    return ::testing::AssertionFailure() << "the checked entry answers " << checked.error().display()
                                         << ", the full parse's first error is " << full.errors.front().display();
  }
  return ::testing::AssertionSuccess();
}

// A printable prefix of `text` for a failure message.
std::string shown(std::string_view text) {
  std::string out;
  for (char c : text.substr(0, 120)) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte < 0x7F) {
      out.push_back(c);
    } else {
      static constexpr char kHex[] = "0123456789abcdef";
      out += "\\x";
      out.push_back(kHex[byte >> 4]);
      out.push_back(kHex[byte & 15]);
    }
  }
  if (text.size() > 120) out += "...";
  return out;
}

std::size_t below(std::mt19937_64& rng, std::size_t bound) {
  return std::uniform_int_distribution<std::size_t>(0, bound - 1)(rng);
}

// One mutant as lexer_mutation.py makes them.
std::string mutate(const std::string& data, std::mt19937_64& rng) {
  const std::size_t kind = below(rng, 4);
  if (kind == 0 || data.empty()) return data.substr(0, below(rng, data.size() + 1));
  std::string out = data;
  if (kind == 1) {
    for (std::size_t n = 1 + below(rng, 8); n > 0; --n) out[below(rng, out.size())] = static_cast<char>(below(rng, 256));
  } else if (kind == 2) {
    for (std::size_t n = 1 + below(rng, 6); n > 0; --n) {
      out.insert(below(rng, out.size() + 1), kInsertions[below(rng, kInsertions.size())]);
    }
  } else {
    out.erase(below(rng, out.size()), 1 + below(rng, 200));
  }
  return out;
}

// The damaged versions of one file: four mutants, three truncations and a
// run of junk.
std::vector<std::string> mutants(const std::string& data, std::mt19937_64& rng) {
  std::vector<std::string> out;
  for (int i = 0; i < 4; ++i) out.push_back(mutate(data, rng));
  for (int i = 0; i < 3; ++i) out.push_back(data.substr(0, below(rng, data.size() + 1)));
  std::string junk;
  const std::string_view unit = kJunkUnits[below(rng, kJunkUnits.size())];
  for (std::size_t n = 1 + below(rng, 2000); n > 0; --n) junk += unit;
  std::string with_junk = data;
  with_junk.insert(below(rng, data.size() + 1), junk);
  out.push_back(std::move(with_junk));
  return out;
}

// The .py files below `library`, in path order, without site-packages.
std::vector<std::filesystem::path> library_files(const std::string& library) {
  std::vector<std::filesystem::path> files;
  namespace fs = std::filesystem;
  for (auto it = fs::recursive_directory_iterator(library, fs::directory_options::skip_permission_denied);
       it != fs::recursive_directory_iterator(); ++it) {
    if (it->is_directory() && it->path().filename() == "site-packages") {
      it.disable_recursion_pending();
      continue;
    }
    if (it->is_regular_file() && it->path().extension() == ".py") files.push_back(it->path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

std::string read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void run_library(const char* version) {
  TOLVA_ORACLE_OR_SKIP(oracle, version);
  const std::vector<std::filesystem::path> files = library_files(oracle->stdlib);
  ASSERT_GT(files.size(), 1000u) << "too few files in " << oracle->stdlib;
  Tally originals;
  Tally damaged;
  std::size_t failures = 0;
  for (const std::filesystem::path& path : files) {
    const std::string data = read_file(path);
    const std::string name = std::filesystem::relative(path, oracle->stdlib).string();
    for (Mode mode : {Mode::Module, Mode::Ipython}) {
      ::testing::AssertionResult same = same_answer(data, mode, originals);
      if (!same) ++failures;
      EXPECT_TRUE(same) << name << (mode == Mode::Module ? "" : " (IPython)");
    }
    std::mt19937_64 rng(std::hash<std::string>{}(name));
    std::size_t index = 0;
    for (const std::string& mutant : mutants(data, rng)) {
      ::testing::AssertionResult same = same_answer(mutant, Mode::Module, damaged);
      if (!same) ++failures;
      EXPECT_TRUE(same) << name << ", mutant " << index << ": " << shown(mutant);
      ++index;
    }
    ASSERT_LT(failures, 20u) << "stopping after 20 failures";
  }
  std::cout << oracle->stdlib << ": " << files.size() << " files; originals (module and IPython) "
            << originals.summary() << "; damaged " << damaged.summary() << "\n";
}

TEST(FirstErrorCorpus, Python311StandardLibrary) { run_library("3.11"); }
TEST(FirstErrorCorpus, Python312StandardLibrary) { run_library("3.12"); }
TEST(FirstErrorCorpus, Python313StandardLibrary) { run_library("3.13"); }

// Random bytes, Python punctuation and token soups, in both modes.
TEST(FirstErrorCorpus, RandomBytesAndTokenSoups) {
  std::mt19937_64 rng(20261211);
  constexpr std::string_view kPunctuation = "()[]{}:;,.=+-*/@|&^~<>!?$%#'\"\\ \t\n\rfbrtxy01_ej";
  std::vector<std::string> inputs;
  for (int i = 0; i < 20000; ++i) {
    std::string bytes;
    for (std::size_t n = below(rng, 65); n > 0; --n) bytes.push_back(static_cast<char>(below(rng, 256)));
    inputs.push_back(std::move(bytes));
    std::string punctuation;
    for (std::size_t n = below(rng, 65); n > 0; --n) punctuation.push_back(kPunctuation[below(rng, kPunctuation.size())]);
    inputs.push_back(std::move(punctuation));
  }
  for (int i = 0; i < 40000; ++i) {
    std::string soup;
    for (std::size_t n = 1 + below(rng, 40); n > 0; --n) {
      soup += kSoupPieces[below(rng, kSoupPieces.size())];
      if (below(rng, 2) == 0) soup.push_back(' ');
    }
    inputs.push_back(std::move(soup));
  }
  Tally tally;
  std::size_t failures = 0;
  for (const std::string& input : inputs) {
    for (Mode mode : {Mode::Module, Mode::Ipython}) {
      ::testing::AssertionResult same = same_answer(input, mode, tally);
      if (!same) ++failures;
      EXPECT_TRUE(same) << (mode == Mode::Module ? "" : "(IPython) ") << shown(input);
    }
    ASSERT_LT(failures, 20u) << "stopping after 20 failures";
  }
  // The soups reach both answers often enough to compare something.
  EXPECT_GT(tally.succeeded, 1000u);
  std::cout << tally.summary() << "\n";
}

}  // namespace
}  // namespace python_parser
