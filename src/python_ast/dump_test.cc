#include "python_ast/dump.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <set>
#include <string>
#include <unistd.h>
#include <vector>

#include "support/fatal_error.h"
#include "test_support/oracle.h"
#include "test_support/python_ast/nodes.h"

namespace python_ast {
namespace {

using testing::DumpFixture;
using testing::TreeBuilder;

TEST(DumpJson, HandBuiltTrees) {
  TreeBuilder b;
  for (const DumpFixture& fixture : testing::dump_fixtures(b)) {
    EXPECT_EQ(dump_json(fixture.root, fixture.source), fixture.expected) << fixture.source;
  }
}

// The fixtures hold every node type, so every field description above is
// pinned by an exact expected dump.
TEST(DumpJson, FixturesCoverEveryNodeType) {
  TreeBuilder b;
  std::set<NodeType> seen;
  bool dict_item = false;
  for (const DumpFixture& fixture : testing::dump_fixtures(b)) {
    walk_preorder(fixture.root, [&](AnyNodeRef node) { seen.insert(node.type()); });
    dict_item |= fixture.expected.find("\"DictItem\"") != std::string_view::npos;
  }
  if (dict_item) seen.insert(NodeType::DictItem);
  for (int type = 0; type <= static_cast<int>(NodeType::Identifier); ++type) {
    EXPECT_TRUE(seen.count(static_cast<NodeType>(type)))
        << "no fixture holds " << node_type_name(static_cast<NodeType>(type));
  }
}

TEST(DumpJson, StringEscapes) {
  struct Case {
    std::string_view text;
    std::string_view expected;
  };
  const Case cases[] = {
      {"", R"("")"},
      {"plain text", R"("plain text")"},
      {"q\"b\\s/", R"("q\"b\\s/")"},
      {std::string_view("\0\x01\t\n\r\x1f\x7f", 7), R"("\u0000\u0001\u0009\u000a\u000d\u001f\u007f")"},
      {"\u00e9", R"("\u00e9")"},
      {"\u20ac\uffff", R"("\u20ac\uffff")"},
      {"\U0001F600", R"("\ud83d\ude00")"},
      {"\U0010FFFF", R"("\udbff\udfff")"},
      // A lone surrogate in its three-byte form keeps its code.
      {"\xed\xa0\x80", R"("\ud800")"},
      // Bytes that are no UTF-8: stray continuation, truncated sequence,
      // overlong form, beyond U+10FFFF, invalid lead.
      {"\x80", R"("\ufffd")"},
      {"a\xe2\x82", R"("a\ufffd\ufffd")"},
      {"\xc0\xaf", R"("\ufffd\ufffd")"},
      {"\xe0\x80\x80", R"("\ufffd\ufffd\ufffd")"},
      {"\xf4\x90\x80\x80", R"("\ufffd\ufffd\ufffd\ufffd")"},
      {"\xff!", R"("\ufffd!")"},
  };
  for (const Case& c : cases) {
    std::string out;
    append_json_string(out, c.text);
    EXPECT_EQ(out, c.expected);
  }
}

TEST(DumpJson, NumberValues) {
  TreeBuilder b;
  auto dump_value = [&](NumberLiteralValue value) {
    auto* number = b.make<ExprNumberLiteral>(TreeBuilder::r(0, 0), value);
    std::string dump = dump_json(*number, "");
    std::string_view prefix = R"({"type":"ExprNumberLiteral","range":[0,0],"value":)";
    EXPECT_EQ(dump.substr(0, prefix.size()), prefix);
    return dump.substr(prefix.size(), dump.size() - prefix.size() - 1);
  };
  struct Case {
    NumberLiteralValue value;
    std::string_view expected;
  };
  const double inf = std::numeric_limits<double>::infinity();
  const Case cases[] = {
      {NumberLiteralValue::of_int(Int::small(0)), R"({"kind":"Int","value":0})"},
      {NumberLiteralValue::of_int(Int::small(18446744073709551615u)),
       R"({"kind":"Int","value":18446744073709551615})"},
      {NumberLiteralValue::of_int(Int::big("18446744073709551616")),
       R"({"kind":"Int","value":"18446744073709551616"})"},
      {NumberLiteralValue::of_int(Int::big("0xFFFF_FFFF_FFFF_FFFF_F")),
       R"({"kind":"Int","value":"0xFFFF_FFFF_FFFF_FFFF_F"})"},
      {NumberLiteralValue::of_float(1.0), R"({"kind":"Float","value":1.0})"},
      {NumberLiteralValue::of_float(-0.0), R"({"kind":"Float","value":-0.0})"},
      {NumberLiteralValue::of_float(0.1), R"({"kind":"Float","value":0.1})"},
      {NumberLiteralValue::of_float(1e300), R"({"kind":"Float","value":1e+300})"},
      {NumberLiteralValue::of_float(5e-324), R"({"kind":"Float","value":5e-324})"},
      {NumberLiteralValue::of_float(123456789.125), R"({"kind":"Float","value":123456789.125})"},
      {NumberLiteralValue::of_float(inf), R"({"kind":"Float","value":"inf"})"},
      {NumberLiteralValue::of_float(-inf), R"({"kind":"Float","value":"-inf"})"},
      {NumberLiteralValue::of_float(std::nan("")), R"({"kind":"Float","value":"nan"})"},
      {NumberLiteralValue::of_complex(0.0, 1.0), R"({"kind":"Complex","real":0.0,"imag":1.0})"},
      {NumberLiteralValue::of_complex(0.0, inf), R"({"kind":"Complex","real":0.0,"imag":"inf"})"},
  };
  for (const Case& c : cases) EXPECT_EQ(dump_value(c.value), c.expected);
}

TEST(DumpJson, RangeOutsideSourceIsFatal) {
  TreeBuilder b;
  ExprName* name = b.name("abc", 2);
  try {
    (void)dump_json(*name, "ab");
    FAIL() << "a range past the source must throw";
  } catch (const tolva::FatalError& error) {
    EXPECT_EQ(error.message(), "range 2..5 of ExprName lies outside the source text of 2 bytes");
  }
  // A child's range is checked as well.
  auto* statement = b.make<StmtExpression>(TreeBuilder::r(0, 1), name);
  EXPECT_THROW((void)dump_json(*statement, "a"), tolva::FatalError);
  EXPECT_EQ(dump_json(*statement, "ab abc"),
            R"({"type":"StmtExpression","range":[0,1],"value":{"type":"ExprName","range":[2,5],"id":"abc","ctx":"Load"}})");
}

// Differential: Python's own json module reads every dump back. Each object
// has no duplicate key, every object but a dict item has a [start, end]
// range, and texts come back exactly.
TEST(DumpJson, PythonJsonReadsDumpsBack) {
  TOLVA_TEST_PYTHON_OR_SKIP(test_python);
  const char* python = test_python->c_str();

  TreeBuilder b;
  std::vector<std::string> dumps;
  for (const DumpFixture& fixture : testing::dump_fixtures(b)) dumps.push_back(dump_json(fixture.root, fixture.source));
  // Texts whose escapes must read back exactly, as UTF-8 code points.
  const std::string_view texts[] = {"a\"\\\x01\x7f", "\u00e9\u20ac", "\U0001F600\U0010FFFF", "\xed\xa0\x80"};
  std::vector<std::string> names;
  for (std::string_view text : texts) {
    names.push_back(dump_json(*b.make<ExprName>(TreeBuilder::r(0, 0), Name(text), ExpressionContext::Load), ""));
  }

  char directory[] = "/tmp/tolva_dump_json_XXXXXX";
  ASSERT_NE(mkdtemp(directory), nullptr);
  std::string data_path = std::string(directory) + "/dumps.txt";
  std::string script_path = std::string(directory) + "/check.py";
  {
    std::ofstream file(data_path, std::ios::binary);
    for (const std::string& dump : dumps) file << "D " << dump << '\n';
    for (const std::string& dump : names) file << "N " << dump << '\n';
  }
  {
    std::ofstream script(script_path, std::ios::binary);
    script << R"PY(import json, sys

def pairs(items):
    keys = [k for k, _ in items]
    assert len(keys) == len(set(keys)), keys
    return dict(items)

def check(node):
    if isinstance(node, list):
        for item in node:
            check(item)
    elif isinstance(node, dict):
        if "type" in node and node["type"] != "DictItem":
            r = node["range"]
            assert isinstance(r, list) and len(r) == 2 and 0 <= r[0] <= r[1], node
        for value in node.values():
            check(value)

texts = []
for line in open(sys.argv[1], encoding="utf-8", errors="surrogatepass"):
    tag, text = line.split(" ", 1)
    node = json.loads(text, object_pairs_hook=pairs)
    check(node)
    if tag == "N":
        texts.append(node["id"])
expected = ["a\"\\\x01\x7f", "\u00e9\u20ac", "\U0001F600\U0010FFFF", "\ud800"]
assert texts == expected, (texts, expected)
print("ok")
)PY";
  }
  std::string command = std::string(python) + " " + script_path + " " + data_path + " 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string output;
  char buffer[4096];
  while (std::size_t count = fread(buffer, 1, sizeof buffer, pipe)) output.append(buffer, count);
  int status = pclose(pipe);
  std::remove(data_path.c_str());
  std::remove(script_path.c_str());
  rmdir(directory);
  EXPECT_EQ(status, 0) << output;
  EXPECT_EQ(output, "ok\n");
}

}  // namespace
}  // namespace python_ast
