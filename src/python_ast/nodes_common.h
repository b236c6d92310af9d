#pragma once

// What every syntax-tree header shares: the kind tables of the node families,
// the operator and context enumerations, and the small value enumerations
// that nodes carry.
//
// Layout of the tree, stated once:
//   - Nodes live in the parse's Arena and are trivially destructible: freeing
//     a parse is freeing its arena, so no destructor ever recurses over a
//     deep tree.
//   - A node family (`Mod`, `Stmt`, `Expr`, `Pattern`, `ExceptHandler`,
//     `TypeParam`, `InterpolatedStringElement`) is a base struct holding the
//     common header (node index, range, private kind tag); each variant is a
//     record deriving from it. Children are pointers to the base, so a child
//     costs one word wherever it stands and any variant can sit in any slot;
//     an absent optional child is nullptr. The header is readable without
//     looking at the variant, and `as<T>()` / `cast<T>()` are the checked
//     downcasts.
//   - Records that are not families (`Decorator`, `Keyword`, `Alias`, ...)
//     are stored by value, in their parent or in arena spans.
//   - Lists are `std::span`s over arena arrays; texts are `std::string_view`s
//     of the source or of arena text. Nothing in a node owns memory.
//
// Every kind table below is the single source of truth for its family: the
// enumeration, the record names (used by dumps) and the node-type numbering
// of the walk are generated from it. Table order is the numbering.

#include <cstdint>
#include <ostream>
#include <string_view>

#include "support/result.h"

namespace python_ast {

// ---------------------------------------------------------------------------
// Kind tables: X(Kind, Record[, description]).

#define TOLVA_MOD_KINDS(X) \
  X(Module, ModModule)     \
  X(Expression, ModExpression)

#define TOLVA_STMT_KINDS(X)                             \
  X(FunctionDefinition, StmtFunctionDefinition)         \
  X(ClassDefinition, StmtClassDefinition)               \
  X(Return, StmtReturn)                                 \
  X(Delete, StmtDelete)                                 \
  X(TypeAlias, StmtTypeAlias)                           \
  X(Assignment, StmtAssignment)                         \
  X(AugmentedAssignment, StmtAugmentedAssignment)       \
  X(AnnotatedAssignment, StmtAnnotatedAssignment)       \
  X(For, StmtFor)                                       \
  X(While, StmtWhile)                                   \
  X(If, StmtIf)                                         \
  X(With, StmtWith)                                     \
  X(Match, StmtMatch)                                   \
  X(Raise, StmtRaise)                                   \
  X(Try, StmtTry)                                       \
  X(Assert, StmtAssert)                                 \
  X(Import, StmtImport)                                 \
  X(FromImport, StmtFromImport)                         \
  X(Global, StmtGlobal)                                 \
  X(Nonlocal, StmtNonlocal)                             \
  X(Expression, StmtExpression)                         \
  X(Pass, StmtPass)                                     \
  X(Break, StmtBreak)                                   \
  X(Continue, StmtContinue)                             \
  X(IpyEscapeCommand, StmtIpyEscapeCommand)

// The third column is the description that messages about an expression as
// a whole use; empty where the variant has none (calls, attributes, names).
// A number literal's description depends on its value's kind.
#define TOLVA_EXPR_KINDS(X)                                                  \
  X(BooleanOperation, ExprBooleanOperation, "boolean expression")            \
  X(Assignment, ExprAssignment, "assignment expression")                     \
  X(BinOp, ExprBinOp, "binary-operation expression")                         \
  X(UnaryOp, ExprUnaryOp, "unary-operation expression")                      \
  X(Lambda, ExprLambda, "lambda expression")                                 \
  X(Conditional, ExprConditional, "conditional expression")                  \
  X(Dict, ExprDict, "a dict literal")                                        \
  X(Set, ExprSet, "a set literal")                                           \
  X(ListComprehension, ExprListComprehension, "a list comprehension")        \
  X(SetComprehension, ExprSetComprehension, "a set comprehension")           \
  X(DictComprehension, ExprDictComprehension, "a dict comprehension")        \
  X(Generator, ExprGenerator, "generator expression")                        \
  X(Await, ExprAwait, "`await` expression")                                  \
  X(Yield, ExprYield, "`yield` expression")                                  \
  X(YieldFrom, ExprYieldFrom, "`yield from` expression")                     \
  X(Comparison, ExprComparison, "comparison expression")                     \
  X(Call, ExprCall, "")                                                      \
  X(FString, ExprFString, "f-string")                                        \
  X(TString, ExprTString, "t-string")                                        \
  X(StringLiteral, ExprStringLiteral, "a string literal")                    \
  X(BytesLiteral, ExprBytesLiteral, "a bytes literal")                       \
  X(NumberLiteral, ExprNumberLiteral, "")                                    \
  X(BooleanLiteral, ExprBooleanLiteral, "a boolean literal")                 \
  X(NoneLiteral, ExprNoneLiteral, "a `None` literal")                        \
  X(EllipsisLiteral, ExprEllipsisLiteral, "an ellipsis literal")             \
  X(Attribute, ExprAttribute, "")                                            \
  X(Subscript, ExprSubscript, "subscript expression")                        \
  X(Starred, ExprStarred, "starred expression")                              \
  X(Name, ExprName, "")                                                      \
  X(List, ExprList, "a list literal")                                        \
  X(Tuple, ExprTuple, "a tuple literal")                                     \
  X(Slice, ExprSlice, "slice expression")                                    \
  X(IpyEscapeCommand, ExprIpyEscapeCommand, "IPython escape command")

#define TOLVA_PATTERN_KINDS(X)    \
  X(Value, PatternValue)          \
  X(Singleton, PatternSingleton)  \
  X(Sequence, PatternSequence)    \
  X(Mapping, PatternMapping)      \
  X(Class, PatternClass)          \
  X(Star, PatternStar)            \
  X(As, PatternAs)                \
  X(Or, PatternOr)

#define TOLVA_EXCEPT_HANDLER_KINDS(X) X(ExceptHandler, ExceptHandlerExceptHandler)

#define TOLVA_TYPE_PARAM_KINDS(X) \
  X(Single, TypeParamSingle)      \
  X(Star, TypeParamStar)          \
  X(DoubleStar, TypeParamDoubleStar)

#define TOLVA_INTERPOLATED_STRING_ELEMENT_KINDS(X) \
  X(Literal, InterpolatedStringLiteralElement)     \
  X(Interpolation, Interpolation)

// Node records that are not families. `DictItem` has no range and no node
// index: it is listed so that walks and dumps can pass through it, but a walk
// never reports it as a node.
#define TOLVA_RECORD_NODES(X)      \
  X(Decorator)                     \
  X(ElifElseClause)                \
  X(MatchCase)                     \
  X(Arguments)                     \
  X(Keyword)                       \
  X(Comprehension)                 \
  X(DictItem)                      \
  X(Parameters)                    \
  X(ParameterWithDefault)          \
  X(Parameter)                     \
  X(TypeParams)                    \
  X(Alias)                         \
  X(WithItem)                      \
  X(PatternArguments)              \
  X(PatternKeyword)                \
  X(StringLiteral)                 \
  X(BytesLiteral)                  \
  X(FStringLiteralPart)            \
  X(TString)                       \
  X(InterpolatedStringFormatSpec)  \
  X(Identifier)

// ---------------------------------------------------------------------------
// Family kinds, numbered as their tables.

#define TOLVA_KIND_ENUMERATOR(kind, ...) kind,

enum class ModKind : std::uint8_t { TOLVA_MOD_KINDS(TOLVA_KIND_ENUMERATOR) };
enum class StmtKind : std::uint8_t { TOLVA_STMT_KINDS(TOLVA_KIND_ENUMERATOR) };
enum class ExprKind : std::uint8_t { TOLVA_EXPR_KINDS(TOLVA_KIND_ENUMERATOR) };
enum class PatternKind : std::uint8_t { TOLVA_PATTERN_KINDS(TOLVA_KIND_ENUMERATOR) };
enum class ExceptHandlerKind : std::uint8_t { TOLVA_EXCEPT_HANDLER_KINDS(TOLVA_KIND_ENUMERATOR) };
enum class TypeParamKind : std::uint8_t { TOLVA_TYPE_PARAM_KINDS(TOLVA_KIND_ENUMERATOR) };
enum class InterpolatedStringElementKind : std::uint8_t {
  TOLVA_INTERPOLATED_STRING_ELEMENT_KINDS(TOLVA_KIND_ENUMERATOR)
};

#undef TOLVA_KIND_ENUMERATOR

static_assert(static_cast<int>(StmtKind::IpyEscapeCommand) == 24, "25 statement variants");
static_assert(static_cast<int>(ExprKind::IpyEscapeCommand) == 32, "33 expression variants");
static_assert(static_cast<int>(PatternKind::Or) == 7, "8 pattern variants");

// The record name of each kind ("StmtFor", "ExprBinOp", ...).
std::string_view kind_name(ModKind kind);
std::string_view kind_name(StmtKind kind);
std::string_view kind_name(ExprKind kind);
std::string_view kind_name(PatternKind kind);
std::string_view kind_name(ExceptHandlerKind kind);
std::string_view kind_name(TypeParamKind kind);
std::string_view kind_name(InterpolatedStringElementKind kind);

// ---------------------------------------------------------------------------
// Every concrete node record, one number each: the families in table order,
// then the other records. Walks and dumps identify nodes by it.

#define TOLVA_NODE_TYPE_OF_KIND(kind, record, ...) record,
#define TOLVA_NODE_TYPE_OF_RECORD(record) record,

enum class NodeType : std::uint8_t {
  TOLVA_MOD_KINDS(TOLVA_NODE_TYPE_OF_KIND)
  TOLVA_STMT_KINDS(TOLVA_NODE_TYPE_OF_KIND)
  TOLVA_EXPR_KINDS(TOLVA_NODE_TYPE_OF_KIND)
  TOLVA_PATTERN_KINDS(TOLVA_NODE_TYPE_OF_KIND)
  TOLVA_EXCEPT_HANDLER_KINDS(TOLVA_NODE_TYPE_OF_KIND)
  TOLVA_TYPE_PARAM_KINDS(TOLVA_NODE_TYPE_OF_KIND)
  TOLVA_INTERPOLATED_STRING_ELEMENT_KINDS(TOLVA_NODE_TYPE_OF_KIND)
  TOLVA_RECORD_NODES(TOLVA_NODE_TYPE_OF_RECORD)
};

#undef TOLVA_NODE_TYPE_OF_KIND
#undef TOLVA_NODE_TYPE_OF_RECORD

// The record name of a node type: "ExprCall", "Keyword", "Identifier", ...
std::string_view node_type_name(NodeType type);

// The node type of a family variant: the family's first type plus the kind.
constexpr NodeType node_type_of(ModKind kind) {
  return static_cast<NodeType>(static_cast<int>(NodeType::ModModule) + static_cast<int>(kind));
}
constexpr NodeType node_type_of(StmtKind kind) {
  return static_cast<NodeType>(static_cast<int>(NodeType::StmtFunctionDefinition) + static_cast<int>(kind));
}
constexpr NodeType node_type_of(ExprKind kind) {
  return static_cast<NodeType>(static_cast<int>(NodeType::ExprBooleanOperation) + static_cast<int>(kind));
}
constexpr NodeType node_type_of(PatternKind kind) {
  return static_cast<NodeType>(static_cast<int>(NodeType::PatternValue) + static_cast<int>(kind));
}
constexpr NodeType node_type_of(ExceptHandlerKind kind) {
  return static_cast<NodeType>(static_cast<int>(NodeType::ExceptHandlerExceptHandler) + static_cast<int>(kind));
}
constexpr NodeType node_type_of(TypeParamKind kind) {
  return static_cast<NodeType>(static_cast<int>(NodeType::TypeParamSingle) + static_cast<int>(kind));
}
constexpr NodeType node_type_of(InterpolatedStringElementKind kind) {
  return static_cast<NodeType>(static_cast<int>(NodeType::InterpolatedStringLiteralElement) +
                               static_cast<int>(kind));
}

// ---------------------------------------------------------------------------
// Operators, numbered as the corresponding enumerations of Python's own `ast`
// module. X(Enumerator, "source text").

#define TOLVA_BOOLEAN_OPERATORS(X) \
  X(And, "and")                    \
  X(Or, "or")

#define TOLVA_BINARY_OPERATORS(X) \
  X(Add, "+")                     \
  X(Sub, "-")                     \
  X(Mult, "*")                    \
  X(MatMult, "@")                 \
  X(Div, "/")                     \
  X(Mod, "%")                     \
  X(Pow, "**")                    \
  X(LShift, "<<")                 \
  X(RShift, ">>")                 \
  X(BitOr, "|")                   \
  X(BitXor, "^")                  \
  X(BitAnd, "&")                  \
  X(FloorDiv, "//")

#define TOLVA_COMPARISON_OPERATORS(X) \
  X(Eq, "==")                         \
  X(NotEq, "!=")                      \
  X(Lt, "<")                          \
  X(LtE, "<=")                        \
  X(Gt, ">")                          \
  X(GtE, ">=")                        \
  X(Is, "is")                         \
  X(IsNot, "is not")                  \
  X(In, "in")                         \
  X(NotIn, "not in")

#define TOLVA_UNARY_OPERATORS(X) \
  X(Invert, "~")                 \
  X(Not, "not")                  \
  X(UAdd, "+")                   \
  X(USub, "-")

#define TOLVA_OPERATOR_ENUMERATOR(name, text) name,

enum class BooleanOperator : std::uint8_t { TOLVA_BOOLEAN_OPERATORS(TOLVA_OPERATOR_ENUMERATOR) };
// Also the operator of an augmented assignment.
enum class BinaryOperator : std::uint8_t { TOLVA_BINARY_OPERATORS(TOLVA_OPERATOR_ENUMERATOR) };
enum class ComparisonOperator : std::uint8_t { TOLVA_COMPARISON_OPERATORS(TOLVA_OPERATOR_ENUMERATOR) };
enum class UnaryOp : std::uint8_t { TOLVA_UNARY_OPERATORS(TOLVA_OPERATOR_ENUMERATOR) };

#undef TOLVA_OPERATOR_ENUMERATOR

// The source text: "and", "+", "not in", "~"; unary plus and minus are "+"
// and "-", and unary not is the three letters "not".
std::string_view as_str(BooleanOperator op);
std::string_view as_str(BinaryOperator op);
std::string_view as_str(ComparisonOperator op);
std::string_view as_str(UnaryOp op);

// Write the source text (the display of the operator).
std::ostream& operator<<(std::ostream& out, BooleanOperator op);
std::ostream& operator<<(std::ostream& out, BinaryOperator op);
std::ostream& operator<<(std::ostream& out, ComparisonOperator op);
std::ostream& operator<<(std::ostream& out, UnaryOp op);

// ---------------------------------------------------------------------------
// Small value enumerations carried by nodes.

// Carried by names, attributes, subscripts, starred expressions, lists and
// tuples. `Invalid` marks a name that error recovery made up.
enum class ExpressionContext : std::uint8_t { Load, Store, Del, Invalid };

// The conversion of an interpolation: the character code of its letter.
enum class Conversion : std::int8_t { None = -1, Ascii = 97, Repr = 114, Str = 115 };

// The value of a singleton pattern.
enum class PatternSingletonValue : std::uint8_t { None, True, False };

// The prefix of an IPython escape command. The help kinds are the two
// question-mark forms, the magic kinds the two percent forms.
enum class IpyEscapeKind : std::uint8_t {
  Exclamation,        // "!"
  DoubleExclamation,  // "!!"
  Question,           // "?"
  DoubleQuestion,     // "??"
  Percent,            // "%"
  DoublePercent,      // "%%"
  Comma,              // ","
  Semi,               // ";"
  Slash,              // "/"
};

// The kind of a one-character prefix ("!", "?", "%", ",", ";", "/"); any
// other character is the error "Unexpected magic escape: {c}".
tolva::Result<IpyEscapeKind> ipy_escape_kind_try_from(char32_t c);
// The kind of a two-character prefix ("!!", "%%", "??"); any other pair is
// the error "Unexpected magic escape: {first}{second}".
tolva::Result<IpyEscapeKind> ipy_escape_kind_try_from(char32_t first, char32_t second);

// Enumerator names, as dumps print them: "Add", "NotIn", "USub", "Store",
// "Repr", "DoublePercent", "None", ...
std::string_view enum_name(BooleanOperator op);
std::string_view enum_name(BinaryOperator op);
std::string_view enum_name(ComparisonOperator op);
std::string_view enum_name(UnaryOp op);
std::string_view enum_name(ExpressionContext ctx);
std::string_view enum_name(Conversion conversion);
std::string_view enum_name(PatternSingletonValue value);
std::string_view enum_name(IpyEscapeKind kind);

std::ostream& operator<<(std::ostream& out, ExpressionContext ctx);
std::ostream& operator<<(std::ostream& out, Conversion conversion);
std::ostream& operator<<(std::ostream& out, PatternSingletonValue value);
std::ostream& operator<<(std::ostream& out, IpyEscapeKind kind);

// ---------------------------------------------------------------------------
// Forward declarations of every node type.

struct Mod;
struct Stmt;
struct Expr;
struct Pattern;
struct ExceptHandler;
struct TypeParam;
struct InterpolatedStringElement;

#define TOLVA_DECLARE_RECORD_OF_KIND(kind, record, ...) struct record;
#define TOLVA_DECLARE_RECORD(record) struct record;
TOLVA_MOD_KINDS(TOLVA_DECLARE_RECORD_OF_KIND)
TOLVA_STMT_KINDS(TOLVA_DECLARE_RECORD_OF_KIND)
TOLVA_EXPR_KINDS(TOLVA_DECLARE_RECORD_OF_KIND)
TOLVA_PATTERN_KINDS(TOLVA_DECLARE_RECORD_OF_KIND)
TOLVA_EXCEPT_HANDLER_KINDS(TOLVA_DECLARE_RECORD_OF_KIND)
TOLVA_TYPE_PARAM_KINDS(TOLVA_DECLARE_RECORD_OF_KIND)
TOLVA_INTERPOLATED_STRING_ELEMENT_KINDS(TOLVA_DECLARE_RECORD_OF_KIND)
TOLVA_RECORD_NODES(TOLVA_DECLARE_RECORD)
#undef TOLVA_DECLARE_RECORD_OF_KIND
#undef TOLVA_DECLARE_RECORD

namespace nodes_detail {
// Throws FatalError "expected {expected}, found {found}" for a downcast to
// the wrong variant.
[[noreturn]] void wrong_variant(std::string_view expected, std::string_view found);
}  // namespace nodes_detail

}  // namespace python_ast
