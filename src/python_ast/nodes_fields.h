#pragma once

// The fields of every node, described once for the walk and the dump.
//
// `visit_fields(node, v)` calls, for each field of `node` in order, one of
//   v.child(name, std::optional<AnyNodeRef>)   a child node, nullopt if absent
//   v.children(name, std::span<E>)             a list of child nodes
//   v.value(name, scalar)                      anything that is not a node
// and, when `V::kSourceOrder` is true, visits children in source order
// instead of declared order (see walk.h), with one more call:
//   v.merged(std::span<A>, std::span<B>, Merge) two lists as one sequence
//
// Both users resume a node after each child: they count the calls and skip
// the fields already done, so the description has to make the same calls
// every time for the same node. Internal to walk.cc and dump.cc.

#include <optional>
#include <span>
#include <string_view>
#include <type_traits>

#include "python_ast/walk.h"

namespace python_ast::fields_detail {

// A bytes value, which the dump writes as numbers rather than as a text.
struct BytesValue {
  std::string_view bytes;
};

// How `merged` interleaves its two lists.
enum class Merge : std::uint8_t {
  Alternate,  // a0, b0, a1, b1, ...: keys and patterns of a mapping pattern
  ByStart,    // by range start, the first list winning ties: call arguments
};

template <class T>
std::optional<AnyNodeRef> ref(const T* node) {
  if (node == nullptr) return std::nullopt;
  return AnyNodeRef(*node);
}
inline std::optional<AnyNodeRef> ref(const std::optional<Identifier>& identifier) {
  if (!identifier) return std::nullopt;
  return AnyNodeRef(*identifier);
}

// The node of one list element: lists hold pointers to family members or
// records by value.
template <class E>
std::optional<AnyNodeRef> element_ref(const E& element) {
  if constexpr (std::is_pointer_v<E>) {
    return ref(element);
  } else if constexpr (std::is_same_v<E, FStringPart>) {
    if (const StringLiteral* literal = element.as_literal()) return AnyNodeRef(*literal);
    return AnyNodeRef(*element.as_fstring());
  } else {
    return AnyNodeRef(element);
  }
}

template <class E>
text_size::TextOffset element_start(const E& element) {
  if constexpr (std::is_pointer_v<E>) {
    return element == nullptr ? text_size::TextOffset() : element->range.start();
  } else {
    return element.range.start();
  }
}

// ---------------------------------------------------------------------------
// Roots and statements.

template <class V>
void fields(const ModModule& n, V& v) {
  v.children("body", n.body);
}
template <class V>
void fields(const ModExpression& n, V& v) {
  v.child("body", ref(n.body));
}

template <class V>
void fields(const StmtFunctionDefinition& n, V& v) {
  v.children("decorators", n.decorators);
  v.child("name", AnyNodeRef(n.name));
  v.child("type_params", ref(n.type_params));
  v.child("parameters", ref(n.parameters));
  v.child("returns", ref(n.returns));
  v.children("body", n.body);
  v.value("is_async", n.is_async);
}
template <class V>
void fields(const StmtClassDefinition& n, V& v) {
  v.children("decorators", n.decorators);
  v.child("name", AnyNodeRef(n.name));
  v.child("type_params", ref(n.type_params));
  v.child("arguments", ref(n.arguments));
  v.children("body", n.body);
}
template <class V>
void fields(const StmtReturn& n, V& v) {
  v.child("value", ref(n.value));
}
template <class V>
void fields(const StmtDelete& n, V& v) {
  v.children("targets", n.targets);
}
template <class V>
void fields(const StmtTypeAlias& n, V& v) {
  v.child("name", ref(n.name));
  v.child("type_params", ref(n.type_params));
  v.child("value", ref(n.value));
}
template <class V>
void fields(const StmtAssignment& n, V& v) {
  v.children("targets", n.targets);
  v.child("value", ref(n.value));
}
template <class V>
void fields(const StmtAugmentedAssignment& n, V& v) {
  v.child("target", ref(n.target));
  v.child("value", ref(n.value));
  v.value("op", n.op);
}
template <class V>
void fields(const StmtAnnotatedAssignment& n, V& v) {
  v.child("target", ref(n.target));
  v.child("annotation", ref(n.annotation));
  v.child("value", ref(n.value));
  v.value("simple", n.simple);
}
template <class V>
void fields(const StmtFor& n, V& v) {
  v.child("target", ref(n.target));
  v.child("iter", ref(n.iter));
  v.children("body", n.body);
  v.children("else_body", n.else_body);
  v.value("is_async", n.is_async);
}
template <class V>
void fields(const StmtWhile& n, V& v) {
  v.child("test", ref(n.test));
  v.children("body", n.body);
  v.children("else_body", n.else_body);
}
template <class V>
void fields(const StmtIf& n, V& v) {
  v.child("test", ref(n.test));
  v.children("body", n.body);
  v.children("elif_else_clauses", n.elif_else_clauses);
}
template <class V>
void fields(const StmtWith& n, V& v) {
  v.children("items", n.items);
  v.children("body", n.body);
  v.value("is_async", n.is_async);
}
template <class V>
void fields(const StmtMatch& n, V& v) {
  v.child("subject", ref(n.subject));
  v.children("cases", n.cases);
}
template <class V>
void fields(const StmtRaise& n, V& v) {
  v.child("exception", ref(n.exception));
  v.child("cause", ref(n.cause));
}
template <class V>
void fields(const StmtTry& n, V& v) {
  v.children("body", n.body);
  v.children("handlers", n.handlers);
  v.children("else_body", n.else_body);
  v.children("finally_body", n.finally_body);
  v.value("is_star", n.is_star);
}
template <class V>
void fields(const StmtAssert& n, V& v) {
  v.child("test", ref(n.test));
  v.child("message", ref(n.message));
}
template <class V>
void fields(const StmtImport& n, V& v) {
  v.children("names", n.names);
}
template <class V>
void fields(const StmtFromImport& n, V& v) {
  v.child("module", ref(n.module));
  v.children("names", n.names);
  v.value("level", n.level);
}
template <class V>
void fields(const StmtGlobal& n, V& v) {
  v.children("names", n.names);
}
template <class V>
void fields(const StmtNonlocal& n, V& v) {
  v.children("names", n.names);
}
template <class V>
void fields(const StmtExpression& n, V& v) {
  v.child("value", ref(n.value));
}
template <class V>
void fields(const StmtPass&, V&) {}
template <class V>
void fields(const StmtBreak&, V&) {}
template <class V>
void fields(const StmtContinue&, V&) {}
template <class V>
void fields(const StmtIpyEscapeCommand& n, V& v) {
  v.value("value", n.value);
  v.value("kind", n.kind);
}

template <class V>
void fields(const Decorator& n, V& v) {
  v.child("expression", ref(n.expression));
}
template <class V>
void fields(const ElifElseClause& n, V& v) {
  v.child("test", ref(n.test));
  v.children("body", n.body);
}
template <class V>
void fields(const ExceptHandlerExceptHandler& n, V& v) {
  v.child("type_", ref(n.type));
  v.child("name", ref(n.name));
  v.children("body", n.body);
}

// ---------------------------------------------------------------------------
// Expressions.

template <class V>
void fields(const ExprBooleanOperation& n, V& v) {
  v.children("values", n.values);
  v.value("op", n.op);
}
template <class V>
void fields(const ExprAssignment& n, V& v) {
  v.child("target", ref(n.target));
  v.child("value", ref(n.value));
}
template <class V>
void fields(const ExprBinOp& n, V& v) {
  v.child("left", ref(n.left));
  v.value("op", n.op);
  v.child("right", ref(n.right));
}
template <class V>
void fields(const ExprUnaryOp& n, V& v) {
  v.value("op", n.op);
  v.child("operand", ref(n.operand));
}
template <class V>
void fields(const ExprLambda& n, V& v) {
  v.child("parameters", ref(n.parameters));
  v.child("body", ref(n.body));
}
template <class V>
void fields(const ExprConditional& n, V& v) {
  if constexpr (V::kSourceOrder) {
    v.child("body", ref(n.body));
    v.child("test", ref(n.test));
  } else {
    v.child("test", ref(n.test));
    v.child("body", ref(n.body));
  }
  v.child("orelse", ref(n.orelse));
}
template <class V>
void fields(const ExprDict& n, V& v) {
  v.children("items", n.items);
}
template <class V>
void fields(const ExprSet& n, V& v) {
  v.children("elements", n.elements);
}
template <class V>
void fields(const ExprListComprehension& n, V& v) {
  v.child("element", ref(n.element));
  v.children("generators", n.generators);
}
template <class V>
void fields(const ExprSetComprehension& n, V& v) {
  v.child("element", ref(n.element));
  v.children("generators", n.generators);
}
template <class V>
void fields(const ExprDictComprehension& n, V& v) {
  v.child("key", ref(n.key));
  v.child("value", ref(n.value));
  v.children("generators", n.generators);
}
template <class V>
void fields(const ExprGenerator& n, V& v) {
  v.child("element", ref(n.element));
  v.children("generators", n.generators);
  v.value("parenthesized", n.parenthesized);
}
template <class V>
void fields(const ExprAwait& n, V& v) {
  v.child("value", ref(n.value));
}
template <class V>
void fields(const ExprYield& n, V& v) {
  v.child("value", ref(n.value));
}
template <class V>
void fields(const ExprYieldFrom& n, V& v) {
  v.child("value", ref(n.value));
}
template <class V>
void fields(const ExprComparison& n, V& v) {
  v.child("left", ref(n.left));
  v.value("ops", std::span<const ComparisonOperator>(n.ops));
  v.children("comparators", n.comparators);
}
template <class V>
void fields(const ExprCall& n, V& v) {
  v.child("function", ref(n.function));
  v.child("arguments", AnyNodeRef(n.arguments));
}
template <class V>
void fields(const ExprFString& n, V& v) {
  v.children("parts", n.value.parts());
}
template <class V>
void fields(const ExprTString& n, V& v) {
  v.children("parts", n.value.parts());
}
template <class V>
void fields(const ExprStringLiteral& n, V& v) {
  v.value("value", n.value.to_str());
  v.children("parts", n.value.parts());
}
template <class V>
void fields(const ExprBytesLiteral& n, V& v) {
  v.children("parts", n.value.parts());
}
template <class V>
void fields(const ExprNumberLiteral& n, V& v) {
  v.value("value", n.value);
}
template <class V>
void fields(const ExprBooleanLiteral& n, V& v) {
  v.value("value", n.value);
}
template <class V>
void fields(const ExprNoneLiteral&, V&) {}
template <class V>
void fields(const ExprEllipsisLiteral&, V&) {}
template <class V>
void fields(const ExprAttribute& n, V& v) {
  v.child("value", ref(n.value));
  v.child("attribute", AnyNodeRef(n.attribute));
  v.value("ctx", n.ctx);
}
template <class V>
void fields(const ExprSubscript& n, V& v) {
  v.child("value", ref(n.value));
  v.child("slice", ref(n.slice));
  v.value("ctx", n.ctx);
}
template <class V>
void fields(const ExprStarred& n, V& v) {
  v.child("value", ref(n.value));
  v.value("ctx", n.ctx);
}
template <class V>
void fields(const ExprName& n, V& v) {
  v.value("id", n.id.as_str());
  v.value("ctx", n.ctx);
}
template <class V>
void fields(const ExprList& n, V& v) {
  v.children("elements", n.elements);
  v.value("ctx", n.ctx);
}
template <class V>
void fields(const ExprTuple& n, V& v) {
  v.children("elements", n.elements);
  v.value("ctx", n.ctx);
  v.value("parenthesized", n.parenthesized);
}
template <class V>
void fields(const ExprSlice& n, V& v) {
  v.child("lower", ref(n.lower));
  v.child("upper", ref(n.upper));
  v.child("step", ref(n.step));
}
template <class V>
void fields(const ExprIpyEscapeCommand& n, V& v) {
  v.value("value", n.value);
  v.value("kind", n.kind);
}

template <class V>
void fields(const Arguments& n, V& v) {
  if constexpr (V::kSourceOrder) {
    v.merged(n.args, n.keywords, Merge::ByStart);
  } else {
    v.children("args", n.args);
    v.children("keywords", n.keywords);
  }
}
template <class V>
void fields(const Keyword& n, V& v) {
  v.child("arg", ref(n.arg));
  v.child("value", ref(n.value));
}
template <class V>
void fields(const Comprehension& n, V& v) {
  v.child("target", ref(n.target));
  v.child("iter", ref(n.iter));
  v.children("conditions", n.conditions);
  v.value("is_async", n.is_async);
}
template <class V>
void fields(const DictItem& n, V& v) {
  v.child("key", ref(n.key));
  v.child("value", ref(n.value));
}

// ---------------------------------------------------------------------------
// Strings.

template <class V>
void fields(const StringLiteral& n, V& v) {
  v.value("value", n.value);
  v.value("flags", n.flags);
}
template <class V>
void fields(const BytesLiteral& n, V& v) {
  v.value("value", BytesValue{n.value});
  v.value("flags", n.flags);
}
template <class V>
void fields(const FStringLiteralPart& n, V& v) {
  v.children("elements", n.elements);
  v.value("flags", n.flags);
}
template <class V>
void fields(const TString& n, V& v) {
  v.children("elements", n.elements);
  v.value("flags", n.flags);
}
template <class V>
void fields(const InterpolatedStringLiteralElement& n, V& v) {
  v.value("value", n.value);
}
template <class V>
void fields(const Interpolation& n, V& v) {
  v.child("expression", ref(n.expression));
  v.value("debug_text", n.debug_text);
  v.value("conversion", n.conversion);
  v.child("format_spec", ref(n.format_spec));
}
template <class V>
void fields(const InterpolatedStringFormatSpec& n, V& v) {
  v.children("elements", n.elements);
}

// ---------------------------------------------------------------------------
// Patterns.

template <class V>
void fields(const PatternValue& n, V& v) {
  v.child("value", ref(n.value));
}
template <class V>
void fields(const PatternSingleton& n, V& v) {
  v.value("value", n.value);
}
template <class V>
void fields(const PatternSequence& n, V& v) {
  v.children("patterns", n.patterns);
}
template <class V>
void fields(const PatternMapping& n, V& v) {
  if constexpr (V::kSourceOrder) {
    v.merged(n.keys, n.patterns, Merge::Alternate);
  } else {
    v.children("keys", n.keys);
    v.children("patterns", n.patterns);
  }
  v.child("rest", ref(n.rest));
}
template <class V>
void fields(const PatternClass& n, V& v) {
  v.child("cls", ref(n.cls));
  v.child("arguments", AnyNodeRef(n.arguments));
}
template <class V>
void fields(const PatternStar& n, V& v) {
  v.child("name", ref(n.name));
}
template <class V>
void fields(const PatternAs& n, V& v) {
  v.child("pattern", ref(n.pattern));
  v.child("name", ref(n.name));
}
template <class V>
void fields(const PatternOr& n, V& v) {
  v.children("patterns", n.patterns);
}
template <class V>
void fields(const PatternArguments& n, V& v) {
  if constexpr (V::kSourceOrder) {
    v.merged(n.patterns, n.keywords, Merge::ByStart);
  } else {
    v.children("patterns", n.patterns);
    v.children("keywords", n.keywords);
  }
}
template <class V>
void fields(const PatternKeyword& n, V& v) {
  v.child("attribute", AnyNodeRef(n.attribute));
  v.child("pattern", ref(n.pattern));
}
template <class V>
void fields(const MatchCase& n, V& v) {
  v.child("pattern", ref(n.pattern));
  v.child("guard", ref(n.guard));
  v.children("body", n.body);
}

// ---------------------------------------------------------------------------
// Parameters, type parameters, aliases, with items, identifiers.

template <class V>
void fields(const Parameters& n, V& v) {
  v.children("positional_only", n.positional_only);
  v.children("positional", n.positional);
  v.child("var_positional", ref(n.var_positional));
  v.children("keyword_only", n.keyword_only);
  v.child("var_keyword", ref(n.var_keyword));
}
template <class V>
void fields(const ParameterWithDefault& n, V& v) {
  v.child("parameter", AnyNodeRef(n.parameter));
  v.child("default", ref(n.default_value));
}
template <class V>
void fields(const Parameter& n, V& v) {
  v.child("name", AnyNodeRef(n.name));
  v.child("annotation", ref(n.annotation));
}
template <class V>
void fields(const TypeParams& n, V& v) {
  v.children("type_params", n.type_params);
}
template <class V>
void fields(const TypeParamSingle& n, V& v) {
  v.child("name", AnyNodeRef(n.name));
  v.child("bound", ref(n.bound));
  v.child("default", ref(n.default_value));
}
template <class V>
void fields(const TypeParamStar& n, V& v) {
  v.child("name", AnyNodeRef(n.name));
  v.child("default", ref(n.default_value));
}
template <class V>
void fields(const TypeParamDoubleStar& n, V& v) {
  v.child("name", AnyNodeRef(n.name));
  v.child("default", ref(n.default_value));
}
template <class V>
void fields(const Alias& n, V& v) {
  v.child("name", AnyNodeRef(n.name));
  v.child("as_name", ref(n.as_name));
}
template <class V>
void fields(const WithItem& n, V& v) {
  v.child("context_expression", ref(n.context_expression));
  v.child("target", ref(n.target));
}
template <class V>
void fields(const Identifier& n, V& v) {
  v.value("id", n.id.as_str());
}

// ---------------------------------------------------------------------------

// Calls `fields` of the record `node` refers to.
template <class V>
void visit_fields(AnyNodeRef node, V& v) {
  switch (node.type()) {
#define TOLVA_VISIT_KIND(kind, record, ...) \
  case NodeType::record:                    \
    fields(*node.as<record>(), v);          \
    break;
#define TOLVA_VISIT_RECORD(record) \
  case NodeType::record:           \
    fields(*node.as<record>(), v); \
    break;
    TOLVA_MOD_KINDS(TOLVA_VISIT_KIND)
    TOLVA_STMT_KINDS(TOLVA_VISIT_KIND)
    TOLVA_EXPR_KINDS(TOLVA_VISIT_KIND)
    TOLVA_PATTERN_KINDS(TOLVA_VISIT_KIND)
    TOLVA_EXCEPT_HANDLER_KINDS(TOLVA_VISIT_KIND)
    TOLVA_TYPE_PARAM_KINDS(TOLVA_VISIT_KIND)
    TOLVA_INTERPOLATED_STRING_ELEMENT_KINDS(TOLVA_VISIT_KIND)
    TOLVA_RECORD_NODES(TOLVA_VISIT_RECORD)
#undef TOLVA_VISIT_KIND
#undef TOLVA_VISIT_RECORD
  }
}

}  // namespace python_ast::fields_detail
