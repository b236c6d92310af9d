#include "python_ast/walk.h"

#include <cstdint>
#include <optional>
#include <vector>

#include "python_ast/nodes_fields.h"

namespace python_ast {

// ---------------------------------------------------------------------------
// AnyNodeRef.

namespace {

template <class Family>
const Family* family_member(AnyNodeRef node, NodeType first, NodeType last) {
  if (node.type() < first || node.type() > last) return nullptr;
  return static_cast<const Family*>(node.address());
}

template <class T>
text_size::TextRange range_of(const void* node) {
  return static_cast<const T*>(node)->range;
}

}  // namespace

const Mod* AnyNodeRef::as_mod() const { return family_member<Mod>(*this, NodeType::ModModule, NodeType::ModExpression); }
const Stmt* AnyNodeRef::as_stmt() const {
  return family_member<Stmt>(*this, NodeType::StmtFunctionDefinition, NodeType::StmtIpyEscapeCommand);
}
const Expr* AnyNodeRef::as_expr() const {
  return family_member<Expr>(*this, NodeType::ExprBooleanOperation, NodeType::ExprIpyEscapeCommand);
}
const Pattern* AnyNodeRef::as_pattern() const {
  return family_member<Pattern>(*this, NodeType::PatternValue, NodeType::PatternOr);
}

text_size::TextRange AnyNodeRef::range() const {
  if (const Mod* mod = as_mod()) return mod->range;
  if (const Stmt* stmt = as_stmt()) return stmt->range;
  if (const Expr* expr = as_expr()) return expr->range;
  if (const Pattern* pattern = as_pattern()) return pattern->range;
  switch (type_) {
    case NodeType::ExceptHandlerExceptHandler: return range_of<ExceptHandler>(node_);
    case NodeType::TypeParamSingle:
    case NodeType::TypeParamStar:
    case NodeType::TypeParamDoubleStar: return range_of<TypeParam>(node_);
    case NodeType::InterpolatedStringLiteralElement:
    case NodeType::Interpolation: return range_of<InterpolatedStringElement>(node_);
    case NodeType::DictItem: {
      const auto* item = static_cast<const DictItem*>(node_);
      if (item->value == nullptr) return item->key != nullptr ? item->key->range : text_size::TextRange();
      return item->key != nullptr ? item->key->range.cover(item->value->range) : item->value->range;
    }
#define TOLVA_RANGE_OF_RECORD(record) \
  case NodeType::record: return range_of<record>(node_);
      TOLVA_RANGE_OF_RECORD(Decorator)
      TOLVA_RANGE_OF_RECORD(ElifElseClause)
      TOLVA_RANGE_OF_RECORD(MatchCase)
      TOLVA_RANGE_OF_RECORD(Arguments)
      TOLVA_RANGE_OF_RECORD(Keyword)
      TOLVA_RANGE_OF_RECORD(Comprehension)
      TOLVA_RANGE_OF_RECORD(Parameters)
      TOLVA_RANGE_OF_RECORD(ParameterWithDefault)
      TOLVA_RANGE_OF_RECORD(Parameter)
      TOLVA_RANGE_OF_RECORD(TypeParams)
      TOLVA_RANGE_OF_RECORD(Alias)
      TOLVA_RANGE_OF_RECORD(WithItem)
      TOLVA_RANGE_OF_RECORD(PatternArguments)
      TOLVA_RANGE_OF_RECORD(PatternKeyword)
      TOLVA_RANGE_OF_RECORD(StringLiteral)
      TOLVA_RANGE_OF_RECORD(BytesLiteral)
      TOLVA_RANGE_OF_RECORD(FStringLiteralPart)
      TOLVA_RANGE_OF_RECORD(TString)
      TOLVA_RANGE_OF_RECORD(InterpolatedStringFormatSpec)
      TOLVA_RANGE_OF_RECORD(Identifier)
#undef TOLVA_RANGE_OF_RECORD
    default: break;
  }
  return text_size::TextRange();
}

// ---------------------------------------------------------------------------
// The walk.

WalkAction SourceOrderVisitor::enter(AnyNodeRef) { return WalkAction::Continue; }
void SourceOrderVisitor::leave(AnyNodeRef) {}

namespace {

// One open node: where its next child is. `field` counts the field calls of
// its description already done; `a` and `b` are element cursors into the
// current list (two for merged lists).
struct Frame {
  AnyNodeRef node;
  std::uint32_t field = 0;
  std::uint32_t a = 0;
  std::uint32_t b = 0;
};

// Finds the next child of a frame's node in source order and moves the
// frame past it. Fields before `frame.field` are skipped; once a child is
// found, the remaining calls do nothing.
class NextChild {
 public:
  static constexpr bool kSourceOrder = true;

  explicit NextChild(Frame& frame) : frame_(frame) {}

  std::optional<AnyNodeRef> found;

  void child(const char*, std::optional<AnyNodeRef> node) {
    if (!take_field()) return;
    frame_.field = step_;
    found = node;
  }

  template <class E>
  void children(const char*, std::span<E> items) {
    if (!take_field()) return;
    while (frame_.a < items.size()) {
      std::optional<AnyNodeRef> element = fields_detail::element_ref(items[frame_.a]);
      ++frame_.a;
      if (element) {
        found = element;
        return;
      }
    }
    frame_.a = 0;
    frame_.field = step_;
  }

  template <class A, class B>
  void merged(std::span<A> first, std::span<B> second, fields_detail::Merge merge) {
    if (!take_field()) return;
    while (frame_.a < first.size() || frame_.b < second.size()) {
      bool take_first;
      if (frame_.b >= second.size()) {
        take_first = true;
      } else if (frame_.a >= first.size()) {
        take_first = false;
      } else if (merge == fields_detail::Merge::Alternate) {
        take_first = frame_.a <= frame_.b;
      } else {
        take_first = fields_detail::element_start(first[frame_.a]) <= fields_detail::element_start(second[frame_.b]);
      }
      std::optional<AnyNodeRef> element = take_first ? fields_detail::element_ref(first[frame_.a++])
                                                     : fields_detail::element_ref(second[frame_.b++]);
      if (element) {
        found = element;
        return;
      }
    }
    frame_.a = 0;
    frame_.b = 0;
    frame_.field = step_;
  }

  template <class T>
  void value(const char*, const T&) {
    if (!take_field()) return;
    frame_.field = step_;
  }

 private:
  // Counts one field call; true when this call is the frame's current field
  // and no child has been found yet.
  bool take_field() {
    std::uint32_t index = step_++;
    return !found && index == frame_.field;
  }

  Frame& frame_;
  std::uint32_t step_ = 0;
};

// A dict item is not a node: the walk passes through it.
bool is_reported(AnyNodeRef node) { return node.type() != NodeType::DictItem; }

}  // namespace

void walk(AnyNodeRef root, SourceOrderVisitor& visitor) {
  std::vector<Frame> stack;
  auto open = [&](AnyNodeRef node) {
    if (!is_reported(node)) {
      stack.push_back(Frame{node});
      return;
    }
    if (visitor.enter(node) == WalkAction::Continue) {
      stack.push_back(Frame{node});
    } else {
      visitor.leave(node);
    }
  };

  open(root);
  while (!stack.empty()) {
    std::optional<AnyNodeRef> child;
    {
      NextChild next(stack.back());
      fields_detail::visit_fields(stack.back().node, next);
      child = next.found;
    }
    if (child) {
      open(*child);
      continue;
    }
    AnyNodeRef done = stack.back().node;
    stack.pop_back();
    if (is_reported(done)) visitor.leave(done);
  }
}

}  // namespace python_ast
