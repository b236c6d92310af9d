// The trees of `dump_fixtures`: each built by hand to match its source text
// byte for byte, with the dump it must give.

#include <span>

#include "test_support/python_ast/nodes.h"

namespace python_ast::testing {

namespace {

constexpr auto kLoad = ExpressionContext::Load;
constexpr auto kStore = ExpressionContext::Store;

StringLiteralFlags plain_flags(AnyStringPrefix prefix, Quote quote, TripleQuotes triple) {
  return StringLiteralFlags::from(AnyStringFlags(prefix, quote, triple));
}

}  // namespace

std::vector<DumpFixture> dump_fixtures(TreeBuilder& b) {
  using TB = TreeBuilder;
  std::vector<DumpFixture> out;
  auto add = [&](std::string_view source, AnyNodeRef root, std::string_view expected) {
    out.push_back(DumpFixture{source, root, expected});
  };
  auto pass = [&](std::uint32_t start) -> Stmt* { return b.make<StmtPass>(TB::r(start, start + 4)); };

  // ----- Modules and statements.
  add("x = 1\n",
      *b.module(6, {b.make<StmtAssignment>(TB::r(0, 5), b.exprs({b.name("x", 0, kStore)}), b.integer(1, 4, 5))}),
      R"({"type":"ModModule","range":[0,6],"body":[{"type":"StmtAssignment","range":[0,5],"targets":[{"type":"ExprName","range":[0,1],"id":"x","ctx":"Store"}],"value":{"type":"ExprNumberLiteral","range":[4,5],"value":{"kind":"Int","value":1}}}]})");

  add("x", *b.make<ModExpression>(TB::r(0, 1), b.name("x", 0)),
      R"({"type":"ModExpression","range":[0,1],"body":{"type":"ExprName","range":[0,1],"id":"x","ctx":"Load"}})");

  add("from . import x as y",
      *b.make<StmtFromImport>(TB::r(0, 20), std::nullopt,
                              b.list({Alias(TB::r(14, 20), TB::ident("x", 14), TB::ident("y", 19))}), 1),
      R"({"type":"StmtFromImport","range":[0,20],"module":null,"names":[{"type":"Alias","range":[14,20],"name":{"type":"Identifier","range":[14,15],"id":"x"},"as_name":{"type":"Identifier","range":[19,20],"id":"y"}}],"level":1})");

  add("@d\nclass C(B): pass",
      *b.make<StmtClassDefinition>(TB::r(0, 19), b.list({Decorator(TB::r(0, 2), b.name("d", 1))}), TB::ident("C", 9),
                                   nullptr, b.make<Arguments>(TB::r(10, 13), b.exprs({b.name("B", 11)}),
                                                              std::span<Keyword>{}),
                                   b.stmts({pass(15)})),
      R"({"type":"StmtClassDefinition","range":[0,19],"decorators":[{"type":"Decorator","range":[0,2],"expression":{"type":"ExprName","range":[1,2],"id":"d","ctx":"Load"}}],"name":{"type":"Identifier","range":[9,10],"id":"C"},"type_params":null,"arguments":{"type":"Arguments","range":[10,13],"args":[{"type":"ExprName","range":[11,12],"id":"B","ctx":"Load"}],"keywords":[]},"body":[{"type":"StmtPass","range":[15,19]}]})");

  add("if a: pass\nelif b: pass\nelse: pass",
      *b.make<StmtIf>(TB::r(0, 34), b.name("a", 3), b.stmts({pass(6)}),
                      b.list({ElifElseClause(TB::r(11, 23), b.name("b", 16), b.stmts({pass(19)})),
                              ElifElseClause(TB::r(24, 34), nullptr, b.stmts({pass(30)}))})),
      R"({"type":"StmtIf","range":[0,34],"test":{"type":"ExprName","range":[3,4],"id":"a","ctx":"Load"},"body":[{"type":"StmtPass","range":[6,10]}],"elif_else_clauses":[{"type":"ElifElseClause","range":[11,23],"test":{"type":"ExprName","range":[16,17],"id":"b","ctx":"Load"},"body":[{"type":"StmtPass","range":[19,23]}]},{"type":"ElifElseClause","range":[24,34],"test":null,"body":[{"type":"StmtPass","range":[30,34]}]}]})");

  add("try: pass\nexcept* E as e: pass",
      *b.make<StmtTry>(TB::r(0, 30), b.stmts({pass(5)}),
                       b.list<ExceptHandler*>({b.make<ExceptHandlerExceptHandler>(
                           TB::r(10, 30), b.name("E", 18), TB::ident("e", 23), b.stmts({pass(26)}))}),
                       std::span<Stmt*>{}, std::span<Stmt*>{}, true),
      R"({"type":"StmtTry","range":[0,30],"body":[{"type":"StmtPass","range":[5,9]}],"handlers":[{"type":"ExceptHandlerExceptHandler","range":[10,30],"type_":{"type":"ExprName","range":[18,19],"id":"E","ctx":"Load"},"name":{"type":"Identifier","range":[23,24],"id":"e"},"body":[{"type":"StmtPass","range":[26,30]}]}],"else_body":[],"finally_body":[],"is_star":true})");

  {
    // def f[T: int, *Ts, **P](a, /, b=1, *c, d, **e) -> None: ...
    auto param = [&](std::string_view name, std::uint32_t start, std::uint32_t name_start) {
      return Parameter(TB::r(start, name_start + static_cast<std::uint32_t>(name.size())),
                       TB::ident(name, name_start), nullptr);
    };
    Parameter a = param("a", 24, 24);
    Parameter bp = param("b", 30, 30);
    Parameter d = param("d", 39, 39);
    auto* parameters = b.make<Parameters>(
        TB::r(23, 46), b.list({ParameterWithDefault(TB::r(24, 25), a, nullptr)}),
        b.list({ParameterWithDefault(TB::r(30, 33), bp, b.integer(1, 32, 33))}), b.make<Parameter>(param("c", 35, 36)),
        b.list({ParameterWithDefault(TB::r(39, 40), d, nullptr)}), b.make<Parameter>(param("e", 42, 44)));
    auto* type_params = b.make<TypeParams>(
        TB::r(5, 23),
        b.list<TypeParam*>({b.make<TypeParamSingle>(TB::r(6, 12), TB::ident("T", 6), b.name("int", 9), nullptr),
                            b.make<TypeParamStar>(TB::r(14, 17), TB::ident("Ts", 15), nullptr),
                            b.make<TypeParamDoubleStar>(TB::r(19, 22), TB::ident("P", 21), nullptr)}));
    add("def f[T: int, *Ts, **P](a, /, b=1, *c, d, **e) -> None: ...",
        *b.make<StmtFunctionDefinition>(
            TB::r(0, 59), std::span<Decorator>{}, TB::ident("f", 4), type_params, parameters,
            b.make<ExprNoneLiteral>(TB::r(50, 54)),
            b.stmts({b.make<StmtExpression>(TB::r(56, 59), b.make<ExprEllipsisLiteral>(TB::r(56, 59)))}), false),
        R"({"type":"StmtFunctionDefinition","range":[0,59],"decorators":[],"name":{"type":"Identifier","range":[4,5],"id":"f"},"type_params":{"type":"TypeParams","range":[5,23],"type_params":[{"type":"TypeParamSingle","range":[6,12],"name":{"type":"Identifier","range":[6,7],"id":"T"},"bound":{"type":"ExprName","range":[9,12],"id":"int","ctx":"Load"},"default":null},{"type":"TypeParamStar","range":[14,17],"name":{"type":"Identifier","range":[15,17],"id":"Ts"},"default":null},{"type":"TypeParamDoubleStar","range":[19,22],"name":{"type":"Identifier","range":[21,22],"id":"P"},"default":null}]},"parameters":{"type":"Parameters","range":[23,46],"positional_only":[{"type":"ParameterWithDefault","range":[24,25],"parameter":{"type":"Parameter","range":[24,25],"name":{"type":"Identifier","range":[24,25],"id":"a"},"annotation":null},"default":null}],"positional":[{"type":"ParameterWithDefault","range":[30,33],"parameter":{"type":"Parameter","range":[30,31],"name":{"type":"Identifier","range":[30,31],"id":"b"},"annotation":null},"default":{"type":"ExprNumberLiteral","range":[32,33],"value":{"kind":"Int","value":1}}}],"var_positional":{"type":"Parameter","range":[35,37],"name":{"type":"Identifier","range":[36,37],"id":"c"},"annotation":null},"keyword_only":[{"type":"ParameterWithDefault","range":[39,40],"parameter":{"type":"Parameter","range":[39,40],"name":{"type":"Identifier","range":[39,40],"id":"d"},"annotation":null},"default":null}],"var_keyword":{"type":"Parameter","range":[42,45],"name":{"type":"Identifier","range":[44,45],"id":"e"},"annotation":null}},"returns":{"type":"ExprNoneLiteral","range":[50,54]},"body":[{"type":"StmtExpression","range":[56,59],"value":{"type":"ExprEllipsisLiteral","range":[56,59]}}],"is_async":false})");
  }

  add("match x:\n case _ if y: pass",
      *b.make<StmtMatch>(TB::r(0, 27), b.name("x", 6),
                         b.list({MatchCase(TB::r(10, 27), b.make<PatternAs>(TB::r(15, 16), nullptr, std::nullopt),
                                           b.name("y", 20), b.stmts({pass(23)}))})),
      R"({"type":"StmtMatch","range":[0,27],"subject":{"type":"ExprName","range":[6,7],"id":"x","ctx":"Load"},"cases":[{"type":"MatchCase","range":[10,27],"pattern":{"type":"PatternAs","range":[15,16],"pattern":null,"name":null},"guard":{"type":"ExprName","range":[20,21],"id":"y","ctx":"Load"},"body":[{"type":"StmtPass","range":[23,27]}]}]})");

  add("async with a as b, c: pass",
      *b.make<StmtWith>(TB::r(0, 26),
                        b.list({WithItem(TB::r(11, 17), b.name("a", 11), b.name("b", 16, kStore)),
                                WithItem(TB::r(19, 20), b.name("c", 19), nullptr)}),
                        b.stmts({pass(22)}), true),
      R"({"type":"StmtWith","range":[0,26],"items":[{"type":"WithItem","range":[11,17],"context_expression":{"type":"ExprName","range":[11,12],"id":"a","ctx":"Load"},"target":{"type":"ExprName","range":[16,17],"id":"b","ctx":"Store"}},{"type":"WithItem","range":[19,20],"context_expression":{"type":"ExprName","range":[19,20],"id":"c","ctx":"Load"},"target":null}],"body":[{"type":"StmtPass","range":[22,26]}],"is_async":true})");

  add("return", *b.make<StmtReturn>(TB::r(0, 6), nullptr), R"({"type":"StmtReturn","range":[0,6],"value":null})");

  add("del a, b",
      *b.make<StmtDelete>(TB::r(0, 8),
                          b.exprs({b.name("a", 4, ExpressionContext::Del), b.name("b", 7, ExpressionContext::Del)})),
      R"({"type":"StmtDelete","range":[0,8],"targets":[{"type":"ExprName","range":[4,5],"id":"a","ctx":"Del"},{"type":"ExprName","range":[7,8],"id":"b","ctx":"Del"}]})");

  add("type X[T] = T",
      *b.make<StmtTypeAlias>(
          TB::r(0, 13), b.name("X", 5, kStore),
          b.make<TypeParams>(TB::r(6, 9), b.list<TypeParam*>({b.make<TypeParamSingle>(TB::r(7, 8), TB::ident("T", 7),
                                                                                      nullptr, nullptr)})),
          b.name("T", 12)),
      R"({"type":"StmtTypeAlias","range":[0,13],"name":{"type":"ExprName","range":[5,6],"id":"X","ctx":"Store"},"type_params":{"type":"TypeParams","range":[6,9],"type_params":[{"type":"TypeParamSingle","range":[7,8],"name":{"type":"Identifier","range":[7,8],"id":"T"},"bound":null,"default":null}]},"value":{"type":"ExprName","range":[12,13],"id":"T","ctx":"Load"}})");

  add("x //= 2",
      *b.make<StmtAugmentedAssignment>(TB::r(0, 7), b.name("x", 0, kStore), b.integer(2, 6, 7),
                                       BinaryOperator::FloorDiv),
      R"({"type":"StmtAugmentedAssignment","range":[0,7],"target":{"type":"ExprName","range":[0,1],"id":"x","ctx":"Store"},"value":{"type":"ExprNumberLiteral","range":[6,7],"value":{"kind":"Int","value":2}},"op":"FloorDiv"})");

  add("x: int",
      *b.make<StmtAnnotatedAssignment>(TB::r(0, 6), b.name("x", 0, kStore), b.name("int", 3), nullptr, true),
      R"({"type":"StmtAnnotatedAssignment","range":[0,6],"target":{"type":"ExprName","range":[0,1],"id":"x","ctx":"Store"},"annotation":{"type":"ExprName","range":[3,6],"id":"int","ctx":"Load"},"value":null,"simple":true})");

  add("for x in y: break\nelse: continue",
      *b.make<StmtFor>(TB::r(0, 32), b.name("x", 4, kStore), b.name("y", 9),
                       b.stmts({b.make<StmtBreak>(TB::r(12, 17))}), b.stmts({b.make<StmtContinue>(TB::r(24, 32))}),
                       false),
      R"({"type":"StmtFor","range":[0,32],"target":{"type":"ExprName","range":[4,5],"id":"x","ctx":"Store"},"iter":{"type":"ExprName","range":[9,10],"id":"y","ctx":"Load"},"body":[{"type":"StmtBreak","range":[12,17]}],"else_body":[{"type":"StmtContinue","range":[24,32]}],"is_async":false})");

  add("while 1: pass", *b.make<StmtWhile>(TB::r(0, 13), b.integer(1, 6, 7), b.stmts({pass(9)}), std::span<Stmt*>{}),
      R"({"type":"StmtWhile","range":[0,13],"test":{"type":"ExprNumberLiteral","range":[6,7],"value":{"kind":"Int","value":1}},"body":[{"type":"StmtPass","range":[9,13]}],"else_body":[]})");

  add("raise E from e", *b.make<StmtRaise>(TB::r(0, 14), b.name("E", 6), b.name("e", 13)),
      R"({"type":"StmtRaise","range":[0,14],"exception":{"type":"ExprName","range":[6,7],"id":"E","ctx":"Load"},"cause":{"type":"ExprName","range":[13,14],"id":"e","ctx":"Load"}})");

  add("assert a, 'm'",
      *b.make<StmtAssert>(TB::r(0, 13), b.name("a", 7),
                          b.string("m", 10, 13, plain_flags(AnyStringPrefix::Empty, Quote::Single, TripleQuotes::No))),
      R"({"type":"StmtAssert","range":[0,13],"test":{"type":"ExprName","range":[7,8],"id":"a","ctx":"Load"},"message":{"type":"ExprStringLiteral","range":[10,13],"value":"m","parts":[{"type":"StringLiteral","range":[10,13],"value":"m","flags":{"prefix":"","quotes":"'","unclosed":false,"invalid":false}}]}})");

  add("import a . b",
      *b.make<StmtImport>(TB::r(0, 12),
                          b.list({Alias(TB::r(7, 12), Identifier(Name("a.b"), TB::r(7, 12)), std::nullopt)})),
      R"({"type":"StmtImport","range":[0,12],"names":[{"type":"Alias","range":[7,12],"name":{"type":"Identifier","range":[7,12],"id":"a.b"},"as_name":null}]})");

  add("global a, b", *b.make<StmtGlobal>(TB::r(0, 11), b.list({TB::ident("a", 7), TB::ident("b", 10)})),
      R"({"type":"StmtGlobal","range":[0,11],"names":[{"type":"Identifier","range":[7,8],"id":"a"},{"type":"Identifier","range":[10,11],"id":"b"}]})");

  add("nonlocal a", *b.make<StmtNonlocal>(TB::r(0, 10), b.list({TB::ident("a", 9)})),
      R"({"type":"StmtNonlocal","range":[0,10],"names":[{"type":"Identifier","range":[9,10],"id":"a"}]})");

  add("!ls", *b.make<StmtIpyEscapeCommand>(TB::r(0, 3), "ls", IpyEscapeKind::Exclamation),
      R"({"type":"StmtIpyEscapeCommand","range":[0,3],"value":"ls","kind":"Exclamation"})");

  // ----- Expressions.
  add("a < b < c",
      *b.make<ExprComparison>(TB::r(0, 9), b.name("a", 0),
                              b.list({ComparisonOperator::Lt, ComparisonOperator::Lt}),
                              b.exprs({b.name("b", 4), b.name("c", 8)})),
      R"({"type":"ExprComparison","range":[0,9],"left":{"type":"ExprName","range":[0,1],"id":"a","ctx":"Load"},"ops":["Lt","Lt"],"comparators":[{"type":"ExprName","range":[4,5],"id":"b","ctx":"Load"},{"type":"ExprName","range":[8,9],"id":"c","ctx":"Load"}]})");

  add("f(x, *y, k=1, **m)",
      *b.make<ExprCall>(
          TB::r(0, 18), b.name("f", 0),
          Arguments(TB::r(1, 18), b.exprs({b.name("x", 2), b.make<ExprStarred>(TB::r(5, 7), b.name("y", 6), kLoad)}),
                    b.list({Keyword(TB::r(9, 12), TB::ident("k", 9), b.integer(1, 11, 12)),
                            Keyword(TB::r(14, 17), std::nullopt, b.name("m", 16))}))),
      R"({"type":"ExprCall","range":[0,18],"function":{"type":"ExprName","range":[0,1],"id":"f","ctx":"Load"},"arguments":{"type":"Arguments","range":[1,18],"args":[{"type":"ExprName","range":[2,3],"id":"x","ctx":"Load"},{"type":"ExprStarred","range":[5,7],"value":{"type":"ExprName","range":[6,7],"id":"y","ctx":"Load"},"ctx":"Load"}],"keywords":[{"type":"Keyword","range":[9,12],"arg":{"type":"Identifier","range":[9,10],"id":"k"},"value":{"type":"ExprNumberLiteral","range":[11,12],"value":{"kind":"Int","value":1}}},{"type":"Keyword","range":[14,17],"arg":null,"value":{"type":"ExprName","range":[16,17],"id":"m","ctx":"Load"}}]}})");

  add("{**m, 1: 2.5}",
      *b.make<ExprDict>(TB::r(0, 13),
                        b.list({DictItem(nullptr, b.name("m", 3)),
                                DictItem(b.integer(1, 6, 7), b.make<ExprNumberLiteral>(
                                                                 TB::r(9, 12), NumberLiteralValue::of_float(2.5)))})),
      R"({"type":"ExprDict","range":[0,13],"items":[{"type":"DictItem","key":null,"value":{"type":"ExprName","range":[3,4],"id":"m","ctx":"Load"}},{"type":"DictItem","key":{"type":"ExprNumberLiteral","range":[6,7],"value":{"kind":"Int","value":1}},"value":{"type":"ExprNumberLiteral","range":[9,12],"value":{"kind":"Float","value":2.5}}}]})");

  add("lambda: x[1:]",
      *b.make<ExprLambda>(
          TB::r(0, 13), nullptr,
          b.make<ExprSubscript>(TB::r(8, 13), b.name("x", 8),
                                b.make<ExprSlice>(TB::r(10, 12), b.integer(1, 10, 11), nullptr, nullptr), kLoad)),
      R"({"type":"ExprLambda","range":[0,13],"parameters":null,"body":{"type":"ExprSubscript","range":[8,13],"value":{"type":"ExprName","range":[8,9],"id":"x","ctx":"Load"},"slice":{"type":"ExprSlice","range":[10,12],"lower":{"type":"ExprNumberLiteral","range":[10,11],"value":{"kind":"Int","value":1}},"upper":null,"step":null},"ctx":"Load"}})");

  {
    StringLiteral parts[] = {
        StringLiteral(TB::r(0, 3), "a", plain_flags(AnyStringPrefix::Empty, Quote::Single, TripleQuotes::No)),
        StringLiteral(TB::r(4, 12), "b", plain_flags(AnyStringPrefix::Unicode, Quote::Single, TripleQuotes::Yes)),
    };
    add("'a' u'''b'''",
        *b.make<ExprStringLiteral>(TB::r(0, 12), StringLiteralValue::concatenated(b.arena, parts)),
        R"({"type":"ExprStringLiteral","range":[0,12],"value":"ab","parts":[{"type":"StringLiteral","range":[0,3],"value":"a","flags":{"prefix":"","quotes":"'","unclosed":false,"invalid":false}},{"type":"StringLiteral","range":[4,12],"value":"b","flags":{"prefix":"u","quotes":"'''","unclosed":false,"invalid":false}}]})");
  }

  add(R"(b'\x00A')",
      *b.make<ExprBytesLiteral>(
          TB::r(0, 8),
          BytesLiteralValue::single(
              b.arena, BytesLiteral(TB::r(0, 8), std::string_view("\0A", 2),
                                    BytesLiteralFlags::from(
                                        AnyStringFlags(AnyStringPrefix::Bytes, Quote::Single, TripleQuotes::No))))),
      R"({"type":"ExprBytesLiteral","range":[0,8],"parts":[{"type":"BytesLiteral","range":[0,8],"value":[0,65],"flags":{"prefix":"b","quotes":"'","unclosed":false,"invalid":false}}]})");

  {
    // f'{x!r:>{w}}'
    auto* inner = b.make<Interpolation>(TB::r(8, 11), b.name("w", 9), std::nullopt, Conversion::None, nullptr);
    auto* spec = b.make<InterpolatedStringFormatSpec>(
        TB::r(7, 11), b.list<InterpolatedStringElement*>(
                          {b.make<InterpolatedStringLiteralElement>(TB::r(7, 8), ">"), inner}));
    auto* outer = b.make<Interpolation>(TB::r(2, 12), b.name("x", 3), std::nullopt, Conversion::Repr, spec);
    FStringFlags flags = FStringFlags::from(AnyStringFlags(AnyStringPrefix::Format, Quote::Single, TripleQuotes::No));
    FStringLiteralPart part(TB::r(0, 13), b.list<InterpolatedStringElement*>({outer}), flags);
    add("f'{x!r:>{w}}'", *b.make<ExprFString>(TB::r(0, 13), FStringValue::single(b.arena, FStringPart(part))),
        R"({"type":"ExprFString","range":[0,13],"parts":[{"type":"FStringLiteralPart","range":[0,13],"elements":[{"type":"Interpolation","range":[2,12],"expression":{"type":"ExprName","range":[3,4],"id":"x","ctx":"Load"},"debug_text":null,"conversion":"Repr","format_spec":{"type":"InterpolatedStringFormatSpec","range":[7,11],"elements":[{"type":"InterpolatedStringLiteralElement","range":[7,8],"value":">"},{"type":"Interpolation","range":[8,11],"expression":{"type":"ExprName","range":[9,10],"id":"w","ctx":"Load"},"debug_text":null,"conversion":"None","format_spec":null}]}}],"flags":{"prefix":"f","quotes":"'","unclosed":false}}]})");
  }

  {
    // rf"{x = }" "y", an f-string concatenated with a plain string.
    auto* interpolation = b.make<Interpolation>(TB::r(3, 9), b.name("x", 4), DebugText{"", " = "},
                                                Conversion::None, nullptr);
    FStringFlags flags = FStringFlags::from(AnyStringFlags(AnyStringPrefix::RawFormat, Quote::Double, TripleQuotes::No));
    FStringPart parts[] = {
        FStringPart(FStringLiteralPart(TB::r(0, 10), b.list<InterpolatedStringElement*>({interpolation}), flags)),
        FStringPart(StringLiteral(TB::r(11, 14), "y", plain_flags(AnyStringPrefix::Empty, Quote::Double,
                                                                  TripleQuotes::No))),
    };
    add(R"(rf"{x = }" "y")",
        *b.make<ExprFString>(TB::r(0, 14), FStringValue::concatenated(b.arena, parts)),
        R"({"type":"ExprFString","range":[0,14],"parts":[{"type":"FStringLiteralPart","range":[0,10],"elements":[{"type":"Interpolation","range":[3,9],"expression":{"type":"ExprName","range":[4,5],"id":"x","ctx":"Load"},"debug_text":{"leading":"","trailing":" = "},"conversion":"None","format_spec":null}],"flags":{"prefix":"rf","quotes":"\"","unclosed":false}},{"type":"StringLiteral","range":[11,14],"value":"y","flags":{"prefix":"","quotes":"\"","unclosed":false,"invalid":false}}]})");
  }

  add("t'a'",
      *b.make<ExprTString>(
          TB::r(0, 4),
          TStringValue::single(
              b.arena,
              TString(TB::r(0, 4),
                      b.list<InterpolatedStringElement*>({b.make<InterpolatedStringLiteralElement>(TB::r(2, 3), "a")}),
                      TStringFlags::from(AnyStringFlags(AnyStringPrefix::Template, Quote::Single, TripleQuotes::No))))),
      R"({"type":"ExprTString","range":[0,4],"parts":[{"type":"TString","range":[0,4],"elements":[{"type":"InterpolatedStringLiteralElement","range":[2,3],"value":"a"}],"flags":{"prefix":"t","quotes":"'","unclosed":false}}]})");

  add("a or b or c",
      *b.make<ExprBooleanOperation>(TB::r(0, 11), b.exprs({b.name("a", 0), b.name("b", 5), b.name("c", 10)}),
                                    BooleanOperator::Or),
      R"({"type":"ExprBooleanOperation","range":[0,11],"values":[{"type":"ExprName","range":[0,1],"id":"a","ctx":"Load"},{"type":"ExprName","range":[5,6],"id":"b","ctx":"Load"},{"type":"ExprName","range":[10,11],"id":"c","ctx":"Load"}],"op":"Or"})");

  add("(y := -x ** 2)",
      *b.make<ExprAssignment>(
          TB::r(1, 13), b.name("y", 1, kStore),
          b.make<ExprUnaryOp>(TB::r(6, 13), UnaryOp::USub,
                              b.make<ExprBinOp>(TB::r(7, 13), b.name("x", 7), BinaryOperator::Pow, b.integer(2, 12, 13)))),
      R"({"type":"ExprAssignment","range":[1,13],"target":{"type":"ExprName","range":[1,2],"id":"y","ctx":"Store"},"value":{"type":"ExprUnaryOp","range":[6,13],"op":"USub","operand":{"type":"ExprBinOp","range":[7,13],"left":{"type":"ExprName","range":[7,8],"id":"x","ctx":"Load"},"op":"Pow","right":{"type":"ExprNumberLiteral","range":[12,13],"value":{"kind":"Int","value":2}}}}})");

  add("a if b else c", *b.make<ExprConditional>(TB::r(0, 13), b.name("b", 5), b.name("a", 0), b.name("c", 12)),
      R"({"type":"ExprConditional","range":[0,13],"test":{"type":"ExprName","range":[5,6],"id":"b","ctx":"Load"},"body":{"type":"ExprName","range":[0,1],"id":"a","ctx":"Load"},"orelse":{"type":"ExprName","range":[12,13],"id":"c","ctx":"Load"}})");

  add("{a, *b}",
      *b.make<ExprSet>(TB::r(0, 7), b.exprs({b.name("a", 1), b.make<ExprStarred>(TB::r(4, 6), b.name("b", 5), kLoad)})),
      R"({"type":"ExprSet","range":[0,7],"elements":[{"type":"ExprName","range":[1,2],"id":"a","ctx":"Load"},{"type":"ExprStarred","range":[4,6],"value":{"type":"ExprName","range":[5,6],"id":"b","ctx":"Load"},"ctx":"Load"}]})");

  add("[x for x in y if x]",
      *b.make<ExprListComprehension>(
          TB::r(0, 19), b.name("x", 1),
          b.list({Comprehension(TB::r(3, 18), b.name("x", 7, kStore), b.name("y", 12), b.exprs({b.name("x", 17)}),
                                false)})),
      R"({"type":"ExprListComprehension","range":[0,19],"element":{"type":"ExprName","range":[1,2],"id":"x","ctx":"Load"},"generators":[{"type":"Comprehension","range":[3,18],"target":{"type":"ExprName","range":[7,8],"id":"x","ctx":"Store"},"iter":{"type":"ExprName","range":[12,13],"id":"y","ctx":"Load"},"conditions":[{"type":"ExprName","range":[17,18],"id":"x","ctx":"Load"}],"is_async":false}]})");

  add("{x for x in y}",
      *b.make<ExprSetComprehension>(
          TB::r(0, 14), b.name("x", 1),
          b.list({Comprehension(TB::r(3, 13), b.name("x", 7, kStore), b.name("y", 12), std::span<Expr*>{}, false)})),
      R"({"type":"ExprSetComprehension","range":[0,14],"element":{"type":"ExprName","range":[1,2],"id":"x","ctx":"Load"},"generators":[{"type":"Comprehension","range":[3,13],"target":{"type":"ExprName","range":[7,8],"id":"x","ctx":"Store"},"iter":{"type":"ExprName","range":[12,13],"id":"y","ctx":"Load"},"conditions":[],"is_async":false}]})");

  add("{k: v async for k, v in m}",
      *b.make<ExprDictComprehension>(
          TB::r(0, 26), b.name("k", 1), b.name("v", 4),
          b.list({Comprehension(TB::r(6, 25),
                                b.make<ExprTuple>(TB::r(16, 20), b.exprs({b.name("k", 16, kStore), b.name("v", 19, kStore)}),
                                                  kStore, false),
                                b.name("m", 24), std::span<Expr*>{}, true)})),
      R"({"type":"ExprDictComprehension","range":[0,26],"key":{"type":"ExprName","range":[1,2],"id":"k","ctx":"Load"},"value":{"type":"ExprName","range":[4,5],"id":"v","ctx":"Load"},"generators":[{"type":"Comprehension","range":[6,25],"target":{"type":"ExprTuple","range":[16,20],"elements":[{"type":"ExprName","range":[16,17],"id":"k","ctx":"Store"},{"type":"ExprName","range":[19,20],"id":"v","ctx":"Store"}],"ctx":"Store","parenthesized":false},"iter":{"type":"ExprName","range":[24,25],"id":"m","ctx":"Load"},"conditions":[],"is_async":true}]})");

  add("(await x for x in y)",
      *b.make<ExprGenerator>(
          TB::r(0, 20), b.make<ExprAwait>(TB::r(1, 8), b.name("x", 7)),
          b.list({Comprehension(TB::r(9, 19), b.name("x", 13, kStore), b.name("y", 18), std::span<Expr*>{}, false)}),
          true),
      R"({"type":"ExprGenerator","range":[0,20],"element":{"type":"ExprAwait","range":[1,8],"value":{"type":"ExprName","range":[7,8],"id":"x","ctx":"Load"}},"generators":[{"type":"Comprehension","range":[9,19],"target":{"type":"ExprName","range":[13,14],"id":"x","ctx":"Store"},"iter":{"type":"ExprName","range":[18,19],"id":"y","ctx":"Load"},"conditions":[],"is_async":false}],"parenthesized":true})");

  add("[(yield), (yield from a)]",
      *b.make<ExprList>(TB::r(0, 25),
                        b.exprs({b.make<ExprYield>(TB::r(2, 7), nullptr),
                                 b.make<ExprYieldFrom>(TB::r(11, 23), b.name("a", 22))}),
                        kLoad),
      R"({"type":"ExprList","range":[0,25],"elements":[{"type":"ExprYield","range":[2,7],"value":null},{"type":"ExprYieldFrom","range":[11,23],"value":{"type":"ExprName","range":[22,23],"id":"a","ctx":"Load"}}],"ctx":"Load"})");

  add("(True, a.b)",
      *b.make<ExprTuple>(TB::r(0, 11),
                         b.exprs({b.make<ExprBooleanLiteral>(TB::r(1, 5), true),
                                  b.make<ExprAttribute>(TB::r(7, 10), b.name("a", 7), TB::ident("b", 9), kLoad)}),
                         kLoad, true),
      R"({"type":"ExprTuple","range":[0,11],"elements":[{"type":"ExprBooleanLiteral","range":[1,5],"value":true},{"type":"ExprAttribute","range":[7,10],"value":{"type":"ExprName","range":[7,8],"id":"a","ctx":"Load"},"attribute":{"type":"Identifier","range":[9,10],"id":"b"},"ctx":"Load"}],"ctx":"Load","parenthesized":true})");

  add("%time", *b.make<ExprIpyEscapeCommand>(TB::r(0, 5), "time", IpyEscapeKind::Percent),
      R"({"type":"ExprIpyEscapeCommand","range":[0,5],"value":"time","kind":"Percent"})");

  // ----- Patterns.
  add("{1: a, **rest}",
      *b.make<PatternMapping>(TB::r(0, 14), b.exprs({b.integer(1, 1, 2)}),
                              b.patterns({b.make<PatternAs>(TB::r(4, 5), nullptr, TB::ident("a", 4))}),
                              TB::ident("rest", 9)),
      R"({"type":"PatternMapping","range":[0,14],"keys":[{"type":"ExprNumberLiteral","range":[1,2],"value":{"kind":"Int","value":1}}],"patterns":[{"type":"PatternAs","range":[4,5],"pattern":null,"name":{"type":"Identifier","range":[4,5],"id":"a"}}],"rest":{"type":"Identifier","range":[9,13],"id":"rest"}})");

  add("Point(1, y=2)",
      *b.make<PatternClass>(
          TB::r(0, 13), b.name("Point", 0),
          PatternArguments(TB::r(5, 13), b.patterns({b.make<PatternValue>(TB::r(6, 7), b.integer(1, 6, 7))}),
                           b.list({PatternKeyword(TB::r(9, 12), TB::ident("y", 9),
                                                  b.make<PatternValue>(TB::r(11, 12), b.integer(2, 11, 12)))}))),
      R"({"type":"PatternClass","range":[0,13],"cls":{"type":"ExprName","range":[0,5],"id":"Point","ctx":"Load"},"arguments":{"type":"PatternArguments","range":[5,13],"patterns":[{"type":"PatternValue","range":[6,7],"value":{"type":"ExprNumberLiteral","range":[6,7],"value":{"kind":"Int","value":1}}}],"keywords":[{"type":"PatternKeyword","range":[9,12],"attribute":{"type":"Identifier","range":[9,10],"id":"y"},"pattern":{"type":"PatternValue","range":[11,12],"value":{"type":"ExprNumberLiteral","range":[11,12],"value":{"kind":"Int","value":2}}}}]}})");

  add("[*_] | None",
      *b.make<PatternOr>(
          TB::r(0, 11),
          b.patterns({b.make<PatternSequence>(TB::r(0, 4), b.patterns({b.make<PatternStar>(TB::r(1, 3), std::nullopt)})),
                      b.make<PatternSingleton>(TB::r(7, 11), PatternSingletonValue::None)})),
      R"({"type":"PatternOr","range":[0,11],"patterns":[{"type":"PatternSequence","range":[0,4],"patterns":[{"type":"PatternStar","range":[1,3],"name":null}]},{"type":"PatternSingleton","range":[7,11],"value":"None"}]})");

  return out;
}

}  // namespace python_ast::testing
