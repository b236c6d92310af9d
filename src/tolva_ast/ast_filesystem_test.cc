#include "tolva_ast/ast_filesystem.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "support/utf8.h"
#include "test_support/tolva_ast/test_files.h"

namespace tolva_ast {
namespace {

using testing_support::ScratchDirectory;
using Files = std::vector<std::string>;

TEST(HasPyExtension, LooksAtTheFileNameOfTheTextOnly) {
  struct Case {
    const char* path;
    bool kept;
  };
  const Case cases[] = {
      {"a/b.py", true},       {"b..py", true},         {"x.tar.py", true},     {"pkg/b.py/", true},
      {"pkg/b.py/.", true},   {"pkg/b.py//./", true},  {"/abs/m.py", true},    {"..py", true},
      {"./m.py", true},       {"b.PY", false},         {"b.Py", false},        {"b.pyc", false},
      {"b.py.bak", false},    {".py", false},          {"pkg/.py", false},     {"b", false},
      {"pkg/..", false},      {"pkg/b.py/..", false},  {"", false},           {"/", false},
      {".", false},           {"./", false},           {"b.py ", false},       {"b. py", false},
      {"b.", false},          {"py", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(has_py_extension(c.path), c.kept) << "path: \"" << c.path << "\"";
  }
}

TEST(StdAstFileSystem, KeepsPythonPathsSortedByBytesEachOnce) {
  struct Case {
    Files given;
    Files kept;
  };
  const Case cases[] = {
      {{"b.py", "a.py", "b.py", "notes.txt", "C.PY", "Z.py"}, {"Z.py", "a.py", "b.py"}},
      {{}, {}},
      {{"a.py", "./a.py"}, {"./a.py", "a.py"}},
      // A prefix sorts first; bytes above 0x7F after every ASCII byte.
      {{"\xC3\xA9.py", "ab.py", "a.py", "a/b.py", "~.py"}, {"a.py", "a/b.py", "ab.py", "~.py", "\xC3\xA9.py"}},
      // Duplicates that are not adjacent in the input are still merged.
      {{"x.py", "y.py", "x.py", "y.py", "x.py"}, {"x.py", "y.py"}},
  };
  for (const Case& c : cases) {
    const StdAstFileSystem fs(c.given);
    EXPECT_EQ(fs.files(), c.kept);
    const auto listed = fs.all_files();
    ASSERT_TRUE(listed.has_value());
    EXPECT_EQ(listed.value(), c.kept);
  }
}

TEST(StdAstFileSystem, AllFilesReturnsACopy) {
  const StdAstFileSystem fs({"a.py", "b.py"});
  auto first = fs.all_files();
  ASSERT_TRUE(first.has_value());
  first.value().push_back("c.py");
  first.value()[0] = "changed.py";
  EXPECT_EQ(fs.all_files().value(), (Files{"a.py", "b.py"}));
}

// Contents and whether they read: strict UTF-8, and a leading byte order
// mark kept as part of the text. Bad bytes are placed before, at and after
// the sixteen-byte block boundary too.
TEST(StdAstFileSystem, ReadsStrictUtf8Only) {
  struct Case {
    std::string content;
    bool valid;
  };
  const std::string ascii15(15, 'a');
  const std::string ascii16(16, 'a');
  const std::string ascii40(40, 'a');
  const Case cases[] = {
      {"", true},
      {"x = 1\n", true},
      {"\xEF\xBB\xBFx = 1\n", true},
      {"s = '\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80'\n", true},
      {"\xED\x9F\xBF\xEE\x80\x80\xF4\x8F\xBF\xBF", true},  // U+D7FF, U+E000, U+10FFFF
      {ascii40 + "\xC3\xA9" + ascii40, true},
      {std::string("a\0b", 3), true},
      {"\xFF", false},
      {"\xC0\x80", false},              // overlong NUL
      {"\xC1\xBF", false},              // overlong
      {"\xE0\x80\x80", false},          // overlong three-byte form
      {"\xF0\x80\x80\x80", false},      // overlong four-byte form
      {"\xED\xA0\x80", false},          // a surrogate
      {"\xED\xBF\xBF", false},          // a surrogate
      {"\xF4\x90\x80\x80", false},      // above U+10FFFF
      {"\xF5\x80\x80\x80", false},
      {"\x80", false},                  // a lone continuation byte
      {"\xC3", false},                  // cut short at the end
      {"\xE2\x82", false},
      {"\xC3(", false},
      {ascii15 + "\xFF", false},
      {ascii16 + "\xFF", false},
      {ascii16 + "a\xFF", false},
      {ascii40 + "\xFF" + ascii40, false},
      {ascii15 + "\xE2\x82\xAC" + ascii40, true},  // a character across the block boundary
      {ascii15 + "\xE2\x82" + ascii40, false},
  };
  const ScratchDirectory dir;
  const StdAstFileSystem fs({});
  int index = 0;
  for (const Case& c : cases) {
    const std::string path = dir.write("case" + std::to_string(index++) + ".py", c.content);
    const auto text = fs.read_to_string(path);
    if (c.valid) {
      ASSERT_TRUE(text.has_value()) << path << ": " << text.error();
      EXPECT_EQ(text.value(), c.content);
    } else {
      ASSERT_FALSE(text.has_value()) << path;
      EXPECT_EQ(text.error(), "stream did not contain valid UTF-8");
    }
  }
}

// Differential: which byte strings read as text, against Python's strict
// UTF-8 decoder (bytes.decode("utf-8")) on the same files. The strings mix
// ASCII runs (the sixteen-byte fast path) with every kind of lead and
// continuation byte and with encodings of random code points, some cut
// short.
TEST(StdAstFileSystem, AcceptsExactlyWhatPythonDecodesAsUtf8) {
  constexpr const char* kPython = "/usr/bin/python3";
  if (::access(kPython, X_OK) != 0) GTEST_SKIP() << kPython << " is not available";
  std::mt19937 random(20261210);
  const auto pick = [&](int low, int high) { return std::uniform_int_distribution<int>(low, high)(random); };
  const ScratchDirectory dir;
  std::vector<std::string> paths;
  std::vector<std::string> contents;
  for (int i = 0; i < 3000; ++i) {
    std::string text(static_cast<std::size_t>(pick(0, 40)), 'a');
    const int pieces = pick(0, 6);
    for (int k = 0; k < pieces; ++k) {
      switch (pick(0, 4)) {
        case 0:  // any byte at all
          text.push_back(static_cast<char>(pick(0, 255)));
          break;
        case 1:  // a lead or continuation byte
          text.push_back(static_cast<char>(pick(0x80, 0xFF)));
          break;
        case 2: {  // a code point, surrogates and values past U+10FFFF included
          std::string encoded;
          tolva::append_utf8_pattern(encoded, static_cast<char32_t>(pick(0, 0x13FFFF)));
          if (pick(0, 3) == 0) encoded.resize(static_cast<std::size_t>(pick(1, static_cast<int>(encoded.size()))));
          text += encoded;
          break;
        }
        case 3: {  // an overlong form of a small code point
          const int c = pick(0, 0x7FF);
          if (pick(0, 1) == 0) {
            text.push_back(static_cast<char>(0xE0));
            text.push_back(static_cast<char>(0x80 | (c >> 6)));
          } else {
            text.push_back(static_cast<char>(0xC0 | ((c >> 6) & 1)));
          }
          text.push_back(static_cast<char>(0x80 | (c & 0x3F)));
          break;
        }
        default:
          text.append(static_cast<std::size_t>(pick(1, 20)), 'b');
      }
    }
    paths.push_back(dir.write(std::to_string(i) + ".bytes", text));
    contents.push_back(text);
  }
  const std::string script = dir.write("peer.py",
                                       "import sys\n"
                                       "for line in sys.stdin:\n"
                                       "    data = open(line.rstrip('\\n'), 'rb').read()\n"
                                       "    try:\n"
                                       "        data.decode('utf-8')\n"
                                       "        print(1)\n"
                                       "    except UnicodeDecodeError:\n"
                                       "        print(0)\n");
  std::string listing;
  for (const std::string& path : paths) listing += path + "\n";
  const std::string listing_path = dir.write("paths.txt", listing);
  FILE* pipe = ::popen((std::string(kPython) + " " + script + " < " + listing_path).c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string answers;
  char buffer[4096];
  std::size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) answers.append(buffer, got);
  ASSERT_EQ(::pclose(pipe), 0);
  ASSERT_EQ(answers.size(), 2 * paths.size());

  const StdAstFileSystem fs({});
  int valid = 0;
  for (std::size_t i = 0; i < paths.size(); ++i) {
    const bool python_decodes = answers[2 * i] == '1';
    const auto text = fs.read_to_string(paths[i]);
    valid += python_decodes;
    EXPECT_EQ(text.has_value(), python_decodes) << "case " << i;
    if (text.has_value()) {
      EXPECT_EQ(text.value(), contents[i]);
    }
  }
  EXPECT_GT(valid, 300) << "both outcomes must be well represented";
  EXPECT_LT(valid, 2700);
}

TEST(StdAstFileSystem, ReadsAnyPathListedOrNot) {
  const ScratchDirectory dir;
  const std::string listed = dir.write("listed.py", "a = 1\n");
  const std::string other = dir.write("notes.txt", "plain words\n");
  const StdAstFileSystem fs({listed});
  EXPECT_EQ(fs.read_to_string(other).value(), "plain words\n");
  EXPECT_EQ(fs.read_to_string(listed).value(), "a = 1\n");
}

TEST(StdAstFileSystem, ReadsARelativePathAgainstTheWorkingDirectory) {
  const ScratchDirectory dir;
  dir.write("pkg/m.py", "x = 2\n");
  const std::string previous = std::filesystem::current_path().string();
  std::filesystem::current_path(dir.path());
  const auto text = StdAstFileSystem({}).read_to_string("pkg/m.py");
  std::filesystem::current_path(previous);
  ASSERT_TRUE(text.has_value()) << text.error();
  EXPECT_EQ(text.value(), "x = 2\n");
}

TEST(StdAstFileSystem, OperatingSystemFailuresGiveTheSystemsTextAndNumber) {
  const ScratchDirectory dir;
  const std::string file = dir.write("file.py", "x\n");
  struct Case {
    std::string path;
    const char* text;
  };
  const Case cases[] = {
      {dir.path() + "/missing.py", "No such file or directory (os error 2)"},
      {dir.path(), "Is a directory (os error 21)"},
      {file + "/inner.py", "Not a directory (os error 20)"},
      {"", "No such file or directory (os error 2)"},
      {std::string(5000, 'n') + ".py", "File name too long (os error 36)"},
  };
  const StdAstFileSystem fs({});
  for (const Case& c : cases) {
    const auto text = fs.read_to_string(c.path);
    ASSERT_FALSE(text.has_value()) << c.path;
    EXPECT_EQ(text.error(), c.text) << c.path.substr(0, 80);
  }
}

TEST(StdAstFileSystem, PermissionDenied) {
  if (::geteuid() == 0) GTEST_SKIP() << "root reads every file";
  const ScratchDirectory dir;
  const std::string file = dir.write("secret.py", "x\n");
  ASSERT_EQ(::chmod(file.c_str(), 0), 0);
  const auto text = StdAstFileSystem({}).read_to_string(file);
  ASSERT_FALSE(text.has_value());
  EXPECT_EQ(text.error(), "Permission denied (os error 13)");
}

TEST(StdAstFileSystem, APathWithANulByteIsRefusedBeforeOpening) {
  const ScratchDirectory dir;
  const std::string file = dir.write("a.py", "x\n");
  for (const std::string& path : {file + std::string(1, '\0') + "tail", std::string(1, '\0'), std::string("a\0b.py", 6)}) {
    const auto text = StdAstFileSystem({}).read_to_string(path);
    ASSERT_FALSE(text.has_value());
    EXPECT_EQ(text.error(), "file name contained an unexpected NUL byte");
  }
}

// A sparse file takes no disk space, so the size check must come before
// any read: reading five gibibytes of zeros would take seconds and memory.
TEST(StdAstFileSystem, AFileOfFourGibibytesOrMoreIsRefusedUnread) {
  const ScratchDirectory dir;
  struct Case {
    std::uint64_t size;
    const char* text;
  };
  const Case cases[] = {
      {std::uint64_t{5} << 30,
       "file too large to analyse: 5368709120 bytes, source files must be smaller than 4 GiB (4294967296 bytes)"},
      {std::uint64_t{1} << 32,
       "file too large to analyse: 4294967296 bytes, source files must be smaller than 4 GiB (4294967296 bytes)"},
  };
  for (const Case& c : cases) {
    const std::string path = dir.write("sparse.py", "");
    ASSERT_EQ(::truncate(path.c_str(), static_cast<off_t>(c.size)), 0);
    const auto text = StdAstFileSystem({}).read_to_string(path);
    ASSERT_FALSE(text.has_value());
    EXPECT_EQ(text.error(), c.text);
  }
}

TEST(StdAstFileSystem, ReadsAFileWithoutAKnownSize) {
  // A pipe reports no size: it is read to its end in growing steps.
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  const std::string content(100000, 'q');
  std::thread writer([&] {
    std::size_t done = 0;
    while (done < content.size()) {
      const ssize_t wrote = ::write(fds[1], content.data() + done, content.size() - done);
      if (wrote <= 0) break;
      done += static_cast<std::size_t>(wrote);
    }
    ::close(fds[1]);
  });
  const auto text = StdAstFileSystem({}).read_to_string("/proc/self/fd/" + std::to_string(fds[0]));
  writer.join();
  ::close(fds[0]);
  ASSERT_TRUE(text.has_value()) << text.error();
  EXPECT_EQ(text.value(), content);
}

TEST(StdAstFileSystem, ReadsARegularFileThatReportsNoSize) {
  // /proc files report a size of 0: they are read to their end all the same.
  const auto text = StdAstFileSystem({}).read_to_string("/proc/self/status");
  ASSERT_TRUE(text.has_value()) << text.error();
  EXPECT_NE(text.value().find("Name:"), std::string::npos);
  const auto maps = StdAstFileSystem({}).read_to_string("/proc/self/maps");
  ASSERT_TRUE(maps.has_value()) << maps.error();
  EXPECT_GT(maps.value().size(), 4096u) << "more than the first read step";
}

TEST(StdAstFileSystem, ManyThreadsReadAtOnce) {
  const ScratchDirectory dir;
  Files paths;
  for (int i = 0; i < 8; ++i) {
    std::string name = std::to_string(i);
    name += ".py";
    paths.push_back(dir.write(name, std::string(1000 + i, 'a')));
  }
  const StdAstFileSystem fs(paths);
  std::vector<std::thread> threads;
  std::atomic<int> good{0};
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < 50; ++round) {
        const auto text = fs.read_to_string(paths[(t + round) % paths.size()]);
        if (text.has_value() && text.value().size() >= 1000) ++good;
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(good.load(), 8 * 50);
}

}  // namespace
}  // namespace tolva_ast
