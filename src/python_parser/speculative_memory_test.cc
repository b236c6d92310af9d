// What a checked parse keeps while it reads speculatively: `with (` read
// first as the start of a parenthesized item list runs to the end of a
// text whose parenthesis never closes, and only then reads the text again.
// The errors of that first reading must not be held one by one: the live
// heap of the parse stays within a small multiple of the text, whatever the
// reading finds.
//
// The heap is counted by this binary's operator new, only on the thread
// and during the span that a test asks for.

#include <gtest/gtest.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <string>

#include "python_parser/parse.h"

namespace {

thread_local bool counting = false;
thread_local std::int64_t live_bytes = 0;
thread_local std::int64_t peak_bytes = 0;
thread_local std::int64_t allocations = 0;

// Each counted block carries its size in front of it.
constexpr std::size_t kHeader = alignof(std::max_align_t);

// Null when the system has no memory left.
void* try_allocate(std::size_t size) noexcept {
  auto* block = static_cast<unsigned char*>(std::malloc(size + kHeader));
  if (block == nullptr) return nullptr;
  *reinterpret_cast<std::size_t*>(block) = counting ? size : 0;
  if (counting) {
    ++allocations;
    live_bytes += static_cast<std::int64_t>(size);
    if (live_bytes > peak_bytes) peak_bytes = live_bytes;
  }
  return block + kHeader;
}

void* allocate(std::size_t size) {
  void* memory = try_allocate(size);
  if (memory == nullptr) throw std::bad_alloc();
  return memory;
}

void release(void* memory) {
  if (memory == nullptr) return;
  unsigned char* block = static_cast<unsigned char*>(memory) - kHeader;
  // Blocks freed on another thread, or after the count, are not counted.
  if (counting) live_bytes -= static_cast<std::int64_t>(*reinterpret_cast<std::size_t*>(block));
  std::free(block);
}

}  // namespace

// Every form that shares the plain blocks is replaced, the nothrow ones
// included: the standard library may take a block with one form and give
// it back with another (std::stable_sort's buffer: nothrow new, sized
// delete), and a sanitizer runtime supplies each form it is not given.
void* operator new(std::size_t size) { return allocate(size); }
void* operator new[](std::size_t size) { return allocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return try_allocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return try_allocate(size); }
void operator delete(void* memory) noexcept { release(memory); }
void operator delete[](void* memory) noexcept { release(memory); }
void operator delete(void* memory, std::size_t) noexcept { release(memory); }
void operator delete[](void* memory, std::size_t) noexcept { release(memory); }
void operator delete(void* memory, const std::nothrow_t&) noexcept { release(memory); }
void operator delete[](void* memory, const std::nothrow_t&) noexcept { release(memory); }

namespace python_parser {
namespace {

// The peak of the live operator-new heap during parse_module(source),
// beyond what was live before it.
std::int64_t peak_of_checked_parse(const std::string& source, std::string& first_error) {
  live_bytes = 0;
  peak_bytes = 0;
  allocations = 0;
  counting = true;
  {
    ModuleParseResult result = parse_module(source);
    counting = false;
    first_error = result.has_value() ? "" : result.error().display();
    counting = true;
  }
  counting = false;
  return peak_bytes;
}

std::string lines_of(char character, std::size_t count) {
  std::string text;
  for (std::size_t i = 0; i < count; ++i) text += std::string(79, character) + "\n";
  return text;
}

TEST(SpeculativeReadingMemory, UnclosedWithParenthesisBeforeJunkHoldsNoErrorPerToken) {
  // Every `$` is a token, a lexical error and a parser error of the first
  // reading; kept one by one they cost about 200 bytes a source byte.
  struct Case {
    const char* name;
    std::string head;
    char junk;
    const char* first_error_prefix;
  };
  const Case cases[] = {
      {"with then dollars", "with (\n", '$', "Got unexpected token $"},
      {"with and nested parentheses then dollars", "with (" + std::string(150, '(') + "\n", '$',
       "Got unexpected token $"},
      {"async with then question marks", "async def f():\n    async with (\n", '?', "Got unexpected token ?"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string source = c.head + lines_of(c.junk, 2000);
    std::string first_error;
    const std::int64_t peak = peak_of_checked_parse(source, first_error);
    EXPECT_EQ(first_error.rfind(c.first_error_prefix, 0), 0u) << first_error;
    // The token list (12 bytes a token, one token a byte here, doubled while
    // it grows) and the tree's copy of the text.
    EXPECT_LE(peak, static_cast<std::int64_t>(40 * source.size())) << "bytes per source byte: "
                                                                   << static_cast<double>(peak) / source.size();
  }
}

TEST(SpeculativeReadingMemory, UnclosedWithParenthesisBeforeJunkBuildsNoErrorPerToken) {
  // The errors a first-error parse only counts are not built either: an
  // error's text is a heap string, one allocation per junk token.
  const std::string sources[] = {
      "with (\n" + lines_of('$', 2000),
      "with (a, b, " + lines_of('?', 2000),
      "with ((((" + lines_of('$', 2000),
  };
  for (const std::string& source : sources) {
    SCOPED_TRACE(source.substr(0, 12));
    std::string first_error;
    (void)peak_of_checked_parse(source, first_error);
    EXPECT_FALSE(first_error.empty());
    // The growth of the token list and the tree's blocks, the first errors.
    EXPECT_LE(allocations, 200) << "for " << source.size() << " junk tokens";
  }
}

// `count` lines of `line(i)`.
template <class Line>
std::string numbered_lines(std::size_t count, Line line) {
  std::string text;
  for (std::size_t i = 0; i < count; ++i) text += line(std::to_string(i));
  return text;
}

std::size_t arena_bytes_of(const std::string& source) {
  Parsed<python_ast::Mod> parsed = parse_unchecked(source, Mode::Module);
  return parsed.tree->arena().bytes_reserved();
}

TEST(SpeculativeReadingMemory, RewoundReadingGivesItsArenaBack) {
  // Each text is read first one way, rewound and read again; its tree holds
  // the arena of a text of the same nodes read once. Without giving back
  // the first reading's nodes it holds about twice as much.
  struct Case {
    const char* name;
    std::string speculative;
    std::string read_once;
  };
  const Case cases[] = {
      {"match calls",
       numbered_lines(20000, [](const std::string& i) { return "match(p" + i + ", t[s:], flags=re.I)\n"; }),
       numbered_lines(20000, [](const std::string& i) { return "mutch(p" + i + ", t[s:], flags=re.I)\n"; })},
      {"match subscripts", numbered_lines(20000, [](const std::string& i) { return "match[a" + i + ", b.c]\n"; }),
       numbered_lines(20000, [](const std::string& i) { return "mutch[a" + i + ", b.c]\n"; })},
      {"with a tuple and a target",
       numbered_lines(20000, [](const std::string& i) { return "with (a" + i + ", b.c) as d: pass\n"; }),
       numbered_lines(20000, [](const std::string& i) { return "with  a" + i + ", b.c  as d: pass\n"; })},
      {"with a parenthesis that never closes",
       "with (\n" + numbered_lines(100000, [](const std::string& i) { return "a" + i + ".b,\n"; }),
       "x  = (\n" + numbered_lines(100000, [](const std::string& i) { return "a" + i + ".b,\n"; })},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(c.speculative.size(), c.read_once.size());
    const std::size_t speculative = arena_bytes_of(c.speculative);
    const std::size_t read_once = arena_bytes_of(c.read_once);
    EXPECT_LE(speculative, read_once + read_once / 4) << speculative << " against " << read_once;
  }
}

TEST(SpeculativeReadingMemory, FirstErrorOfTheRewoundReadingIsTheFullParsesFirst) {
  // The checked parse keeps one error of each list; its answer is the first
  // of the full parse's merged list.
  const std::string sources[] = {
      "with (\n" + lines_of('$', 50),
      "with (a as b, $ c\n" + lines_of('?', 20),
      "with ($ a as b):\n    pass\n",
      "with (a, b) as c, $:\n    pass\n",
      "with (\n'unclosed\n" + lines_of('$', 3),
      "match(a, b, c=1)\nmatch (a, $)\nwith (",
      // After the first error the tokens are only counted; a list that stops
      // at a token of an enclosing one still finds the newline before it.
      "$\nwith (a,\n  # c\n\n  b\n# d\n):\n    pass\nx = (1,\n# e\n\nif x:\n    pass\n",
      "with (a, $\n  # comment\n\nclass C: pass\n",
      "$ = [1,\n  # c\ndef f(): pass\nwith (a, b) as c, (d\n\n# e\nwhile x: pass\n",
      "'unclosed\nmatch (a,\n  # c\n\ndef f(): pass\n",
      "with (a,\n$\n# c\n\nwith (b,\n# d\n\nif x: pass\n",
  };
  for (const std::string& source : sources) {
    SCOPED_TRACE(source.substr(0, 40));
    ModuleParseResult checked = parse_module(source);
    ASSERT_FALSE(checked.has_value());
    Parsed<python_ast::Mod> full = parse_unchecked(source, Mode::Module);
    ASSERT_FALSE(full.errors.empty());
    EXPECT_EQ(checked.error().display(), full.errors.front().display());
  }
}

}  // namespace
}  // namespace python_parser
