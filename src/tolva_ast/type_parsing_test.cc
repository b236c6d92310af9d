#include "tolva_ast/type_parsing.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "source_file/line_index.h"
#include "test_support/oracle.h"
#include "test_support/tolva_ast/marked_source.h"
#include "tolva_ast/statement_visitor.h"
#include "tolva_ast/type_parsing_internal.h"

namespace tolva_ast::type_parsing {
namespace {

using testing::MarkedSource;

struct Analysis {
  SharedParsedFileCache file;
  ParsedAstFile result;

  const ResolverAST& function(std::string_view name) const {
    for (const ResolverAST& record : result.functions) {
      if (record.resolver_name == name) return record;
    }
    ADD_FAILURE() << "no function " << name;
    static const ResolverAST& kNone = *new ResolverAST();
    return kNone;
  }
  bool is_resolver(std::string_view name) const {
    for (std::size_t i = 0; i < result.resolvers.size(); ++i) {
      if (result.resolver(i).resolver_name == name) return true;
    }
    return false;
  }
  const FeatureClassAST* feature_class(std::string_view name) const {
    for (const FeatureClassAST& record : result.feature_classes) {
      if (record.class_name == name) return &record;
    }
    return nullptr;
  }
};

Analysis analyse(std::string source, std::string path = "/p/pkg/mod.py") {
  tolva::Result<SharedParsedFileCache> parsed = parse_file_for_cache(std::move(path), std::move(source));
  EXPECT_TRUE(parsed.has_value()) << parsed.error();
  if (!parsed.has_value()) return {};
  Analysis analysis{parsed.value(), {}};
  analysis.result = parse_ast_file_with_feature_module(*analysis.file, "pkg.mod");
  return analysis;
}

Analysis analyse(const MarkedSource& marked) { return analyse(marked.text()); }

std::vector<std::string> keys(const LocationMap& map) {
  std::vector<std::string> out;
  for (const auto& [key, value] : map) out.push_back(key);
  std::sort(out.begin(), out.end());
  return out;
}

std::vector<std::string> function_names(const Analysis& analysis) {
  std::vector<std::string> out;
  for (const ResolverAST& record : analysis.result.functions) out.push_back(record.resolver_name);
  return out;
}

// ---------------------------------------------------------------------------
// Functions and resolvers

TEST(Functions, ParametersInDeclarationOrderWithTheirLocations) {
  const MarkedSource m(
      "def ‹name›f‹/name›(‹a›a‹/a›, /, ‹b›b: ‹bt›int‹/bt›‹/b› = 1, ‹c›*c‹/c›, ‹d›d‹/d›=2, "
      "‹e›**e: ‹et›\"str\"‹/et›‹/e›)  ‹colon›:\n    pass\n");
  const Analysis analysis = analyse(m);
  ASSERT_EQ(analysis.result.functions.size(), 1u);
  const ResolverAST& f = analysis.function("f");
  EXPECT_EQ(f.module, "pkg.mod");
  EXPECT_EQ(f.resolver_name_location.range, m.range("name"));
  EXPECT_EQ(f.args_in_order, (std::vector<std::string>{"a", "b", "c", "d", "e"}));
  struct Expected {
    const char* name;
    const char* annotation;  // marker, or nullptr
  };
  for (const Expected& e : {Expected{"a", nullptr}, Expected{"b", "bt"}, Expected{"c", nullptr},
                            Expected{"d", nullptr}, Expected{"e", "et"}}) {
    const FunctionArgAST* arg = f.args.find(e.name);
    ASSERT_NE(arg, nullptr) << e.name;
    EXPECT_EQ(arg->arg_name, e.name);
    // The star belongs to a variadic; a default never does.
    EXPECT_EQ(arg->arg_location.range, m.range(e.name)) << e.name;
    if (e.annotation == nullptr) {
      EXPECT_EQ(arg->annotation, std::nullopt) << e.name;
    } else {
      ASSERT_TRUE(arg->annotation.has_value()) << e.name;
      EXPECT_EQ(arg->annotation->range, m.range(e.annotation)) << e.name;
    }
  }
  EXPECT_EQ(f.return_annotation, std::nullopt);
  ASSERT_TRUE(f.missing_return_annotation.has_value());
  EXPECT_EQ(f.missing_return_annotation->range, m.range_at("colon", 1));
}

TEST(Functions, RepeatedParameterNamesKeepBothInOrderAndTheLastInTheMap) {
  // Not valid for CPython, but the parser takes it: analysis keeps both.
  const MarkedSource m("def f(x, ‹x›x‹/x›):\n    pass\n");
  const Analysis analysis = analyse(m);
  const ResolverAST& f = analysis.function("f");
  EXPECT_EQ(f.args_in_order, (std::vector<std::string>{"x", "x"}));
  ASSERT_EQ(f.args.size(), 1u);
  EXPECT_EQ(f.args.find("x")->arg_location.range, m.range("x"));
}

TEST(Functions, TheHeaderColon) {
  struct Case {
    const char* source;
  };
  // Spaces, a line continuation, type parameters, an empty parameter list.
  const Case cases[] = {
      {"def f(a, b)‹c›:\n    pass\n"},
      {"def f(a)   ‹c›: pass\n"},
      {"def f(a) \\\n  ‹c›:\n    pass\n"},
      {"def f[T](a: T)‹c›:\n    ...\n"},
      {"class K:\n    def m(self)‹c›:  # comment: not this\n        return 1\n"},
  };
  for (const Case& c : cases) {
    const MarkedSource m(c.source);
    const Analysis analysis = analyse(m);
    ASSERT_EQ(analysis.result.functions.size(), 1u) << c.source;
    const ResolverAST& f = analysis.result.functions.front();
    ASSERT_TRUE(f.missing_return_annotation.has_value()) << c.source;
    EXPECT_EQ(f.missing_return_annotation->range, m.range_at("c", 1)) << c.source;
  }

  const MarkedSource annotated("def g() -> ‹r›dict[str, int]‹/r›:\n    pass\n");
  const Analysis analysis = analyse(annotated);
  const ResolverAST& g = analysis.function("g");
  ASSERT_TRUE(g.return_annotation.has_value());
  EXPECT_EQ(g.return_annotation->range, annotated.range("r"));
  EXPECT_EQ(g.missing_return_annotation, std::nullopt);
}

TEST(Functions, ReturnStatementsAtAnyDepthReturnArgFromTheOwnList) {
  const MarkedSource m(
      "def outer(x):\n"
      "    if x:\n"
      "        ‹r1›return 1‹/r1›\n"
      "    def inner():\n"
      "        ‹r2›return 2‹/r2›\n"
      "    class K:\n"
      "        def m(self):\n"
      "            ‹r3›return 3‹/r3›\n"
      "    try:\n"
      "        pass\n"
      "    except E:\n"
      "        ‹r4›return‹/r4›\n"
      "    ‹r5›return ‹v5›x + 1‹/v5›‹/r5›\n"
      "    ‹r6›return 6‹/r6›\n"
      "def bare():\n"
      "    ‹body›‹b1›return‹/b1›\n"
      "    ‹b2›return 7‹/b2›‹/body›\n"
      "def none():\n"
      "    while True:\n"
      "        ‹n1›return 8‹/n1›\n");
  const Analysis analysis = analyse(m);
  EXPECT_EQ(function_names(analysis), (std::vector<std::string>{"outer", "inner", "m", "bare", "none"}));

  const ResolverAST& outer = analysis.function("outer");
  std::vector<Range> ranges;
  for (const Location& location : outer.return_statements) ranges.push_back(location.range);
  EXPECT_EQ(ranges, (std::vector<Range>{m.range("r1"), m.range("r2"), m.range("r3"), m.range("r4"), m.range("r5"),
                                        m.range("r6")}));
  ASSERT_TRUE(outer.return_arg.has_value());
  EXPECT_EQ(outer.return_arg->range, m.range("v5"));

  // The first own return is bare: no value, and the next is not looked at.
  const ResolverAST& bare = analysis.function("bare");
  EXPECT_EQ(bare.return_arg, std::nullopt);
  EXPECT_EQ(bare.return_statements.size(), 2u);
  ASSERT_TRUE(bare.body.has_value());
  EXPECT_EQ(bare.body->range, m.range("body"));

  // A return only in a nested list is no return_arg.
  EXPECT_EQ(analysis.function("none").return_arg, std::nullopt);
  EXPECT_EQ(analysis.function("none").return_statements.size(), 1u);
}

TEST(Functions, EveryDefinitionInWalkOrder) {
  const Analysis analysis = analyse(
      "import tolva\n"
      "class A:\n"
      "    def method(self): pass\n"
      "def outer():\n"
      "    def nested(): pass\n"
      "if cond:\n"
      "    async def in_if(): pass\n"
      "else:\n"
      "    @tolva.online\n"
      "    def in_else(): pass\n"
      "match v:\n"
      "    case 1:\n"
      "        def in_case(): pass\n"
      "x = lambda: 0\n");
  EXPECT_EQ(function_names(analysis),
            (std::vector<std::string>{"method", "outer", "nested", "in_if", "in_else", "in_case"}));
  // The attribute form is never a resolver decorator.
  EXPECT_TRUE(analysis.result.resolvers.empty());
  EXPECT_EQ(analysis.function("in_else").decorator_location, std::nullopt);
}

TEST(Functions, NoDefinitionsNoRecords) {
  const Analysis analysis = analyse("from tolva import online\nx = 1\nclass C:\n    y = 2\n");
  EXPECT_TRUE(analysis.result.functions.empty());
  EXPECT_TRUE(analysis.result.resolvers.empty());
  EXPECT_TRUE(analysis.result.feature_classes.empty());
}

TEST(Resolvers, DecoratorNamesFromTopLevelFromImports) {
  struct Case {
    const char* imports;
    const char* decorator;
    bool resolver;
  };
  const Case cases[] = {
      {"from tolva import online", "online", true},
      {"from tolva import offline", "offline()", true},
      {"from tolva.features import stream", "stream", true},
      {"from tolva.features import online as ol", "ol", true},
      {"from tolva.features import online as ol", "online", false},
      {"from tolva import online as ol, online", "online", true},
      {"import tolva", "tolva.online", false},
      {"from tolva import online", "tolva.online", false},
      {"from tolva import online", "online()()", false},
      {"from tolva import features", "features", false},
      {"from tolva.other import online", "online", false},
      {"from .tolva import online", "online", false},
      {"from tolva import *", "online", false},
      {"if True:\n    from tolva import online", "online", false},
      {"", "online", false},
  };
  for (const Case& c : cases) {
    const std::string source = std::string(c.imports) + "\n@" + c.decorator + "\ndef r():\n    pass\n";
    const Analysis analysis = analyse(source);
    ASSERT_EQ(analysis.result.functions.size(), 1u) << source;
    EXPECT_EQ(analysis.is_resolver("r"), c.resolver) << source;
    EXPECT_EQ(analysis.function("r").decorator_location.has_value(), c.resolver) << source;
  }
}

TEST(Resolvers, DecoratorKeywordsAndDictMaps) {
  const MarkedSource m(
      "from tolva import online\n"
      "@‹dec›online(‹on›owner‹/on›=‹ov›5‹/ov›, ‹tn›tags‹/tn› = ‹tv›{‹ka›'a'‹/ka›: ‹va›1‹/va›, ‹kb›\"b\"‹/kb›: ‹vb›x‹/vb›,"
      " c: 3, 'd' 'e': 4, **more}‹/tv›, none={c: 1}, **extra)‹/dec›\n"
      "def r():\n"
      "    pass\n");
  const Analysis analysis = analyse(m);
  ASSERT_TRUE(analysis.is_resolver("r"));
  const ResolverAST& r = analysis.function("r");
  EXPECT_EQ(r.decorator_location->range, m.range("dec"));
  EXPECT_EQ(keys(r.kwarg_names), (std::vector<std::string>{"none", "owner", "tags"}));
  EXPECT_EQ(r.kwarg_names.find("owner")->range, m.range("on"));
  EXPECT_EQ(r.kwargs.find("owner")->range, m.range("ov"));
  EXPECT_EQ(r.kwarg_names.find("tags")->range, m.range("tn"));
  EXPECT_EQ(r.kwargs.find("tags")->range, m.range("tv"));
  // Only the single-part string keys; a dict without one adds nothing.
  ASSERT_EQ(r.kwarg_dict_key_names.size(), 1u);
  ASSERT_EQ(r.kwarg_dict_values.size(), 1u);
  const LocationMap& key_names = *r.kwarg_dict_key_names.find("tags");
  const LocationMap& values = *r.kwarg_dict_values.find("tags");
  EXPECT_EQ(keys(key_names), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(key_names.find("a")->range, m.range("ka"));
  EXPECT_EQ(key_names.find("b")->range, m.range("kb"));
  EXPECT_EQ(values.find("a")->range, m.range("va"));
  EXPECT_EQ(values.find("b")->range, m.range("vb"));
}

TEST(Resolvers, TheFirstMatchingDecoratorWins) {
  const MarkedSource m(
      "from tolva import online, offline\n"
      "@other(x=1)\n"
      "@‹d›online‹/d›\n"
      "@offline(owner='a')\n"
      "def r():\n"
      "    pass\n");
  const Analysis analysis = analyse(m);
  const ResolverAST& r = analysis.function("r");
  ASSERT_TRUE(r.decorator_location.has_value());
  EXPECT_EQ(r.decorator_location->range, m.range("d"));
  EXPECT_TRUE(r.kwarg_names.empty());
  EXPECT_TRUE(r.kwargs.empty());
  EXPECT_TRUE(r.kwarg_dict_key_names.empty());
  EXPECT_TRUE(r.kwarg_dict_values.empty());
}

TEST(Resolvers, KeywordNamesFoundInTheSourceOnly) {
  // "ｏｗｎｅｒ" (fullwidth) is normalised to "owner" by the lexer: the name is
  // not in the source text, so the keyword is left out of both maps.
  const MarkedSource m(
      "from tolva import online\n"
      "@online(\xEF\xBD\x8F\xEF\xBD\x97\xEF\xBD\x8E\xEF\xBD\x85\xEF\xBD\x92=1, ‹k›\xC3\xA9t\xC3\xA9‹/k›=‹v›2‹/v›)\n"
      "def r(): pass\n");
  const Analysis analysis = analyse(m);
  const ResolverAST& r = analysis.function("r");
  EXPECT_EQ(keys(r.kwarg_names), (std::vector<std::string>{"\xC3\xA9t\xC3\xA9"}));
  EXPECT_EQ(r.kwarg_names.find("\xC3\xA9t\xC3\xA9")->range, m.range("k"));
  EXPECT_EQ(r.kwargs.find("\xC3\xA9t\xC3\xA9")->range, m.range("v"));
}

TEST(Resolvers, ANormalisedKeywordNameIsFoundWhereItsTextFirstStandsBeforeTheValue) {
  // The search covers the text from the keyword to its value, comments and
  // line breaks in between included; a partial match ("owne") is passed.
  const MarkedSource m(
      "from tolva import online\n"
      "@online(\xEF\xBD\x8F\xEF\xBD\x97\xEF\xBD\x8E\xEF\xBD\x85\xEF\xBD\x92  # owne‹k›owner‹/k›owner\n"
      "  = ‹v›1‹/v›)\n"
      "def r(): pass\n");
  const Analysis analysis = analyse(m);
  const ResolverAST& r = analysis.function("r");
  EXPECT_EQ(keys(r.kwarg_names), (std::vector<std::string>{"owner"}));
  EXPECT_EQ(r.kwarg_names.find("owner")->range, m.range("k"));
  EXPECT_EQ(r.kwargs.find("owner")->range, m.range("v"));
}

TEST(Resolvers, PositionsCountCharactersAfterBomTabsAndNonAscii) {
  const MarkedSource m(
      "\xEF\xBB\xBF‹bom›from tolva import online\r\n"
      "# caf\xC3\xA9 \xF0\x9F\x98\x80\r\n"
      "class K\xC3\xA9:\r\n"
      "\tdef ‹n›\xC3\xA9t\xC3\xA9\xF0\x9D\x90\x80‹/n›(‹p›\xE6\x97\xA5‹/p›)‹c›:\r\n"
      "\t\t‹r›return ‹v›'\xE2\x82\xAC'‹/v›‹/r›\r\n");
  ASSERT_EQ(m.position("bom"), (Position{0, 0}));
  const Analysis analysis = analyse(m);
  ASSERT_EQ(analysis.result.functions.size(), 1u);
  const ResolverAST& f = analysis.result.functions.front();
  EXPECT_EQ(f.resolver_name_location.range, m.range("n"));
  EXPECT_EQ(f.resolver_name_location.range, (Range{{3, 5}, {3, 9}}));
  EXPECT_EQ(f.args.find("\xE6\x97\xA5")->arg_location.range, m.range("p"));
  EXPECT_EQ(f.missing_return_annotation->range, m.range_at("c", 1));
  EXPECT_EQ(f.return_statements.front().range, m.range("r"));
  EXPECT_EQ(f.return_arg->range, m.range("v"));
  EXPECT_EQ(f.return_arg->range, (Range{{4, 9}, {4, 12}}));
}

// ---------------------------------------------------------------------------
// Feature classes

TEST(FeatureClasses, TheDecoratorFromTolvaFeaturesOnly) {
  struct Case {
    const char* imports;
    const char* decorator;
    bool feature_class;
  };
  const Case cases[] = {
      {"from tolva.features import features", "features", true},
      {"from tolva.features import features", "features(name='n')", true},
      {"from tolva.features import features as fs", "fs", true},
      {"from tolva.features import features as fs", "features", false},
      {"from tolva import features", "features", false},
      {"import tolva.features", "tolva.features.features", false},
      {"from tolva.features import features", "tolva.features.features", false},
      {"from tolva.features import online", "online", false},
      {"from tolva.features import features", "other", false},
  };
  for (const Case& c : cases) {
    const std::string source = std::string(c.imports) + "\n@" + c.decorator + "\nclass C:\n    x: int\n";
    const Analysis analysis = analyse(source);
    EXPECT_EQ(analysis.result.feature_classes.size(), c.feature_class ? 1u : 0u) << source;
  }
}

TEST(FeatureClasses, Namespace) {
  struct Case {
    const char* decorator;
    const char* ns;
  };
  const Case cases[] = {
      {"features(name=\"fraud\")", "fraud"},
      {"features(name='')", ""},
      {"features(owner='x', name='first')", "first"},
      {"features(name=f\"fraud\")", "user_account"},
      {"features(name='a' 'b')", "user_account"},
      {"features(name=N)", "user_account"},
      {"features()", "user_account"},
      {"features", "user_account"},
  };
  for (const Case& c : cases) {
    const std::string source =
        std::string("from tolva.features import features\n@") + c.decorator + "\nclass UserAccount:\n    x: int\n";
    const Analysis analysis = analyse(source);
    ASSERT_EQ(analysis.result.feature_classes.size(), 1u) << source;
    EXPECT_EQ(analysis.result.feature_classes.front().namespace_, c.ns) << source;
  }
}

TEST(FeatureClasses, ClassLocationsAndDecoratorKeywords) {
  const MarkedSource m(
      "from tolva.features import features\n"
      "@‹dec›features(‹on›owner‹/on›=‹ov›'me'‹/ov›)‹/dec›\n"
      "‹line›class ‹name›Account‹/name›(Base):  # trailing‹/line›\n"
      "    x: int\n");
  const Analysis analysis = analyse(m);
  const FeatureClassAST* k = analysis.feature_class("Account");
  ASSERT_NE(k, nullptr);
  EXPECT_EQ(k->module, "pkg.mod");
  EXPECT_EQ(k->class_name_location.range, m.range("name"));
  EXPECT_EQ(k->class_definition_location.range, m.range("line"));
  EXPECT_EQ(k->decorator_location.range, m.range("dec"));
  EXPECT_EQ(keys(k->kwarg_names), (std::vector<std::string>{"owner"}));
  EXPECT_EQ(k->kwarg_names.find("owner")->range, m.range("on"));
  EXPECT_EQ(k->kwargs.find("owner")->range, m.range("ov"));
}

// The comment metadata of field `x` in a feature class whose body is `body`.
struct FieldComments {
  std::optional<std::string> comment;
  std::optional<std::string> description;
  std::optional<std::string> owner;
  std::vector<std::string> tags;
  bool operator==(const FieldComments&) const = default;
};

std::ostream& operator<<(std::ostream& out, const FieldComments& c) {
  const auto text = [](const std::optional<std::string>& t) { return t ? ::testing::PrintToString(*t) : "absent"; };
  out << "comment " << text(c.comment) << ", description " << text(c.description) << ", owner " << text(c.owner)
      << ", tags";
  for (const std::string& tag : c.tags) out << " " << tag;
  return out;
}

FieldComments comments_of_x(const std::string& body) {
  const Analysis analysis = analyse("from tolva.features import features\n@features\nclass C:\n" + body);
  const FeatureClassAST* k = analysis.feature_class("C");
  if (k == nullptr) {
    ADD_FAILURE() << "no feature class in\n" << body;
    return {};
  }
  const FeatureFieldAST* x = k->fields.find("x");
  if (x == nullptr) {
    ADD_FAILURE() << "no field x in\n" << body;
    return {};
  }
  return FieldComments{x->comment, x->description, x->owner, x->tags};
}

TEST(FeatureClasses, FieldCommentBlocks) {
  struct Case {
    const char* what;
    const char* body;
    FieldComments expected;
  };
  const Case cases[] = {
      {"description, owner and tags",
       "    # Amount in cents.\n    # :owner: ops-team\n    # :tags: pii, billing\n    x: int\n",
       {"Amount in cents.\n:owner: ops-team\n:tags: pii, billing", "Amount in cents.", "ops-team", {"pii", "billing"}}},
      {"a blank line detaches the block", "    # doc\n\n    x: int\n", {}},
      {"a line of code that defines no field detaches it", "    # doc\n    print(1)\n    x: int\n", {}},
      {"the field statement between takes the block", "    # doc\n    y = 1\n    x: int\n", {}},
      {"a comment after code on the field's line is ignored", "    x: int  # trailing\n", {}},
      {"a trailing comment on the field's line is no part of its block", "    # doc\n    x = 1  # t\n",
       {"doc", "doc", std::nullopt, {}}},
      {"only the lower of two runs", "    # upper\n\n    # lower\n    x = 1\n", {"lower", "lower", std::nullopt, {}}},
      {"tags only", "    #:tags: a,b  c\n    # :tags:d\n    x = 1\n",
       {":tags: a,b  c\n:tags:d", std::nullopt, std::nullopt, {"a", "b", "c", "d"}}},
      {"a lone hash then a text: the description begins with a line feed", "    #\n    # text\n    x = 1\n",
       {"\ntext", "\ntext", std::nullopt, {}}},
      {"an empty owner", "    # :owner:\n    x = 1\n", {":owner:", std::nullopt, "", {}}},
      {"the last owner wins", "    # :owner: a\n    # :owner:  b \n    x = 1\n",
       {":owner: a\n:owner:  b", std::nullopt, "b", {}}},
      {"markers are exact and case-sensitive", "    # :Owner: a\n    # owner: b\n    # :tag: c\n    x = 1\n",
       {":Owner: a\nowner: b\n:tag: c", ":Owner: a\nowner: b\n:tag: c", std::nullopt, {}}},
      {"hashes and Unicode white space trimmed", "    ### \xC2\xA0 doc \xE3\x80\x80\n    x = 1\n",
       {"doc", "doc", std::nullopt, {}}},
      {"non-ASCII comments", "    # Montant en \xE2\x82\xAC\n    # :tags: \xC3\xA9t\xC3\xA9\xE3\x80\x80hiver\n    x = 1\n",
       {"Montant en \xE2\x82\xAC\n:tags: \xC3\xA9t\xC3\xA9\xE3\x80\x80hiver", "Montant en \xE2\x82\xAC", std::nullopt,
        {"\xC3\xA9t\xC3\xA9", "hiver"}}},
      {"comments inside methods are own-line comments too",
       "    def m(self):\n        # in method\n        pass\n    # doc\n    x = 1\n", {"doc", "doc", std::nullopt, {}}},
      {"a comment directly above a method line is no field's", "    # doc\n    def m(self): pass\n    x = 1\n", {}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(comments_of_x(c.body), c.expected) << c.what << "\n" << c.body;
  }
}

TEST(FeatureClasses, CommentBlocksUnderCrLf) {
  EXPECT_EQ(comments_of_x("    # a\r\n    # :owner: o\r\n    x = 1\r\n"),
            (FieldComments{"a\n:owner: o", "a", "o", {}}));
}

TEST(FeatureClasses, FieldsAndAnnotations) {
  const MarkedSource m(
      "from tolva.features import features\n"
      "@features\n"
      "class C:\n"
      "    ‹an›a‹/an›: ‹at›int‹/at› = 1\n"
      "    ‹bn›b‹/bn› = ‹bv›2‹/bv›\n"
      "    ‹cn›c‹/cn›: ‹ct›Feature[int]‹/ct› = ‹cc›feature(‹ck›max_staleness‹/ck›=‹cv›'1d'‹/cv›)‹/cc›\n"
      "    c = ‹c2›3‹/c2›\n"
      "    ‹dn›d‹/dn› = ‹dc›feature(‹dk›owner‹/dk›=‹dv›'x'‹/dv›, **rest)‹/dc›\n"
      "    ‹en›e‹/en›: ‹et›str‹/et›\n"
      "    e: ‹et2›bytes‹/et2›\n"
      "    f = g = 1\n"
      "    h, i = 1, 2\n"
      "    self.j = 1\n"
      "    k += 1\n"
      "    if cond:\n"
      "        l = 1\n"
      "    def m(self):\n"
      "        n = 1\n");
  const Analysis analysis = analyse(m);
  const FeatureClassAST* k = analysis.feature_class("C");
  ASSERT_NE(k, nullptr);

  std::vector<std::string> field_names;
  for (const auto& [name, field] : k->fields) field_names.push_back(name);
  EXPECT_EQ(field_names, (std::vector<std::string>{"a", "c", "e", "b", "d"}));

  // An annotated field with a plain value has no call.
  const FeatureFieldAST& a = *k->fields.find("a");
  EXPECT_EQ(a.field_name_location.range, m.range("an"));
  EXPECT_EQ(a.annotation->range, m.range("at"));
  EXPECT_EQ(a.feature_call, std::nullopt);

  // A plain assignment's value is its call, whatever it is.
  const FeatureFieldAST& b = *k->fields.find("b");
  EXPECT_EQ(b.field_name_location.range, m.range("bn"));
  EXPECT_EQ(b.annotation, std::nullopt);
  EXPECT_EQ(b.feature_call->range, m.range("bv"));

  // Annotated with a call, then assigned a number: annotation and name stay,
  // the call and its keywords are the number's (none).
  const FeatureFieldAST& c = *k->fields.find("c");
  EXPECT_EQ(c.field_name_location.range, m.range("cn"));
  EXPECT_EQ(c.annotation->range, m.range("ct"));
  EXPECT_EQ(c.feature_call->range, m.range("c2"));
  EXPECT_TRUE(c.kwarg_names.empty());
  EXPECT_TRUE(c.kwargs.empty());

  const FeatureFieldAST& d = *k->fields.find("d");
  EXPECT_EQ(d.feature_call->range, m.range("dc"));
  EXPECT_EQ(keys(d.kwarg_names), (std::vector<std::string>{"owner"}));
  EXPECT_EQ(d.kwarg_names.find("owner")->range, m.range("dk"));
  EXPECT_EQ(d.kwargs.find("owner")->range, m.range("dv"));

  // The first annotated statement of a name wins in the map.
  EXPECT_EQ(k->fields.find("e")->annotation->range, m.range("et"));

  // Every annotated statement, in order, repeats included.
  ASSERT_EQ(k->annotations.size(), 4u);
  EXPECT_EQ(k->annotations[0].field_name, "a");
  EXPECT_EQ(k->annotations[1].field_name, "c");
  EXPECT_EQ(k->annotations[1].feature_call->range, m.range("cc"));
  EXPECT_EQ(k->annotations[1].kwarg_names.find("max_staleness")->range, m.range("ck"));
  EXPECT_EQ(k->annotations[1].kwargs.find("max_staleness")->range, m.range("cv"));
  EXPECT_EQ(k->annotations[2].annotation->range, m.range("et"));
  EXPECT_EQ(k->annotations[3].annotation->range, m.range("et2"));
}

TEST(FeatureClasses, MetadataGoesByNameAndFillsOnlyWhatIsMissing) {
  const Analysis analysis = analyse(
      "from tolva.features import features\n"
      "@features\n"
      "class C:\n"
      "    # first\n"
      "    # :tags: t1\n"
      "    x: int\n"
      "    # :owner: o\n"
      "    # :tags: t2\n"
      "    x = 1\n"
      "    y: int\n"
      "    # later\n"
      "    y = 2\n");
  const FeatureClassAST* k = analysis.feature_class("C");
  ASSERT_NE(k, nullptr);
  // The map of blocks is by name: the later block of x replaced the earlier
  // one, so both statements of x see the later one.
  const FeatureFieldAST& x = *k->fields.find("x");
  EXPECT_EQ(x.comment, ":owner: o\n:tags: t2");
  EXPECT_EQ(x.description, std::nullopt);
  EXPECT_EQ(x.owner, "o");
  EXPECT_EQ(x.tags, (std::vector<std::string>{"t2"}));
  EXPECT_EQ(k->annotations[0].comment, ":owner: o\n:tags: t2");
  const FeatureFieldAST& y = *k->fields.find("y");
  EXPECT_EQ(y.comment, "later");
  EXPECT_EQ(y.description, "later");
  EXPECT_EQ(k->annotations[1].comment, "later");
}

TEST(FeatureClasses, SourceIsDedentedFromTheFirstDecoratorLine) {
  const Analysis analysis = analyse(
      "from tolva.features import features\n"
      "def make():\n"
      "    @other\n"
      "    @features(\n"
      "        name='n',\n"
      "    )\n"
      "    class Inner:\n"
      "        x: int\n"
      "   \t \n"
      "\n"
      "        y = 1  # last\n"
      "    return Inner\n");
  const FeatureClassAST* k = analysis.feature_class("Inner");
  ASSERT_NE(k, nullptr);
  EXPECT_EQ(k->source,
            "@other\n@features(\n    name='n',\n)\nclass Inner:\n    x: int\n\n\n    y = 1  # last\n");
  EXPECT_EQ(k->namespace_, "n");
}

TEST(FeatureClasses, CrLfIsKept) {
  const MarkedSource m(
      "from tolva.features import features\r\n"
      "@features\r\n"
      "‹line›class C:\r‹/line›\n"
      "    x: int\r\n"
      "\r\n"
      "    y = 1\r\n"
      "z = 2\r\n");
  const Analysis analysis = analyse(m);
  const FeatureClassAST* k = analysis.feature_class("C");
  ASSERT_NE(k, nullptr);
  EXPECT_EQ(k->source, "@features\r\nclass C:\r\n    x: int\r\n\r\n    y = 1\r\n");
  // The definition line's range ends after its "\r".
  EXPECT_EQ(k->class_definition_location.range, m.range("line"));
  EXPECT_EQ(k->class_definition_location.range.end, (Position{2, 9}));
}

TEST(FeatureClasses, NonAsciiNamesAndNestedClasses) {
  const MarkedSource m(
      "from tolva.features import features\n"
      "def f():\n"
      "    @features\n"
      "    class ‹k›Caf\xC3\xA9‹/k›:\n"
      "        # \xE2\x82\xAC\n"
      "        ‹x›\xC3\xA9t\xC3\xA9‹/x›: int\n");
  const Analysis analysis = analyse(m);
  ASSERT_EQ(analysis.result.feature_classes.size(), 1u);
  const FeatureClassAST& k = analysis.result.feature_classes.front();
  EXPECT_EQ(k.class_name, "Caf\xC3\xA9");
  EXPECT_EQ(k.class_name_location.range, m.range("k"));
  const FeatureFieldAST& x = *k.fields.find("\xC3\xA9t\xC3\xA9");
  EXPECT_EQ(x.field_name_location.range, m.range("x"));
  EXPECT_EQ(x.comment, "\xE2\x82\xAC");
}

// ---------------------------------------------------------------------------
// The named steps on their own

TEST(CommentMetadata, FromBlocks) {
  struct Case {
    std::vector<std::string_view> block;
    FieldCommentMetadata expected;
  };
  const Case cases[] = {
      {{"a", "b"}, {"a\nb", "a\nb", std::nullopt, {}}},
      // A final empty text adds no line; only white space is no description.
      {{"a", ""}, {"a\n", "a", std::nullopt, {}}},
      {{"", ""}, {"\n", std::nullopt, std::nullopt, {}}},
      {{""}, {"", std::nullopt, std::nullopt, {}}},
      {{":tags:,,a,,b,"}, {":tags:,,a,,b,", std::nullopt, std::nullopt, {"a", "b"}}},
      {{":owner:x", ":tags:"}, {":owner:x\n:tags:", std::nullopt, "x", {}}},
      {{":owner"}, {":owner", ":owner", std::nullopt, {}}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(comment_metadata(c.block), c.expected) << ::testing::PrintToString(c.block);
  }
}

TEST(CommentText, HashesAndWhiteSpaceRemoved) {
  EXPECT_EQ(comment_text("#"), "");
  EXPECT_EQ(comment_text("## a # b "), "a # b");
  EXPECT_EQ(comment_text("#\t\xE2\x80\x83x\xC2\x85"), "x");
}

TEST(DedentedSource, Lines) {
  struct Case {
    std::string text;
    std::uint32_t start;
    std::uint32_t end;
    std::string expected;
  };
  const Case cases[] = {
      {"  a\n    b\n  c\n", 2, 12, "a\n  b\nc\n"},
      // The common indentation is compared character by character.
      {"\t a\n\t\tb\n", 2, 7, " a\n\tb\n"},
      {" \ta\n\t b\n", 2, 7, " \ta\n\t b\n"},
      // Blank lines keep their breaks only; no break at the end of the text.
      {"    a\n  \r\n\n    b", 4, 14, "a\n\r\n\nb"},
      {"x = 1\n", 0, 5, "x = 1\n"},
      // Blank means Unicode white space only (U+3000 is; U+00E9 is not).
      {"  a\n \xE3\x80\x80 \n  b\n", 2, 12, "a\n\nb\n"},
      {"  a\n \xC3\xA9\n  b\n", 2, 11, " a\n\xC3\xA9\n b\n"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(dedented_source(c.text, c.start, c.end), c.expected) << ::testing::PrintToString(c.text);
  }
}

// ---------------------------------------------------------------------------
// Maps of many entries

// A file written piece by piece, with the range of each piece that is to be
// located (ASCII only, so a character is a byte).
class GeneratedSource {
 public:
  Range put(std::string_view piece) {
    const Position start = here();
    text_ += piece;
    return Range{start, here()};
  }
  void line_break() {
    text_ += '\n';
    ++line_;
    line_start_ = text_.size();
  }
  const std::string& text() const { return text_; }

 private:
  Position here() const {
    return Position{line_, static_cast<std::uint32_t>(text_.size() - line_start_)};
  }
  std::string text_;
  std::uint32_t line_ = 0;
  std::size_t line_start_ = 0;
};

// The entries that a map should hold: the keys in the order of their first
// insertion, each with the value of its last one.
template <class V>
class ExpectedMap {
 public:
  void insert(const std::string& key, V value) {
    const auto [it, inserted] = position_.try_emplace(key, entries_.size());
    if (inserted) {
      entries_.emplace_back(key, std::move(value));
    } else {
      entries_[it->second].second = std::move(value);
    }
  }
  const std::vector<std::pair<std::string, V>>& entries() const { return entries_; }

 private:
  std::vector<std::pair<std::string, V>> entries_;
  std::map<std::string, std::size_t> position_;
};

// The map's keys in its order with the range of each value, against the
// expected ones; the first difference fails.
template <class V, class RangeOf>
void expect_entries(const TextMap<V>& map, const ExpectedMap<Range>& expected, RangeOf range_of, const char* what) {
  ASSERT_EQ(map.size(), expected.entries().size()) << what;
  std::size_t i = 0;
  for (const auto& [key, value] : map) {
    const auto& [expected_key, expected_range] = expected.entries()[i];
    ASSERT_EQ(key, expected_key) << what << ", entry " << i;
    ASSERT_EQ(range_of(value), expected_range) << what << ", entry " << i << " (" << key << ")";
    ++i;
  }
}

Range location_range(const Location& location) { return location.range; }

// Each record map of a generated file of 20,000 entries a map, with a name
// repeated now and then where the grammar lets it: the keys in the order of
// their first occurrence, each with the locations of its last one.
TEST(ManyEntries, EveryMapKeepsFirstPositionsAndLastLocations) {
  constexpr std::size_t kEntries = 20000;
  const auto repeated = [](std::size_t i) { return i % 97 == 5 || i + 1 == kEntries; };
  const auto name = [](std::string_view prefix, std::size_t i) {
    std::string out(prefix);
    out += std::to_string(i);
    return out;
  };
  GeneratedSource source;
  source.put("from tolva import online");
  source.line_break();
  source.put("from tolva.features import features");
  source.line_break();

  // A function of many parameters, the repeated ones again as keyword-only
  // parameters with an annotation.
  ExpectedMap<Range> arg_locations;
  ExpectedMap<Range> arg_annotations;
  std::vector<std::string> args_in_order;
  source.put("def many(");
  for (std::size_t i = 0; i < kEntries; ++i) {
    arg_locations.insert(name("p", i), source.put(name("p", i)));
    args_in_order.push_back(name("p", i));
    source.put(", ");
  }
  source.put("*");
  for (std::size_t i = 0; i < kEntries; ++i) {
    if (!repeated(i)) continue;
    source.put(", ");
    const Range name_range = source.put(name("p", i));
    source.put(": ");
    const Range annotation = source.put("int");
    arg_locations.insert(name("p", i), Range{name_range.start, annotation.end});
    arg_annotations.insert(name("p", i), annotation);
    args_in_order.push_back(name("p", i));
  }
  source.put("):");
  source.line_break();
  source.put("    pass");
  source.line_break();

  // A resolver whose decorator call has many keyword arguments (a call
  // that repeats one does not parse) and a dict display of many keys, some
  // repeated.
  ExpectedMap<Range> kwarg_names;
  ExpectedMap<Range> kwargs;
  ExpectedMap<Range> key_names;
  ExpectedMap<Range> key_values;
  const auto put_keywords = [&](std::size_t i, ExpectedMap<Range>& names, ExpectedMap<Range>& values) {
    names.insert(name("k", i), source.put(name("k", i)));
    source.put("=");
    values.insert(name("k", i), source.put(std::to_string(i * 3)));
    source.put(", ");
  };
  source.put("@online(");
  for (std::size_t i = 0; i < kEntries; ++i) put_keywords(i, kwarg_names, kwargs);
  const Range tags_name = source.put("tags");
  source.put("=");
  const Position dict_start = source.put("{").start;
  const auto put_key = [&](std::size_t i) {
    std::string literal = "'";
    literal += name("d", i);
    literal += '\'';
    key_names.insert(name("d", i), source.put(literal));
    source.put(": ");
    key_values.insert(name("d", i), source.put(name("v", i)));
    source.put(", ");
  };
  for (std::size_t i = 0; i < kEntries; ++i) put_key(i);
  for (std::size_t i = 0; i < kEntries; ++i) {
    if (repeated(i)) put_key(i);
  }
  kwarg_names.insert("tags", tags_name);
  kwargs.insert("tags", Range{dict_start, source.put("}").end});
  source.put(")");
  source.line_break();
  source.put("def resolver():");
  source.line_break();
  source.put("    pass");
  source.line_break();

  // A feature class whose field's call has many keyword arguments.
  ExpectedMap<Range> field_kwarg_names;
  ExpectedMap<Range> field_kwargs;
  source.put("@features");
  source.line_break();
  source.put("class Many:");
  source.line_break();
  source.put("    x: int = feature(");
  for (std::size_t i = 0; i < kEntries; ++i) put_keywords(i, field_kwarg_names, field_kwargs);
  source.put(")");
  source.line_break();

  const Analysis analysis = analyse(source.text());
  ASSERT_EQ(analysis.result.functions.size(), 2u);
  const ResolverAST& many = analysis.function("many");
  EXPECT_EQ(many.args_in_order, args_in_order);
  expect_entries(many.args, arg_locations, [](const FunctionArgAST& arg) { return arg.arg_location.range; },
                 "args");
  for (const auto& [key, arg] : many.args) {
    ASSERT_EQ(arg.arg_name, key);
    ASSERT_EQ(arg.annotation.has_value(), repeated(std::stoul(key.substr(1)))) << key;
  }
  ExpectedMap<Range> annotations_found;
  for (const auto& [key, arg] : many.args) {
    if (arg.annotation.has_value()) annotations_found.insert(key, arg.annotation->range);
  }
  EXPECT_EQ(annotations_found.entries(), arg_annotations.entries());

  const ResolverAST& resolver = analysis.function("resolver");
  expect_entries(resolver.kwarg_names, kwarg_names, location_range, "decorator kwarg_names");
  expect_entries(resolver.kwargs, kwargs, location_range, "decorator kwargs");
  ASSERT_EQ(resolver.kwarg_dict_key_names.size(), 1u);
  ASSERT_EQ(resolver.kwarg_dict_values.size(), 1u);
  expect_entries(*resolver.kwarg_dict_key_names.find("tags"), key_names, location_range, "dict key names");
  expect_entries(*resolver.kwarg_dict_values.find("tags"), key_values, location_range, "dict values");

  ASSERT_EQ(analysis.result.feature_classes.size(), 1u);
  const FeatureFieldAST* x = analysis.result.feature_classes.front().fields.find("x");
  ASSERT_NE(x, nullptr);
  expect_entries(x->kwarg_names, field_kwarg_names, location_range, "field kwarg_names");
  expect_entries(x->kwargs, field_kwargs, location_range, "field kwargs");
}

TEST(FeatureFieldName, WhatDefinesAField) {
  struct Case {
    const char* stmt;
    std::optional<std::string_view> name;
  };
  const Case cases[] = {
      {"a = 1", "a"}, {"a: int", "a"}, {"a: int = 1", "a"}, {"(a): int = 1", "a"}, {"a = b = 1", std::nullopt},
      {"a, b = 1, 2", std::nullopt}, {"x.a = 1", std::nullopt}, {"x[0] = 1", std::nullopt},
      {"x.a: int", std::nullopt}, {"a += 1", std::nullopt}, {"pass", std::nullopt},
  };
  for (const Case& c : cases) {
    const tolva::Result<SharedParsedFileCache> file = parse_file_for_cache("/p/m.py", c.stmt);
    ASSERT_TRUE(file.has_value()) << c.stmt;
    EXPECT_EQ(feature_field_name(*file.value()->body().front()), c.name) << c.stmt;
  }
}

TEST(ImportNames, ModulesAndSymbols) {
  const tolva::Result<SharedParsedFileCache> file = parse_file_for_cache(
      "/p/m.py", "from tolva import online as a, offline\nfrom tolva.features import stream as b, features\n");
  ASSERT_TRUE(file.has_value());
  const DecoratorNames resolvers = collect_import_names_for_symbols_from_map(
      file.value()->imports, RESOLVER_DECORATOR_MODULES, RESOLVER_DECORATOR_SYMBOLS);
  std::vector<std::string_view> names(resolvers.names().begin(), resolvers.names().end());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string_view>{"a", "b", "offline"}));
  const DecoratorNames feature = collect_import_names_for_symbols_from_map(
      file.value()->imports, FEATURE_DECORATOR_MODULES, FEATURE_DECORATOR_SYMBOLS);
  EXPECT_TRUE(feature.contains("features"));
  EXPECT_FALSE(feature.contains("b"));
}

TEST(FileLocationForRange, ResolvesThePathOnEveryCall) {
  const Range range{{1, 2}, {3, 4}};
  const std::optional<Location> location = file_location_for_range("/srv/proj[1]/zo\xC3\xAB.py", range);
  ASSERT_TRUE(location.has_value());
  EXPECT_EQ(*location->uri, "file:///srv/proj%5B1%5D/zo%C3%AB.py");
  EXPECT_EQ(location->range, range);
  EXPECT_EQ(file_location_for_range("no/such/dir/x.py", range), std::nullopt);
}

// ---------------------------------------------------------------------------
// Paths

TEST(Paths, EveryAbsolutePathGivesLocationsSharingOneUri) {
  const std::string source =
      "from tolva.features import features\nfrom tolva import online\n"
      "@features\nclass C:\n    x: int\n@online\ndef r(a): return a\n";
  const Analysis analysis = analyse(source, "/home/zo\xC3\xAB/proj[1]/my file.py");
  ASSERT_EQ(analysis.result.functions.size(), 1u);
  ASSERT_EQ(analysis.result.feature_classes.size(), 1u);
  const SharedUri& uri = analysis.result.functions[0].resolver_name_location.uri;
  EXPECT_EQ(*uri, "file:///home/zo%C3%AB/proj%5B1%5D/my%20file.py");
  EXPECT_EQ(analysis.result.functions[0].args.find("a")->arg_location.uri, uri);
  EXPECT_EQ(analysis.result.feature_classes[0].fields.find("x")->field_name_location.uri, uri);
  EXPECT_EQ(analysis.result.feature_classes[0].decorator_location.uri, uri);
}

TEST(Paths, ARelativePathIsResolvedOnceAgainstTheWorkingDirectory) {
  const std::filesystem::path previous = std::filesystem::current_path();
  const std::filesystem::path root =
      std::filesystem::temp_directory_path() / ("tolva_type_parsing_" + std::to_string(::getpid()));
  std::filesystem::remove_all(root);
  std::filesystem::create_directories(root / "zo\xC3\xAB" / "[x]");
  const std::string source = "def f(a):\n    return a\n";
  std::ofstream(root / "zo\xC3\xAB" / "[x]" / "m.py") << source;
  std::filesystem::current_path(root);
  const Analysis analysis = analyse(source, "zo\xC3\xAB/[x]/m.py");
  std::filesystem::current_path(previous);
  std::string expected = "file://";
  append_percent_encoded_path(expected, std::filesystem::canonical(root).string());
  expected += "/zo%C3%AB/%5Bx%5D/m.py";
  std::filesystem::remove_all(root);
  ASSERT_EQ(analysis.result.functions.size(), 1u);
  const ResolverAST& f = analysis.result.functions.front();
  EXPECT_EQ(*f.resolver_name_location.uri, expected);
  // One URI object for every location of the file.
  EXPECT_EQ(f.return_arg->uri, f.resolver_name_location.uri);
  EXPECT_EQ(f.args.find("a")->arg_location.uri, f.resolver_name_location.uri);
}

TEST(Paths, AnUnresolvableRelativePathGivesNoRecords) {
  const Analysis analysis = analyse(
      "from tolva.features import features\n@features\nclass C:\n    x: int\ndef f(): pass\n",
      "no/such/folder/m.py");
  EXPECT_TRUE(analysis.result.functions.empty());
  EXPECT_TRUE(analysis.result.resolvers.empty());
  EXPECT_TRUE(analysis.result.feature_classes.empty());
}


TEST(Concurrency, ThreadsAnalysingOneParsedFileAgree) {
  // The index's workers share one parsed file without locks.
  const Analysis analysis = analyse(
      "from tolva.features import features\nfrom tolva import online\n"
      "@features(name='n')\nclass C:\n    # doc \xC3\xA9\n    x: int = f(a=1)\n"
      "@online(tags={'a': 1})\ndef r(p, *q) -> int:\n    return p\n");
  ASSERT_NE(analysis.file, nullptr);
  std::vector<ParsedAstFile> results(8);
  std::vector<std::thread> threads;
  for (ParsedAstFile& result : results) {
    threads.emplace_back([&analysis, &result] {
      for (int i = 0; i < 200; ++i) result = parse_ast_file_with_feature_module(*analysis.file, "pkg.mod");
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (const ParsedAstFile& result : results) {
    EXPECT_EQ(result.functions, analysis.result.functions);
    EXPECT_EQ(result.feature_classes, analysis.result.feature_classes);
    EXPECT_EQ(result.resolvers, analysis.result.resolvers);
  }
}

// ---------------------------------------------------------------------------
// The return statements of each function come from the file's one walk; they
// must be those that a walk of the function's own body finds, over real code.

TEST(ReturnStatementsCorpus, SameAsAWalkOfEachBodyOverStandardLibraryFiles) {
  TOLVA_ORACLE_OR_SKIP(oracle, "3.11");
  const std::filesystem::path library = oracle->stdlib;
  std::size_t functions = 0;
  for (const char* name : {"argparse.py", "ast.py", "inspect.py", "typing.py", "dataclasses.py", "asyncio/tasks.py",
                           "email/_header_value_parser.py", "pydoc.py", "tarfile.py", "unittest/mock.py"}) {
    std::ifstream in(library / name, std::ios::binary);
    std::string text(std::istreambuf_iterator<char>(in), {});
    const Analysis analysis = analyse(text, (library / name).string());
    ASSERT_NE(analysis.file, nullptr) << name;
    const source_file::LineIndex index = source_file::LineIndex::from_source_text(analysis.file->source());
    PositionConverter positions(analysis.file->source(), index);
    std::size_t i = 0;
    statement_visitor::walk_body_with(analysis.file->body(), [&](const python_ast::Stmt& stmt) {
      const auto* function = stmt.as<python_ast::StmtFunctionDefinition>();
      if (function == nullptr) return;
      ASSERT_LT(i, analysis.result.functions.size());
      const ResolverAST& record = analysis.result.functions[i++];
      ASSERT_EQ(record.resolver_name, function->name.as_str());
      std::vector<Range> expected;
      statement_visitor::walk_body_with(function->body, [&](const python_ast::Stmt& inner) {
        if (inner.is<python_ast::StmtReturn>()) expected.push_back(positions.range(inner.range));
      });
      std::vector<Range> actual;
      for (const Location& location : record.return_statements) actual.push_back(location.range);
      EXPECT_EQ(actual, expected) << name << ": " << record.resolver_name;
    });
    EXPECT_EQ(i, analysis.result.functions.size()) << name;
    functions += i;
  }
  EXPECT_GT(functions, 1000u);
}
}  // namespace
}  // namespace tolva_ast::type_parsing
