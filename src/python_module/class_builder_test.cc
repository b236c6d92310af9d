#include "python_module/class_builder.h"

#include <gtest/gtest.h>

#include <array>
#include <string>

#include "python_module/arguments.h"
#include "python_module/result_conversion.h"
#include "support/fatal_error.h"
#include "test_support/python_module/test_interpreter.h"

namespace python_module {
namespace {

using testing::eval;
using testing::InterpreterTest;
using testing::run;
using testing::show;
using testing::take_error;

// A native value that counts its live copies, to prove objects free it.
struct Counted {
  explicit Counted(std::string text) : text(std::move(text)) { ++live; }
  Counted(const Counted& other) : text(other.text) { ++live; }
  Counted(Counted&& other) noexcept : text(std::move(other.text)) { ++live; }
  ~Counted() { --live; }
  std::string text;
  static inline int live = 0;
};

PyObject* get_text(const Counted& value) { return new_text(value.text); }
PyObject* get_broken(const Counted&) { tolva::fatal("record field should exist"); }

constexpr const char* kSuffix[] = {"suffix"};
constexpr Signature kShout{"shout", "TestRecord", kSuffix, 1};

PyObject* shout(const Counted& value, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  std::array<PyObject*, 1> bound;
  if (!bind_fastcall(kShout, args, nargs, kwnames, bound)) return nullptr;
  std::string_view suffix;
  if (!convert_argument(kShout, bound, 0, convert_text, suffix)) return nullptr;
  return new_text(value.text + std::string(suffix));
}

PyObject* size(const Counted& value) { return new_int(static_cast<std::int64_t>(value.text.size())); }

// A record class: made only by native code.
struct RecordClass {
  using Value = Counted;
  static constexpr const char* kName = "builtins.TestRecord";
  static constexpr const char* kDoc = "";
  static constexpr newfunc kNew = nullptr;
  static PyGetSetDef* getters() {
    static PyGetSetDef definitions[] = {
        {"text", getter<RecordClass, &get_text>, nullptr, "", nullptr},
        {"broken", getter<RecordClass, &get_broken>, nullptr, "", nullptr},
        {},
    };
    return definitions;
  }
  static PyMethodDef* methods() {
    static PyMethodDef definitions[] = {
        {"shout", as_method(&fastcall_method<RecordClass, &shout>), METH_FASTCALL | METH_KEYWORDS,
         "shout($self, suffix)\n--\n\n"},
        {"size", as_method(&noargs_method<RecordClass, &size>), METH_NOARGS, "size($self)\n--\n\n"},
        {},
    };
    return definitions;
  }
};

PyObject* make_made(PyTypeObject* type, ModuleState& state, PyObject* args, PyObject* kwargs);

// A constructible class.
struct MadeClass {
  using Value = Counted;
  static constexpr const char* kName = "builtins.TestMade";
  static constexpr const char* kDoc = "TestMade(text)\n--\n\n";
  static constexpr newfunc kNew = &constructor<&make_made>;
  static PyGetSetDef* getters() {
    static PyGetSetDef definitions[] = {
        {"text", getter<MadeClass, &get_text>, nullptr, "", nullptr},
        {},
    };
    return definitions;
  }
  static PyMethodDef* methods() { return nullptr; }
};

constexpr const char* kText[] = {"text"};
constexpr Signature kMadeNew{"__new__", "TestMade", kText, 1};

PyObject* make_made(PyTypeObject* type, ModuleState& /*state*/, PyObject* args, PyObject* kwargs) {
  std::array<PyObject*, 1> bound;
  if (!bind_tuple_and_dict(kMadeNew, args, kwargs, bound)) return nullptr;
  std::string_view text;
  if (!convert_argument(kMadeNew, bound, 0, convert_text, text)) return nullptr;
  return NativeClass<MadeClass>::wrap(type, Counted(std::string(text)));
}

// The test classes, made once for the test run with the test module as their
// defining module. BORROWED.
template <class Traits>
PyTypeObject* test_class() {
  static PyObject* cls = NativeClass<Traits>::create(testing::test_module());
  return reinterpret_cast<PyTypeObject*>(cls);
}

class ClassBuilderTest : public InterpreterTest {
 protected:
  void SetUp() override {
    InterpreterTest::SetUp();
    auto* record = reinterpret_cast<PyObject*>(test_class<RecordClass>());
    auto* made = reinterpret_cast<PyObject*>(test_class<MadeClass>());
    ASSERT_NE(record, nullptr) << take_error();
    ASSERT_NE(made, nullptr) << take_error();
    PyDict_SetItemString(testing::test_globals(), "TestRecord", record);
    PyDict_SetItemString(testing::test_globals(), "TestMade", made);
    Owned object = Owned::steal(NativeClass<RecordClass>::wrap(test_class<RecordClass>(), Counted("hello")));
    ASSERT_TRUE(object);
    PyDict_SetItemString(testing::test_globals(), "record", object.get());
  }
  void TearDown() override {
    PyDict_DelItemString(testing::test_globals(), "record");
    InterpreterTest::TearDown();
  }

  // str() of an expression's value, or its error.
  static std::string value_of(const std::string& expression) {
    Owned value = eval(expression);
    return value ? show(value.get()) : take_error();
  }
};

TEST_F(ClassBuilderTest, ClassReachesTheStateOfItsDefiningModule) {
  EXPECT_EQ(class_state(test_class<RecordClass>()), &testing::test_state());
  EXPECT_EQ(take_error(), "");
  // A class of no module, or of another module, has no state of ours.
  Owned orphan = Owned::steal(NativeClass<RecordClass>::create(nullptr));
  ASSERT_TRUE(orphan);
  EXPECT_EQ(class_state(reinterpret_cast<PyTypeObject*>(orphan.get())), nullptr);
  EXPECT_EQ(take_error(), "SystemError: 'builtins.TestRecord' is not a class of tolva_rs");
  EXPECT_EQ(class_state(&PyLong_Type), nullptr);
  EXPECT_EQ(take_error(), "SystemError: 'int' is not a class of tolva_rs");
  Owned foreign = eval("__import__('collections').OrderedDict");
  EXPECT_EQ(class_state(reinterpret_cast<PyTypeObject*>(foreign.get())), nullptr);
  take_error();
  // Every class the traits make is theirs, whichever module defines it.
  Owned orphan_object = Owned::steal(NativeClass<RecordClass>::wrap(reinterpret_cast<PyTypeObject*>(orphan.get()),
                                                                    Counted("orphan")));
  ASSERT_TRUE(orphan_object);
  EXPECT_TRUE(NativeClass<RecordClass>::is_instance(orphan_object.get()));
  EXPECT_FALSE(NativeClass<MadeClass>::is_instance(orphan_object.get()));

  EXPECT_EQ(value_of("(TestRecord.__module__, TestRecord.__name__, TestRecord.__qualname__)"),
            "('builtins', 'TestRecord', 'TestRecord')");
  EXPECT_EQ(value_of("TestRecord.__mro__"), "(<class 'builtins.TestRecord'>, <class 'object'>)");
  EXPECT_EQ(value_of("repr(TestRecord.__doc__)"), "''");
  // A class's doc holding only its signature leaves an empty __doc__.
  EXPECT_EQ(value_of("(TestMade.__doc__, TestMade.__text_signature__)"), "('', '(text)')");
}

// The interpreter names a class by its full spec name ("builtins.TestRecord")
// in its own messages and reprs, and by its short name in __name__.
TEST_F(ClassBuilderTest, CommonShape) {
  struct Case {
    const char* expression;
    const char* expected;
  };
  const Case cases[] = {
      // Record classes cannot be instantiated, nothing can be subclassed.
      {"TestRecord()", "TypeError: cannot create 'builtins.TestRecord' instances"},
      {"type('Sub', (TestRecord,), {})", "TypeError: type 'builtins.TestRecord' is not an acceptable base type"},
      {"type('Sub', (TestMade,), {})", "TypeError: type 'builtins.TestMade' is not an acceptable base type"},
      // Read-only properties with an empty doc, no __dict__, no weak references.
      {"record.text", "hello"},
      {"setattr(record, 'text', 'x')", "AttributeError: attribute 'text' of 'builtins.TestRecord' objects is not writable"},
      {"delattr(record, 'text')", "AttributeError: attribute 'text' of 'builtins.TestRecord' objects is not writable"},
      {"setattr(record, 'other', 1)", "AttributeError: 'builtins.TestRecord' object has no attribute 'other'"},
      {"hasattr(record, '__dict__')", "False"},
      {"__import__('weakref').ref(record)", "TypeError: cannot create weak reference to 'builtins.TestRecord' object"},
      {"repr(TestRecord.text.__doc__)", "''"},
      // Identity semantics: no special methods of its own.
      {"(record == record, hash(record) == hash(record), record != record)", "(True, True, False)"},
      {"repr(record).startswith('<builtins.TestRecord object at 0x')", "True"},
      {"'__repr__' in vars(TestRecord) or '__eq__' in vars(TestRecord) or '__hash__' in vars(TestRecord)", "False"},
      // Methods bind like functions and name their class.
      {"record.shout('!')", "hello!"},
      {"record.shout(suffix='?')", "hello?"},
      {"record.shout()", "TypeError: TestRecord.shout() missing 1 required positional argument: 'suffix'"},
      {"record.shout(1)", "TypeError: argument 'suffix': must be str, not int"},
      {"record.size()", "5"},
      {"record.size(1)", "TypeError: TestRecord.size() takes no arguments (1 given)"},
      {"(TestRecord.shout.__text_signature__, TestRecord.size.__text_signature__, TestRecord.shout.__doc__)",
       "('($self, suffix)', '($self)', None)"},
      // The descriptors check the receiver before the getter runs.
      {"TestRecord.text.__get__(1)", "TypeError: descriptor 'text' for 'builtins.TestRecord' objects doesn't apply to a 'int' object"},
      {"TestRecord.shout(1, '!')", "TypeError: descriptor 'shout' for 'builtins.TestRecord' objects doesn't apply to a 'int' object"},
      // A fatal error in a getter is a PanicException, not a crash.
      {"record.broken", "PanicException: record field should exist"},
      // Constructors bind by position or keyword.
      {"TestMade('x').text", "x"},
      {"TestMade(text='y').text", "y"},
      {"TestMade()", "TypeError: TestMade.__new__() missing 1 required positional argument: 'text'"},
      {"TestMade('a', 'b')", "TypeError: TestMade.__new__() takes 1 positional argument but 2 were given"},
      {"TestMade(txt='a')", "TypeError: TestMade.__new__() got an unexpected keyword argument 'txt'"},
      {"TestMade(1)", "TypeError: argument 'text': must be str, not int"},
      {"TestMade('\\udc80')", "UnicodeEncodeError: 'utf-8' codec can't encode character '\\udc80' in position 0: "
                             "surrogates not allowed"},
  };
  for (const Case& test : cases) EXPECT_EQ(value_of(test.expression), test.expected) << test.expression;
}

TEST_F(ClassBuilderTest, EntryPointsCheckTheReceiverThemselves) {
  // Called directly (as a C caller could), the helpers refuse a foreign receiver.
  Owned number = eval("1");
  EXPECT_EQ((getter<RecordClass, &get_text>(number.get(), nullptr)), nullptr);
  EXPECT_EQ(take_error(), "TypeError: must be TestRecord, not int");
  EXPECT_EQ((noargs_method<RecordClass, &size>(number.get(), nullptr)), nullptr);
  EXPECT_EQ(take_error(), "TypeError: must be TestRecord, not int");
  Owned made = eval("TestMade('m')");
  EXPECT_EQ(NativeClass<RecordClass>::unwrap(made.get()), nullptr);
  EXPECT_EQ(take_error(), "TypeError: must be TestRecord, not TestMade");
}

TEST_F(ClassBuilderTest, OptionalInstanceConversion) {
  const Counted* value = reinterpret_cast<const Counted*>(1);
  EXPECT_TRUE(convert_optional_instance<MadeClass>(nullptr, value));
  EXPECT_EQ(value, nullptr);
  EXPECT_TRUE(convert_optional_instance<MadeClass>(Py_None, value));
  EXPECT_EQ(value, nullptr);
  Owned made = eval("TestMade('fs')");
  ASSERT_TRUE(convert_optional_instance<MadeClass>(made.get(), value));
  ASSERT_NE(value, nullptr);
  EXPECT_EQ(value->text, "fs");
  Owned record = eval("record");
  EXPECT_FALSE(convert_optional_instance<MadeClass>(record.get(), value));
  EXPECT_EQ(take_error(), "TypeError: must be TestMade or None, not TestRecord");
}

TEST_F(ClassBuilderTest, ObjectsFreeTheirValue) {
  const int before = Counted::live;
  {
    Owned a = Owned::steal(NativeClass<RecordClass>::wrap(test_class<RecordClass>(), Counted("a")));
    Owned b = eval("[TestMade(str(i)) for i in range(100)]");
    ASSERT_TRUE(a && b);
    EXPECT_EQ(Counted::live, before + 101);
  }
  EXPECT_EQ(Counted::live, before);
}

}  // namespace
}  // namespace python_module
