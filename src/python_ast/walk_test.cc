#include "python_ast/walk.h"

#include <gtest/gtest.h>

#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "python_ast/dump.h"
#include "python_ast/module.h"
#include "test_support/python_ast/nodes.h"
#include "test_support/threads.h"

namespace python_ast {
namespace {

using testing::TreeBuilder;

constexpr auto kLoad = ExpressionContext::Load;
constexpr auto kStore = ExpressionContext::Store;

// "Type@start", after `sign` when there is one.
std::string label(char sign, AnyNodeRef node) {
  std::string text;
  if (sign != 0) text += sign;
  text += node.type_name();
  text += '@';
  text += std::to_string(node.range().start().raw);
  return text;
}

// "enter" and "leave" events as "+Type@start" and "-Type@start".
class Recorder : public SourceOrderVisitor {
 public:
  std::vector<std::string> events;
  NodeType skip = NodeType::DictItem;  // never reported, so nothing skipped

  WalkAction enter(AnyNodeRef node) override {
    events.push_back(label('+', node));
    return node.type() == skip ? WalkAction::SkipChildren : WalkAction::Continue;
  }
  void leave(AnyNodeRef node) override {
    events.push_back(label('-', node));
  }
};

// Pre-order entries only.
std::vector<std::string> entered(AnyNodeRef root) {
  std::vector<std::string> out;
  walk_preorder(root, [&](AnyNodeRef node) {
    out.push_back(label(0, node));
  });
  return out;
}

using Events = std::vector<std::string>;

TEST(Walk, EnterAndLeaveNest) {
  TreeBuilder b;
  // x = f(1)
  auto* call = b.make<ExprCall>(TreeBuilder::r(4, 8), b.name("f", 4),
                                Arguments(TreeBuilder::r(5, 8), b.exprs({b.integer(1, 6, 7)}), {}));
  auto* module = b.module(8, {b.make<StmtAssignment>(TreeBuilder::r(0, 8), b.exprs({b.name("x", 0, kStore)}), call)});
  Recorder recorder;
  walk(*module, recorder);
  EXPECT_EQ(recorder.events, (Events{"+ModModule@0", "+StmtAssignment@0", "+ExprName@0", "-ExprName@0",
                                     "+ExprCall@4", "+ExprName@4", "-ExprName@4", "+Arguments@5",
                                     "+ExprNumberLiteral@6", "-ExprNumberLiteral@6", "-Arguments@5", "-ExprCall@4",
                                     "-StmtAssignment@0", "-ModModule@0"}));

  // Skipping a node's children still leaves it.
  Recorder skipping;
  skipping.skip = NodeType::ExprCall;
  walk(*module, skipping);
  EXPECT_EQ(skipping.events, (Events{"+ModModule@0", "+StmtAssignment@0", "+ExprName@0", "-ExprName@0",
                                     "+ExprCall@4", "-ExprCall@4", "-StmtAssignment@0", "-ModModule@0"}));
}

// Where source order and declared order differ.
TEST(Walk, SourceOrder) {
  TreeBuilder b;
  struct Case {
    std::string_view source;
    AnyNodeRef root;
    Events expected;
  };
  std::vector<Case> cases;

  // The body of a conditional comes before its test.
  cases.push_back({"a if b else c",
                   *b.make<ExprConditional>(TreeBuilder::r(0, 13), b.name("b", 5), b.name("a", 0), b.name("c", 12)),
                   {"ExprConditional@0", "ExprName@0", "ExprName@5", "ExprName@12"}});

  // Call arguments: positional and keyword merged by start.
  cases.push_back({"f(a, k=1, *b, **c)",
                   *b.make<ExprCall>(
                       TreeBuilder::r(0, 18), b.name("f", 0),
                       Arguments(TreeBuilder::r(1, 18),
                                 b.exprs({b.name("a", 2), b.make<ExprStarred>(TreeBuilder::r(10, 12), b.name("b", 11), kLoad)}),
                                 b.list({Keyword(TreeBuilder::r(5, 8), TreeBuilder::ident("k", 5), b.integer(1, 7, 8)),
                                         Keyword(TreeBuilder::r(14, 17), std::nullopt, b.name("c", 16))}))),
                   {"ExprCall@0", "ExprName@0", "Arguments@1", "ExprName@2", "Keyword@5", "Identifier@5",
                    "ExprNumberLiteral@7", "ExprStarred@10", "ExprName@11", "Keyword@14", "ExprName@16"}});

  // Mapping pattern: keys and patterns alternate, then the rest.
  cases.push_back({"{1: a, 2: b, **r}",
                   *b.make<PatternMapping>(
                       TreeBuilder::r(0, 17), b.exprs({b.integer(1, 1, 2), b.integer(2, 7, 8)}),
                       b.patterns({b.make<PatternAs>(TreeBuilder::r(4, 5), nullptr, TreeBuilder::ident("a", 4)),
                                   b.make<PatternAs>(TreeBuilder::r(10, 11), nullptr, TreeBuilder::ident("b", 10))}),
                       TreeBuilder::ident("r", 15)),
                   {"PatternMapping@0", "ExprNumberLiteral@1", "PatternAs@4", "Identifier@4", "ExprNumberLiteral@7",
                    "PatternAs@10", "Identifier@10", "Identifier@15"}});

  // A dict item is no node: keys and values follow the dict directly.
  cases.push_back({"{**m, 1: 2}",
                   *b.make<ExprDict>(TreeBuilder::r(0, 11), b.list({DictItem(nullptr, b.name("m", 3)),
                                                                   DictItem(b.integer(1, 6, 7), b.integer(2, 9, 10))})),
                   {"ExprDict@0", "ExprName@3", "ExprNumberLiteral@6", "ExprNumberLiteral@9"}});

  // Class pattern arguments merged by start; an f-string's parts and
  // elements in order.
  cases.push_back({"C(1, y=2)",
                   *b.make<PatternClass>(
                       TreeBuilder::r(0, 9), b.name("C", 0),
                       PatternArguments(TreeBuilder::r(1, 9),
                                        b.patterns({b.make<PatternValue>(TreeBuilder::r(2, 3), b.integer(1, 2, 3))}),
                                        b.list({PatternKeyword(TreeBuilder::r(5, 8), TreeBuilder::ident("y", 5),
                                                               b.make<PatternValue>(TreeBuilder::r(7, 8),
                                                                                    b.integer(2, 7, 8)))}))),
                   {"PatternClass@0", "ExprName@0", "PatternArguments@1", "PatternValue@2", "ExprNumberLiteral@2",
                    "PatternKeyword@5", "Identifier@5", "PatternValue@7", "ExprNumberLiteral@7"}});

  for (const Case& c : cases) EXPECT_EQ(entered(c.root), c.expected) << c.source;
}

// Every fixture tree: the walk enters as many nodes as the dump writes
// objects with a range, in the same order (both are pre-order).
TEST(Walk, AgreesWithDumpOnFixtures) {
  TreeBuilder b;
  for (const testing::DumpFixture& fixture : testing::dump_fixtures(b)) {
    std::vector<std::uint32_t> walked;
    walk_preorder(fixture.root, [&](AnyNodeRef node) { walked.push_back(node.range().start().raw); });
    std::size_t ranges = 0;
    for (std::size_t at = fixture.expected.find("\"range\":"); at != std::string_view::npos;
         at = fixture.expected.find("\"range\":", at + 1)) {
      ++ranges;
    }
    EXPECT_EQ(walked.size(), ranges) << fixture.source;
  }
}

// ---------------------------------------------------------------------------
// Deep trees on a small stack.

using test_support::run_on_thread;

struct ChainResult {
  std::size_t nodes = 0;
  std::size_t max_depth = 0;
  std::size_t dump_size = 0;
  std::string dump_head;
  std::string dump_tail;
};

class DepthCounter : public SourceOrderVisitor {
 public:
  std::size_t nodes = 0;
  std::size_t depth = 0;
  std::size_t max_depth = 0;
  WalkAction enter(AnyNodeRef) override {
    ++nodes;
    if (++depth > max_depth) max_depth = depth;
    return WalkAction::Continue;
  }
  void leave(AnyNodeRef) override { --depth; }
};

// Builds the module `source` describes with `build`, then walks, dumps and
// frees it, all on the calling thread.
ChainResult build_walk_dump_free(std::string source,
                                 const std::function<Expr*(ModuleTree&)>& build) {
  ChainResult result;
  auto tree = std::make_shared<ModuleTree>(std::move(source));
  Expr* expression = build(*tree);
  Arena& arena = tree->arena();
  auto body = arena.make_array<Stmt*>(1);
  body[0] = arena.make<StmtExpression>(expression->range, expression);
  auto length = static_cast<std::uint32_t>(tree->source().size());
  tree->set_root(*arena.make<ModModule>(text_size::TextRange(0, length), body));
  SharedModuleTree shared = std::move(tree);

  DepthCounter counter;
  walk(shared->module(), counter);
  result.nodes = counter.nodes;
  result.max_depth = counter.max_depth;
  std::string dump = dump_json(shared->module(), shared->source());
  result.dump_size = dump.size();
  result.dump_head = dump.substr(0, 200);
  result.dump_tail = dump.substr(dump.size() - 120);
  shared.reset();  // frees the arena, here on the small stack
  return result;
}

TEST(Walk, DeepChainsOnOneMebibyteStack) {
  constexpr std::size_t kStack = 1 << 20;
  constexpr std::uint32_t kTerms = 1'000'000;
  constexpr std::uint32_t kLinks = 100'000;

  // 1+1+...+1, left-deep: kTerms literals under kTerms - 1 additions.
  ChainResult sum;
  run_on_thread(kStack, [&] {
    std::string source;
    source.reserve(2 * kTerms);
    for (std::uint32_t i = 0; i < kTerms; ++i) source += i == 0 ? "1" : "+1";
    sum = build_walk_dump_free(std::move(source), [&](ModuleTree& tree) {
      Arena& arena = tree.arena();
      auto literal = [&](std::uint32_t at) -> Expr* {
        return arena.make<ExprNumberLiteral>(text_size::TextRange(at, at + 1),
                                             NumberLiteralValue::of_int(Int::small(1)));
      };
      Expr* left = literal(0);
      for (std::uint32_t i = 1; i < kTerms; ++i) {
        std::uint32_t at = 2 * i;
        left = arena.make<ExprBinOp>(text_size::TextRange(0, at + 1), left, BinaryOperator::Add, literal(at));
      }
      return left;
    });
  });
  // Module, statement, the additions and the literals.
  EXPECT_EQ(sum.nodes, 2 + (kTerms - 1) + kTerms);
  EXPECT_EQ(sum.max_depth, 2 + kTerms);
  EXPECT_TRUE(std::string_view(sum.dump_head)
                  .starts_with(R"({"type":"ModModule","range":[0,1999999],"body":[{"type":"StmtExpression",)"
                               R"("range":[0,1999999],"value":{"type":"ExprBinOp","range":[0,1999999],"left":{)"))
      << sum.dump_head;
  EXPECT_TRUE(std::string_view(sum.dump_tail).ends_with(R"(,1999999],"value":{"kind":"Int","value":1}}}}]})"))
      << sum.dump_tail;

  // a.b.b....b: kLinks attributes over one name.
  ChainResult attributes;
  run_on_thread(kStack, [&] {
    std::string source = "a";
    for (std::uint32_t i = 0; i < kLinks; ++i) source += ".b";
    attributes = build_walk_dump_free(std::move(source), [&](ModuleTree& tree) {
      Arena& arena = tree.arena();
      std::string_view text = tree.source();
      Expr* value = arena.make<ExprName>(text_size::TextRange(0, 1), Name(text.substr(0, 1)), kLoad);
      for (std::uint32_t i = 0; i < kLinks; ++i) {
        std::uint32_t at = 2 + 2 * i;
        Identifier attribute(Name(text.substr(at, 1)), text_size::TextRange(at, at + 1));
        value = arena.make<ExprAttribute>(text_size::TextRange(0, at + 1), value, attribute, kLoad);
      }
      return value;
    });
  });
  // Module, statement, the attributes with their identifiers, the name.
  EXPECT_EQ(attributes.nodes, 2 + 2 * kLinks + 1);
  EXPECT_EQ(attributes.max_depth, 2 + kLinks + 1);
  EXPECT_TRUE(std::string_view(attributes.dump_tail)
                  .ends_with(R"("range":[200000,200001],"id":"b"},"ctx":"Load"}}]})"))
      << attributes.dump_tail;
}

}  // namespace
}  // namespace python_ast
