#pragma once

// The records between statements and expressions: parameter lists, type
// parameters, import aliases and with items.

#include <cstddef>
#include <iterator>
#include <optional>
#include <span>

#include "python_ast/identifier.h"
#include "python_ast/nodes_family.h"

namespace python_ast {

// One parameter: its name (empty when recovery had to invent it) and its
// annotation (nullptr when absent; never present in a lambda). For `*name`
// and `**name` the range begins at the star.
struct Parameter {
  TOLVA_NODE_RECORD(Parameter)

  AtomicNodeIndex node_index;
  text_size::TextRange range;
  Identifier name;
  Expr* annotation = nullptr;

  Parameter() = default;
  Parameter(text_size::TextRange range, Identifier name, Expr* annotation)
      : range(range), name(name), annotation(annotation) {}
};

// A named, non-variadic parameter with its default (nullptr when absent).
struct ParameterWithDefault {
  TOLVA_NODE_RECORD(ParameterWithDefault)

  AtomicNodeIndex node_index;
  text_size::TextRange range;
  Parameter parameter;
  Expr* default_value = nullptr;  // `default`

  ParameterWithDefault() = default;
  ParameterWithDefault(text_size::TextRange range, const Parameter& parameter, Expr* default_value)
      : range(range), parameter(parameter), default_value(default_value) {}
};

// The parameters of one `Parameters` record in declaration order: every
// positional-only one, every positional one, the `*name` parameter, every
// keyword-only one, the `**name` parameter. Five cursors, no allocation.
class ParametersIterator {
 public:
  using iterator_category = std::forward_iterator_tag;
  using value_type = Parameter;
  using difference_type = std::ptrdiff_t;
  using pointer = const Parameter*;
  using reference = const Parameter&;

  ParametersIterator() = default;
  explicit ParametersIterator(const Parameters& parameters);

  reference operator*() const { return *current_; }
  pointer operator->() const { return current_; }
  ParametersIterator& operator++() {
    advance();
    return *this;
  }
  ParametersIterator operator++(int) {
    ParametersIterator before = *this;
    advance();
    return before;
  }
  // Iterators compare by the parameter they stand on; the end stands on none.
  bool operator==(const ParametersIterator& other) const { return current_ == other.current_; }
  bool operator==(std::default_sentinel_t) const { return current_ == nullptr; }

  ParametersIterator begin() const { return *this; }
  std::default_sentinel_t end() const { return {}; }

 private:
  void advance();

  std::span<const ParameterWithDefault> positional_only_;
  std::span<const ParameterWithDefault> positional_;
  const Parameter* var_positional_ = nullptr;
  std::span<const ParameterWithDefault> keyword_only_;
  const Parameter* var_keyword_ = nullptr;
  const Parameter* current_ = nullptr;
};

// The parameter list of a `def` or a lambda. For a `def` the range runs from
// "(" through ")"; for a lambda from the first token after `lambda` through
// the last parameter.
struct Parameters {
  TOLVA_NODE_RECORD(Parameters)

  AtomicNodeIndex node_index;
  text_size::TextRange range;
  std::span<ParameterWithDefault> positional_only;
  std::span<ParameterWithDefault> positional;
  Parameter* var_positional = nullptr;  // optional
  std::span<ParameterWithDefault> keyword_only;
  Parameter* var_keyword = nullptr;  // optional

  Parameters() = default;
  Parameters(text_size::TextRange range, std::span<ParameterWithDefault> positional_only,
             std::span<ParameterWithDefault> positional, Parameter* var_positional,
             std::span<ParameterWithDefault> keyword_only, Parameter* var_keyword)
      : range(range),
        positional_only(positional_only),
        positional(positional),
        var_positional(var_positional),
        keyword_only(keyword_only),
        var_keyword(var_keyword) {}

  // Every parameter in declaration order (see ParametersIterator):
  //   for (const Parameter& parameter : parameters.iter()) ...
  ParametersIterator iter() const { return ParametersIterator(*this); }
};

inline ParametersIterator::ParametersIterator(const Parameters& parameters)
    : positional_only_(parameters.positional_only),
      positional_(parameters.positional),
      var_positional_(parameters.var_positional),
      keyword_only_(parameters.keyword_only),
      var_keyword_(parameters.var_keyword) {
  advance();
}

inline void ParametersIterator::advance() {
  if (!positional_only_.empty()) {
    current_ = &positional_only_.front().parameter;
    positional_only_ = positional_only_.subspan(1);
  } else if (!positional_.empty()) {
    current_ = &positional_.front().parameter;
    positional_ = positional_.subspan(1);
  } else if (var_positional_ != nullptr) {
    current_ = var_positional_;
    var_positional_ = nullptr;
  } else if (!keyword_only_.empty()) {
    current_ = &keyword_only_.front().parameter;
    keyword_only_ = keyword_only_.subspan(1);
  } else if (var_keyword_ != nullptr) {
    current_ = var_keyword_;
    var_keyword_ = nullptr;
  } else {
    current_ = nullptr;
  }
}

// The base of the three type parameter forms. Each runs from its first
// token (the name, `*` or `**`) through its last.
struct TypeParam {
  TOLVA_NODE_FAMILY_BASE(TypeParam, TypeParamKind)
};

// `T`, `T: bound`, `T = default`, `T: bound = default`.
struct TypeParamSingle final : TypeParam {
  TOLVA_NODE_VARIANT(TypeParamKind, Single)
  Identifier name;
  Expr* bound;          // optional
  Expr* default_value;  // optional, `default`
  TypeParamSingle(text_size::TextRange range, Identifier name, Expr* bound, Expr* default_value)
      : TypeParam(kKind, range), name(name), bound(bound), default_value(default_value) {}
};

// `*Ts`, `*Ts = default`.
struct TypeParamStar final : TypeParam {
  TOLVA_NODE_VARIANT(TypeParamKind, Star)
  Identifier name;
  Expr* default_value;  // optional, `default`
  TypeParamStar(text_size::TextRange range, Identifier name, Expr* default_value)
      : TypeParam(kKind, range), name(name), default_value(default_value) {}
};

// `**P`, `**P = default`.
struct TypeParamDoubleStar final : TypeParam {
  TOLVA_NODE_VARIANT(TypeParamKind, DoubleStar)
  Identifier name;
  Expr* default_value;  // optional, `default`
  TypeParamDoubleStar(text_size::TextRange range, Identifier name, Expr* default_value)
      : TypeParam(kKind, range), name(name), default_value(default_value) {}
};

// A bracketed type parameter list, from "[" through "]"; empty only after an
// error.
struct TypeParams {
  TOLVA_NODE_RECORD(TypeParams)

  AtomicNodeIndex node_index;
  text_size::TextRange range;
  std::span<TypeParam*> type_params;

  TypeParams() = default;
  TypeParams(text_size::TextRange range, std::span<TypeParam*> type_params)
      : range(range), type_params(type_params) {}
};

// One imported name. In `import` the dotted module name joined by "."; in
// `from ... import` one identifier, or "*" for a star import.
struct Alias {
  TOLVA_NODE_RECORD(Alias)

  AtomicNodeIndex node_index;
  text_size::TextRange range;
  Identifier name;
  std::optional<Identifier> as_name;

  Alias() = default;
  Alias(text_size::TextRange range, Identifier name, std::optional<Identifier> as_name)
      : range(range), name(name), as_name(as_name) {}
};

// One item of a `with` statement; `target` (store context) is nullptr
// without `as`.
struct WithItem {
  TOLVA_NODE_RECORD(WithItem)

  AtomicNodeIndex node_index;
  text_size::TextRange range;
  Expr* context_expression = nullptr;
  Expr* target = nullptr;

  WithItem() = default;
  WithItem(text_size::TextRange range, Expr* context_expression, Expr* target)
      : range(range), context_expression(context_expression), target(target) {}
};

}  // namespace python_ast
