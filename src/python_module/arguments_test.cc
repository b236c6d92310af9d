#include "python_module/arguments.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <string>
#include <vector>

#include "test_support/python_module/test_interpreter.h"

namespace python_module {
namespace {

using testing::eval;
using testing::InterpreterTest;
using testing::run;
using testing::show;
using testing::take_error;

constexpr const char* kOne[] = {"name"};
constexpr const char* kTwo[] = {"namespace", "name"};
constexpr const char* kThree[] = {"files", "project_root", "filesystem"};
constexpr const char* kFour[] = {"a", "b", "c", "d"};

constexpr Signature kFunction{"to_snake_case", nullptr, kOne, 1};
constexpr Signature kOptional{"build_namespaced_name", nullptr, kTwo, 0};
constexpr Signature kConstructor{"__new__", "AstProjectIndex", kThree, 2};
constexpr Signature kMethod{"function_ast", "AstProjectIndex", kFour, 4};

struct BindCase {
  const Signature* signature;
  int positional;                      // values 0, 1, 2, ... by position
  std::vector<const char*> keywords;   // then one value per keyword
  std::string expected;                // the bound slots ("0 1 - k0") or the error
};

// Binds through both protocols and renders the slots: a positional value i
// shows as "i", a keyword value as "k<i>", an absent slot as "-".
std::string bind_both(const BindCase& test, bool fastcall) {
  std::vector<Owned> values;
  std::vector<PyObject*> args;
  for (int i = 0; i < test.positional; ++i) {
    values.push_back(Owned::steal(PyUnicode_FromFormat("%d", i)));
    args.push_back(values.back().get());
  }
  Owned kwnames = Owned::steal(PyTuple_New(static_cast<Py_ssize_t>(test.keywords.size())));
  Owned kwargs = Owned::steal(PyDict_New());
  for (std::size_t k = 0; k < test.keywords.size(); ++k) {
    values.push_back(Owned::steal(PyUnicode_FromFormat("k%zu", k)));
    args.push_back(values.back().get());
    PyTuple_SET_ITEM(kwnames.get(), static_cast<Py_ssize_t>(k), PyUnicode_FromString(test.keywords[k]));
    PyDict_SetItemString(kwargs.get(), test.keywords[k], values.back().get());
  }
  std::array<PyObject*, 4> slots{};
  std::span<PyObject*> bound(slots.data(), test.signature->parameters.size());
  bool ok = false;
  if (fastcall) {
    ok = bind_fastcall(*test.signature, args.data(), test.positional, test.keywords.empty() ? nullptr : kwnames.get(),
                       bound);
  } else {
    Owned tuple = Owned::steal(PyTuple_New(test.positional));
    for (int i = 0; i < test.positional; ++i) PyTuple_SET_ITEM(tuple.get(), i, Py_NewRef(args[i]));
    ok = bind_tuple_and_dict(*test.signature, tuple.get(), test.keywords.empty() ? nullptr : kwargs.get(), bound);
  }
  if (!ok) return take_error();
  std::string shown;
  for (PyObject* slot : bound) {
    if (!shown.empty()) shown += ' ';
    shown += slot == nullptr ? "-" : show(slot);
  }
  return shown;
}

TEST_F(InterpreterTest, BindsByPositionAndKeywordWithTheInterpretersMessages) {
  const BindCase cases[] = {
      {&kFunction, 1, {}, "0"},
      {&kFunction, 0, {"name"}, "k0"},
      {&kFunction, 0, {}, "TypeError: to_snake_case() missing 1 required positional argument: 'name'"},
      {&kFunction, 2, {}, "TypeError: to_snake_case() takes 1 positional argument but 2 were given"},
      {&kFunction, 0, {"x"}, "TypeError: to_snake_case() got an unexpected keyword argument 'x'"},
      {&kFunction, 1, {"name"}, "TypeError: to_snake_case() got multiple values for argument 'name'"},
      {&kFunction, 1, {"nam"}, "TypeError: to_snake_case() got an unexpected keyword argument 'nam'"},
      {&kOptional, 0, {}, "- -"},
      {&kOptional, 0, {"name"}, "- k0"},
      {&kOptional, 1, {"name"}, "0 k0"},
      {&kOptional, 0, {"name", "namespace"}, "k1 k0"},
      {&kOptional, 3, {}, "TypeError: build_namespaced_name() takes from 0 to 2 positional arguments but 3 were given"},
      {&kConstructor, 2, {}, "0 1 -"},
      {&kConstructor, 0, {"filesystem", "project_root", "files"}, "k2 k1 k0"},
      {&kConstructor, 1, {"filesystem"},
       "TypeError: AstProjectIndex.__new__() missing 1 required positional argument: 'project_root'"},
      {&kConstructor, 0, {}, "TypeError: AstProjectIndex.__new__() missing 2 required positional arguments: "
                             "'files' and 'project_root'"},
      {&kConstructor, 4, {}, "TypeError: AstProjectIndex.__new__() takes from 2 to 3 positional arguments but 4 were given"},
      {&kConstructor, 1, {"files"}, "TypeError: AstProjectIndex.__new__() got multiple values for argument 'files'"},
      {&kMethod, 0, {"b"}, "TypeError: AstProjectIndex.function_ast() missing 3 required positional arguments: "
                           "'a', 'c', and 'd'"},
      {&kMethod, 5, {}, "TypeError: AstProjectIndex.function_ast() takes 4 positional arguments but 5 were given"},
      {&kMethod, 1, {"b", "c", "d"}, "0 k0 k1 k2"},
  };
  for (const BindCase& test : cases) {
    for (bool fastcall : {true, false}) {
      EXPECT_EQ(bind_both(test, fastcall), test.expected)
          << test.signature->name << " with " << test.positional << " positional, fastcall=" << fastcall;
    }
  }
}

TEST_F(InterpreterTest, ZeroParameterCallableCountsGivenArguments) {
  constexpr Signature none{"nonblocking_start_index", "AstProjectIndex", {}, 0};
  PyObject* one[] = {Py_None};
  std::array<PyObject*, 1> slots{};
  EXPECT_FALSE(bind_fastcall(none, one, 1, nullptr, std::span<PyObject*>(slots.data(), 0)));
  EXPECT_EQ(take_error(),
            "TypeError: AstProjectIndex.nonblocking_start_index() takes 0 positional arguments but 1 was given");
}

TEST_F(InterpreterTest, KeywordDictionaryWithNonTextKeyIsRefused) {
  Owned args = eval("()");
  Owned kwargs = eval("{1: 2}");
  std::array<PyObject*, 3> slots{};
  EXPECT_FALSE(bind_tuple_and_dict(kConstructor, args.get(), kwargs.get(), slots));
  EXPECT_EQ(take_error(), "TypeError: AstProjectIndex.__new__() keywords must be strings");
  // A keyword holding a lone surrogate is named in the message without failing.
  kwargs = eval("{'\\udc80x': 2}");
  EXPECT_FALSE(bind_tuple_and_dict(kConstructor, args.get(), kwargs.get(), slots));
  EXPECT_EQ(take_error().substr(0, 64), "TypeError: AstProjectIndex.__new__() got an unexpected keyword a");
}

// Converts `expression` with `convert` and renders the outcome. The value is
// kept alive until the next call, since a text view points into it.
template <class Out, class Convert>
std::string converted(const std::string& expression, Convert convert, Out& out) {
  static Owned object;
  object = eval(expression);
  if (!object) return "eval failed: " + take_error();
  if (!convert(object.get(), out)) return take_error();
  return "ok";
}

TEST_F(InterpreterTest, TextConversion) {
  std::string_view text;
  EXPECT_EQ(converted("'Feature' + 'Class'", convert_text, text), "ok");
  EXPECT_EQ(text, "FeatureClass");
  EXPECT_EQ(converted("'h\\u00e9\\U0001F600'", convert_text, text), "ok");
  EXPECT_EQ(text, "h\xc3\xa9\xf0\x9f\x98\x80");
  ASSERT_EQ(run("class S(str): pass"), "");
  EXPECT_EQ(converted("S('sub')", convert_text, text), "ok");
  EXPECT_EQ(text, "sub");
  EXPECT_EQ(converted("1", convert_text, text), "TypeError: must be str, not int");
  EXPECT_EQ(converted("b'x'", convert_text, text), "TypeError: must be str, not bytes");
  EXPECT_EQ(converted("'a\\ud800'", convert_text, text).substr(0, 20), "UnicodeEncodeError: ");

  std::optional<std::string_view> optional;
  EXPECT_EQ(converted("None", convert_optional_text, optional), "ok");
  EXPECT_FALSE(optional.has_value());
  EXPECT_TRUE(convert_optional_text(nullptr, optional));
  EXPECT_FALSE(optional.has_value());
  EXPECT_EQ(converted("''", convert_optional_text, optional), "ok");
  EXPECT_EQ(optional, std::optional<std::string_view>(""));
  EXPECT_EQ(converted("3", convert_optional_text, optional), "TypeError: must be str, not int");
}

TEST_F(InterpreterTest, TextListConversion) {
  ASSERT_EQ(run(R"(
import collections.abc
class S(str): pass
class Registered:
    # Not a sequence to the interpreter, but registered as one.
    def __iter__(self): return iter(['r1', 'r2'])
    def __len__(self): raise RuntimeError('no length')
collections.abc.Sequence.register(Registered)
class Interrupted(collections.abc.Sequence):
    def __len__(self): raise KeyboardInterrupt()
    def __getitem__(self, i): raise IndexError(i)
class Breaks(collections.abc.Sequence):
    def __len__(self): return 2
    def __getitem__(self, i):
        if i == 0: return 'a'
        raise KeyError('broken')
class Huge(list):
    # A length far beyond memory: only a hint.
    def __len__(self): return 10**12
class Short(list):
    def __len__(self): return 1
)"),
            "");
  struct Case {
    const char* expression;
    std::string expected;
    std::vector<std::string> items;
  };
  const Case cases[] = {
      {"['b.py', 'a.py', 'b.py']", "ok", {"b.py", "a.py", "b.py"}},
      {"('x.py',)", "ok", {"x.py"}},
      {"[]", "ok", {}},
      {"Registered()", "ok", {"r1", "r2"}},
      {"Huge(['h1', 'h2'])", "ok", {"h1", "h2"}},
      {"Short(['s1', 's2', 's3'])", "ok", {"s1", "s2", "s3"}},
      {"'a.py'", "TypeError: Can't extract `str` to `Vec`", {}},
      {"S('a.py')", "TypeError: Can't extract `str` to `Vec`", {}},
      {"1", "TypeError: must be a sequence of str, not int", {}},
      {"{'a.py': 1}", "TypeError: must be a sequence of str, not dict", {}},
      {"(f for f in ['a.py'])", "TypeError: must be a sequence of str, not generator", {}},
      {"['a.py', 2]", "TypeError: sequence item 1: expected str instance, int found", {}},
      {"['a\\udc80']", "UnicodeEncodeError: 'utf-8' codec can't encode character '\\udc80' in position 1: "
                      "surrogates not allowed", {}},
      {"Breaks()", "KeyError: 'broken'", {}},
      {"Interrupted()", "KeyboardInterrupt: ", {}},
  };
  for (const Case& test : cases) {
    std::vector<std::string> out;
    EXPECT_EQ(converted(test.expression, TextListConversion{testing::test_state()}, out), test.expected)
        << test.expression;
    if (test.expected == "ok") {
      EXPECT_EQ(out, test.items) << test.expression;
    }
  }
}

TEST_F(InterpreterTest, SecondsConversion) {
  ASSERT_EQ(run(R"(
class F:
    def __float__(self): return 2.5
class I:
    def __index__(self): return 7
)"),
            "");
  struct Case {
    const char* expression;
    std::string expected;
    double value;
  };
  const Case cases[] = {
      {"90.0", "ok", 90.0},
      {"90", "ok", 90.0},
      {"True", "ok", 1.0},
      {"F()", "ok", 2.5},
      {"I()", "ok", 7.0},
      {"float('-inf')", "ok", -HUGE_VAL},
      {"-1.0", "ok", -1.0},
      {"'90'", "TypeError: must be real number, not str", 0},
      {"None", "TypeError: must be real number, not NoneType", 0},
      {"10**400", "OverflowError: int too large to convert to float", 0},
  };
  for (const Case& test : cases) {
    double out = 0;
    EXPECT_EQ(converted(test.expression, convert_seconds, out), test.expected) << test.expression;
    if (test.expected == "ok") {
      EXPECT_EQ(out, test.value) << test.expression;
    }
  }
}

TEST_F(InterpreterTest, ArgumentContextWrapsOnlyTypeError) {
  // A TypeError becomes "argument 'x': ..." with the original as __cause__.
  PyErr_SetString(PyExc_TypeError, "must be str, not int");
  add_argument_context("name");
  ASSERT_TRUE(PyErr_ExceptionMatches(PyExc_TypeError));
  PyObject *type = nullptr, *value = nullptr, *traceback = nullptr;
  PyErr_Fetch(&type, &value, &traceback);
  PyErr_NormalizeException(&type, &value, &traceback);
  Owned error = Owned::steal(value);
  Py_XDECREF(type);
  Py_XDECREF(traceback);
  EXPECT_EQ(show(error.get()), "argument 'name': must be str, not int");
  Owned cause = Owned::steal(PyException_GetCause(error.get()));
  ASSERT_TRUE(cause);
  EXPECT_TRUE(Py_IS_TYPE(cause.get(), reinterpret_cast<PyTypeObject*>(PyExc_TypeError)));
  EXPECT_EQ(show(cause.get()), "must be str, not int");

  // Anything else is left exactly as it is.
  const std::pair<PyObject*, const char*> others[] = {
      {PyExc_OverflowError, "OverflowError: too big"},
      {PyExc_UnicodeError, "UnicodeError: too odd"},
      {PyExc_ValueError, "ValueError: bad"},
  };
  for (const auto& [kind, expected] : others) {
    PyErr_SetString(kind, std::string(expected).substr(std::string(expected).find(": ") + 2).c_str());
    add_argument_context("name");
    EXPECT_EQ(take_error(), expected);
  }
  ASSERT_EQ(run("class SubTypeError(TypeError): pass"), "");
  Owned sub = eval("SubTypeError");
  PyErr_SetString(sub.get(), "special");
  add_argument_context("name");
  EXPECT_EQ(take_error(), "SubTypeError: special");
  // Nothing pending: nothing happens.
  add_argument_context("name");
  EXPECT_FALSE(PyErr_Occurred());
}

}  // namespace
}  // namespace python_module
