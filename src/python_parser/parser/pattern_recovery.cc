#include "python_parser/parser/pattern_recovery.h"

#include <algorithm>
#include <cstddef>
#include <vector>

#include "support/fatal_error.h"
#include "text_size/text_size.h"

namespace python_parser {

namespace {

using python_ast::Expr;
using python_ast::ExpressionContext;
using python_ast::ExprName;
using python_ast::Name;
using python_ast::Pattern;
using text_size::TextRange;

// The range the conversion of `pattern` will have, known before the
// conversion is built: or-chains need the ranges of their alternatives while
// the alternatives are still patterns. Loops rather than recursion, since
// groups may nest or-patterns inside or-patterns to any depth.
text_size::TextOffset converted_start(const Pattern* pattern);
text_size::TextOffset converted_end(const Pattern* pattern);

// The pattern whose conversion stands for `pattern` at the given edge:
// `p` for a bare `p` (an as-pattern without a name), the first or last
// alternative of an or-pattern; nullptr when `pattern` converts to a node
// of its own.
const Pattern* edge_delegate(const Pattern* pattern, bool at_start) {
  if (const auto* as = pattern->as<python_ast::PatternAs>()) {
    if (as->pattern != nullptr && !as->name.has_value()) return as->pattern;
    return nullptr;
  }
  if (const auto* alternatives = pattern->as<python_ast::PatternOr>()) {
    if (alternatives->patterns.empty()) return nullptr;
    return at_start ? alternatives->patterns.front() : alternatives->patterns.back();
  }
  return nullptr;
}

// The range of the node that `pattern` itself converts to (no delegation).
TextRange own_converted_range(const Pattern* pattern) {
  if (const auto* value = pattern->as<python_ast::PatternValue>()) return value->value->range;
  if (const auto* as = pattern->as<python_ast::PatternAs>()) {
    if (as->pattern == nullptr && as->name.has_value()) return as->name->range;
  }
  return pattern->range;
}

text_size::TextOffset converted_start(const Pattern* pattern) {
  while (const Pattern* inner = edge_delegate(pattern, true)) pattern = inner;
  return own_converted_range(pattern).start();
}

text_size::TextOffset converted_end(const Pattern* pattern) {
  while (const Pattern* inner = edge_delegate(pattern, false)) pattern = inner;
  return own_converted_range(pattern).end();
}

// One pattern still to convert and the slot its expression goes into.
struct Work {
  Pattern* pattern;
  Expr** slot;
};

template <class Node, class... Args>
Node* make_from(python_ast::Arena& arena, const python_ast::AtomicNodeIndex& index, Args&&... args) {
  Node* node = arena.make<Node>(std::forward<Args>(args)...);
  node->node_index = index;
  return node;
}

}  // namespace

// The tree is built top-down with an explicit work list: each pattern node
// becomes its expression node at once, with empty slots for the converted
// children, and the children are queued with their slots. No recursion, so a
// deeply nested pattern converts in constant machine stack.
Expr* pattern_to_expr(python_ast::Arena& arena, Pattern* pattern) {
  Expr* result = nullptr;
  std::vector<Work> work;
  work.push_back(Work{pattern, &result});

  while (!work.empty()) {
    Work item = work.back();
    work.pop_back();
    Pattern* current = item.pattern;
    const python_ast::AtomicNodeIndex& index = current->node_index;

    switch (current->kind()) {
      case python_ast::PatternKind::Value: {
        *item.slot = current->cast<python_ast::PatternValue>().value;
        break;
      }
      case python_ast::PatternKind::Singleton: {
        const auto& singleton = current->cast<python_ast::PatternSingleton>();
        if (singleton.value == python_ast::PatternSingletonValue::None) {
          *item.slot = make_from<python_ast::ExprNoneLiteral>(arena, index, singleton.range);
        } else {
          bool value = singleton.value == python_ast::PatternSingletonValue::True;
          *item.slot = make_from<python_ast::ExprBooleanLiteral>(arena, index, singleton.range, value);
        }
        break;
      }
      case python_ast::PatternKind::Sequence: {
        const auto& sequence = current->cast<python_ast::PatternSequence>();
        std::span<Expr*> elements = arena.make_array<Expr*>(sequence.patterns.size());
        *item.slot = make_from<python_ast::ExprList>(arena, index, sequence.range, elements, ExpressionContext::Store);
        for (std::size_t i = sequence.patterns.size(); i-- > 0;) {
          work.push_back(Work{sequence.patterns[i], &elements[i]});
        }
        break;
      }
      case python_ast::PatternKind::Mapping: {
        const auto& mapping = current->cast<python_ast::PatternMapping>();
        // The parser pairs keys and patterns one to one; a surplus on either
        // side has no partner and is dropped.
        std::size_t pairs = std::min(mapping.keys.size(), mapping.patterns.size());
        std::size_t count = pairs + (mapping.rest.has_value() ? 1 : 0);
        std::span<python_ast::DictItem> items = arena.make_array<python_ast::DictItem>(count);
        for (std::size_t i = 0; i < pairs; ++i) items[i].key = mapping.keys[i];
        if (mapping.rest.has_value()) {
          items[pairs].value =
              make_from<ExprName>(arena, index, mapping.rest->range, mapping.rest->id, ExpressionContext::Store);
        }
        *item.slot = make_from<python_ast::ExprDict>(arena, index, mapping.range, items);
        for (std::size_t i = pairs; i-- > 0;) work.push_back(Work{mapping.patterns[i], &items[i].value});
        break;
      }
      case python_ast::PatternKind::Class: {
        const auto& cls = current->cast<python_ast::PatternClass>();
        const python_ast::PatternArguments& arguments = cls.arguments;
        std::span<Expr*> args = arena.make_array<Expr*>(arguments.patterns.size());
        std::span<python_ast::Keyword> keywords = arena.make_array<python_ast::Keyword>(arguments.keywords.size());
        for (std::size_t i = 0; i < arguments.keywords.size(); ++i) {
          const python_ast::PatternKeyword& keyword = arguments.keywords[i];
          keywords[i] = python_ast::Keyword(keyword.range, keyword.attribute, nullptr);
          keywords[i].node_index = index;
        }
        python_ast::Arguments call_arguments(arguments.range, args, keywords);
        call_arguments.node_index = index;
        *item.slot = make_from<python_ast::ExprCall>(arena, index, cls.range, cls.cls, call_arguments);
        for (std::size_t i = arguments.keywords.size(); i-- > 0;) {
          work.push_back(Work{arguments.keywords[i].pattern, &keywords[i].value});
        }
        for (std::size_t i = arguments.patterns.size(); i-- > 0;) {
          work.push_back(Work{arguments.patterns[i], &args[i]});
        }
        break;
      }
      case python_ast::PatternKind::Star: {
        const auto& star = current->cast<python_ast::PatternStar>();
        ExprName* name;
        if (star.name.has_value()) {
          name = make_from<ExprName>(arena, index, star.name->range, star.name->id, ExpressionContext::Store);
        } else {
          // `*_`: the name is the `_`, the star's last byte.
          text_size::TextOffset end = star.range.end();
          text_size::TextOffset start = star.range.is_empty() ? end : text_size::TextOffset(end.raw - 1);
          name = make_from<ExprName>(arena, index, TextRange(start, end), Name("_"), ExpressionContext::Store);
        }
        *item.slot = make_from<python_ast::ExprStarred>(arena, index, star.range, name, ExpressionContext::Store);
        break;
      }
      case python_ast::PatternKind::As: {
        const auto& as = current->cast<python_ast::PatternAs>();
        if (as.pattern != nullptr && as.name.has_value()) {
          // `p as x` reads as no expression at all.
          *item.slot = make_from<ExprName>(arena, index, as.range, Name(), ExpressionContext::Invalid);
        } else if (as.pattern != nullptr) {
          work.push_back(Work{as.pattern, item.slot});
        } else if (as.name.has_value()) {
          *item.slot = make_from<ExprName>(arena, index, as.name->range, as.name->id, ExpressionContext::Store);
        } else {
          *item.slot = make_from<ExprName>(arena, index, as.range, Name("_"), ExpressionContext::Store);
        }
        break;
      }
      case python_ast::PatternKind::Or: {
        const auto& alternatives = current->cast<python_ast::PatternOr>();
        std::span<Pattern*> patterns = alternatives.patterns;
        if (patterns.size() < 2) [[unlikely]] {
          tolva::fatal(
              "internal error: entered unreachable code: Or patterns can only be formed with at least two "
              "patterns.");
        }
        // a | b | c is (a | b) | c: each operation joins the chain so far
        // and the next alternative.
        text_size::TextOffset start = converted_start(patterns[0]);
        python_ast::ExprBinOp* chain = make_from<python_ast::ExprBinOp>(
            arena, index, TextRange(start, converted_end(patterns[1])), nullptr, python_ast::BinaryOperator::BitOr,
            nullptr);
        work.push_back(Work{patterns[0], &chain->left});
        work.push_back(Work{patterns[1], &chain->right});
        for (std::size_t i = 2; i < patterns.size(); ++i) {
          chain = make_from<python_ast::ExprBinOp>(arena, index, TextRange(start, converted_end(patterns[i])), chain,
                                                   python_ast::BinaryOperator::BitOr, nullptr);
          work.push_back(Work{patterns[i], &chain->right});
        }
        *item.slot = chain;
        break;
      }
    }
  }
  return result;
}

}  // namespace python_parser
