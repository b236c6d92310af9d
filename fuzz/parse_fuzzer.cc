// libFuzzer target over the parse entries, in both statement modes: every
// input is parsed as a module and as an IPython cell (so the seed corpus of
// plain Python files serves both, and the mutations that add "!", "%" or
// "?" reach the escape commands). Any bytes in, no crash, no hang and no
// FatalError out (a FatalError is a broken invariant of the front end, so
// it is a finding), and each result holds its invariants:
//   - the checked entry (parse_module for a module, parse for a cell), whose
//     parse stops as soon as its first error is settled, succeeds exactly
//     when the full parse has no error, and otherwise answers the full
//     parse's first error; so does parse_module_text, the parse cache's
//     entry;
//   - tokens lie inside the text and follow each other in order;
//   - errors lie inside the text and no two consecutive ones start at the
//     same offset, unless both are the lexer's;
//   - every node's range lies inside the text and, when there is no error,
//     inside its parent's range.
// A broken invariant is reported on standard error and aborts, which
// libFuzzer records as a crash with its input.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "python_ast/walk.h"
#include "python_parser/parse.h"
#include "support/fatal_error.h"

namespace {

[[noreturn]] void finding(const std::string& what) {
  std::fprintf(stderr, "parse_fuzzer: %s\n", what.c_str());
  std::fflush(stderr);
  std::abort();
}

std::string range_text(text_size::TextRange range) { return range.debug(); }

// Checks the parents' ranges during the walk: a stack of the open nodes.
class RangeChecker final : public python_ast::SourceOrderVisitor {
 public:
  RangeChecker(std::uint32_t size, bool nested) : size_(size), nested_(nested) {}

  python_ast::WalkAction enter(python_ast::AnyNodeRef node) override {
    const text_size::TextRange range = node.range();
    if (range.end().raw > size_) {
      finding(std::string(node.type_name()) + " " + range_text(range) + " lies outside the text of " +
              std::to_string(size_) + " bytes");
    }
    if (nested_ && !open_.empty()) {
      const text_size::TextRange parent = open_.back().range();
      if (range.start().raw < parent.start().raw || range.end().raw > parent.end().raw) {
        finding(std::string(node.type_name()) + " " + range_text(range) + " lies outside its parent " +
                std::string(open_.back().type_name()) + " " + range_text(parent));
      }
    }
    open_.push_back(node);
    return python_ast::WalkAction::Continue;
  }

  void leave(python_ast::AnyNodeRef) override { open_.pop_back(); }

 private:
  std::uint32_t size_;
  bool nested_;
  std::vector<python_ast::AnyNodeRef> open_;
};

void check(std::string_view source, python_parser::Mode mode) {
  const auto size = static_cast<std::uint32_t>(source.size());
  python_parser::Parsed<python_ast::Mod> parsed = python_parser::parse_unchecked(source, mode);

  std::uint32_t previous_end = 0;
  for (const python_ast::Token& token : parsed.tokens) {
    if (token.range.end().raw > size) finding("token " + range_text(token.range) + " lies outside the text");
    if (token.range.start().raw < previous_end) {
      finding("token " + range_text(token.range) + " starts before the previous token's end " +
              std::to_string(previous_end));
    }
    previous_end = token.range.end().raw;
  }

  const python_parser::ParseError* previous = nullptr;
  for (const python_parser::ParseError& error : parsed.errors) {
    if (error.range.end().raw > size) finding("error " + error.display() + " lies outside the text");
    // The lexer records every problem it meets; the parser drops an error
    // that starts where its last one did, and the merge drops a parser error
    // that ties with a lexer one.
    const auto lexical = [](const python_parser::ParseError& e) {
      return e.error.kind() == python_parser::ParseErrorType::Lexical;
    };
    if (previous != nullptr && previous->range.start() == error.range.start() &&
        !(lexical(*previous) && lexical(error))) {
      finding("two consecutive errors start at " + std::to_string(error.range.start().raw) + ": " +
              previous->display() + " / " + error.display());
    }
    previous = &error;
  }

  RangeChecker ranges(size, parsed.errors.empty());
  python_ast::walk(*parsed.syntax, ranges);

  const char* entry = mode == python_parser::Mode::Module ? "parse_module" : "parse in IPython mode";
  const std::optional<python_parser::ParseError> answer = python_parser::checked_error(source, mode);
  if (!answer.has_value() != parsed.errors.empty()) {
    finding(std::string(entry) + (!answer.has_value() ? " succeeded" : " failed") + " while the full parse has " +
            std::to_string(parsed.errors.size()) + " errors");
  }
  if (answer.has_value() && !(*answer == parsed.errors.front())) {
    finding(std::string(entry) + " answers " + answer->display() + ", the full parse's first error is " +
            parsed.errors.front().display());
  }
  if (mode == python_parser::Mode::Module) {
    // The entry of the parse cache, which hands its text over.
    const python_parser::ModuleParseResult cached = python_parser::parse_module_text(std::string(source));
    if (cached.has_value() != parsed.errors.empty() ||
        (!cached.has_value() && !(cached.error() == parsed.errors.front()))) {
      finding(std::string("parse_module_text ") +
              (cached.has_value() ? "succeeds" : "answers " + cached.error().display()) +
              " where the full parse " +
              (parsed.errors.empty() ? std::string("succeeds") : "fails with " + parsed.errors.front().display()));
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view source(reinterpret_cast<const char*>(data), size);
  try {
    check(source, python_parser::Mode::Module);
    check(source, python_parser::Mode::Ipython);
  } catch (const tolva::FatalError& error) {
    finding(std::string("FatalError: ") + error.message());
  }
  return 0;
}
