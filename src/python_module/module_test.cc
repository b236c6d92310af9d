#include "python_module/module.h"

#include <gtest/gtest.h>

#include <string>

#include "python_module/module_state.h"
#include "test_support/python_module/test_interpreter.h"

namespace python_module {
namespace {

using testing::eval;
using testing::InterpreterTest;
using testing::run;
using testing::show;
using testing::take_error;

// A new module object made from the module's definition, not yet executed,
// bound to `name` in the test globals.
Owned new_module(const std::string& name) {
  Owned spec = eval("__import__('types').SimpleNamespace(name='" + name + "')");
  Owned module = Owned::steal(spec ? PyModule_FromDefAndSpec(module_definition(), spec.get()) : nullptr);
  if (module) PyDict_SetItemString(testing::test_globals(), name.c_str(), module.get());
  return module;
}

// Executes a module object as the interpreter does: allocates its state,
// then runs the exec slot.
int execute(PyObject* module) { return PyModule_ExecDef(module, module_definition()); }

TEST_F(InterpreterTest, ExecSlotRefusesWhatIsNotAModuleOfTheDefinition) {
  Owned number = eval("1");
  EXPECT_EQ(exec_module(number.get()), -1);
  EXPECT_EQ(take_error(), "TypeError: must be a module, not int");
  // A subclass of the module type is a module, but one made without the
  // definition has no state to fill.
  ASSERT_EQ(run("import types\nclass M(types.ModuleType): pass\nsub = M('sub')"), "");
  Owned sub = eval("sub");
  EXPECT_EQ(exec_module(sub.get()), -1);
  EXPECT_EQ(take_error(), "SystemError: not a tolva_rs module object");
  EXPECT_EQ(show(eval("hasattr(sub, '__all__')").get()), "False");

  Owned made = new_module("made");
  ASSERT_TRUE(made) << take_error();
  ASSERT_EQ(execute(made.get()), 0) << take_error();
  EXPECT_EQ(show(eval("made.__all__[-1], made.to_snake_case('AbcDef')").get()), "('build_namespaced_name', 'abc_def')");
}

TEST_F(InterpreterTest, AllIsCreatedExtendedOrRefused) {
  Owned fresh = new_module("fresh");
  Owned listed = new_module("listed");
  Owned tupled = new_module("tupled");
  ASSERT_TRUE(fresh && listed && tupled) << take_error();
  ASSERT_EQ(run("listed.__all__ = ['mine']\ntupled.__all__ = ('mine',)\n"), "");
  ASSERT_EQ(execute(fresh.get()), 0) << take_error();
  EXPECT_EQ(show(eval("len(fresh.__all__), fresh.__all__[0], fresh.parse_duration_ms.__self__ is fresh").get()),
            "(18, 'StdAstFileSystem', True)");

  ASSERT_EQ(execute(listed.get()), 0) << take_error();
  EXPECT_EQ(show(eval("listed.__all__[:2], len(listed.__all__)").get()), "(['mine', 'StdAstFileSystem'], 19)");

  // The first failure stops the body; nothing is added.
  EXPECT_EQ(execute(tupled.get()), -1);
  EXPECT_EQ(take_error(), "TypeError: __all__ must be a list, not tuple");
  EXPECT_EQ(show(eval("hasattr(tupled, 'StdAstFileSystem'), hasattr(tupled, 'parse_duration_ms'), tupled.__all__").get()),
            "(False, False, ('mine',))");
}

// Module objects of one interpreter share its classes and exception class
// while the first of them lives; each keeps its own state.
TEST_F(InterpreterTest, ModuleObjectsOfOneInterpreterShareTheClasses) {
  ModuleState& first = testing::test_state();
  Owned again = new_module("again");
  ASSERT_TRUE(again) << take_error();
  ASSERT_EQ(execute(again.get()), 0) << take_error();
  const auto& second = *static_cast<ModuleState*>(PyModule_GetState(again.get()));
  EXPECT_NE(&second, &first);
  EXPECT_EQ(second.resolver_class, first.resolver_class);
  EXPECT_EQ(second.project_index_class, first.project_index_class);
  EXPECT_EQ(second.panic_exception, first.panic_exception);
  EXPECT_EQ(class_state(second.resolver_class), &first);  // methods reach the defining module's state
  Owned added = Owned::steal(PyObject_GetAttrString(again.get(), "ResolverAST"));
  EXPECT_EQ(added.get(), reinterpret_cast<PyObject*>(second.resolver_class)) << take_error();
}

// What each interpreter runs with `m`, a module object of its own: the
// datetime utilities, an index over a one-file project read through a file
// list that is a sequence only by registration, and a nested record.
constexpr const char* kUseTheModule = R"(
import collections.abc, datetime, os, shutil, tempfile
assert m.parse_iso_date('2024-01-02') == datetime.date(2024, 1, 2)
assert m.parse_datetime('2024-01-02T03:04:05+01:30').utcoffset() == datetime.timedelta(hours=1, minutes=30)
assert m.parse_iso_time('03:04Z').tzinfo is datetime.timezone.utc
assert m.duration_isoformat(m.parse_iso_duration('PT90M')) == 'PT1H30M'
class Files:
    def __init__(self, items): self.items = items
    def __iter__(self): return iter(self.items)
    def __len__(self): return len(self.items)
collections.abc.Sequence.register(Files)
root = tempfile.mkdtemp()
try:
    path = os.path.join(root, 'features.py')
    with open(path, 'w') as f:
        f.write('from tolva.features import features\n@features\nclass Account:\n    # :owner: ops\n'
                '    balance: int\n')
    account = m.AstProjectIndex(Files([path]), root).feature_class_ast('features', 'Account')
    assert type(account.fields['balance']) is m.FeatureFieldAST
    assert account.fields['balance'].owner == 'ops'
finally:
    shutil.rmtree(root)
)";

// Runs `code` in a new legacy sub-interpreter (one that shares the lock),
// with `m` a module object of that interpreter made from the definition, and
// ends the sub-interpreter. "" or the error.
std::string run_in_sub_interpreter(const char* code) {
  PyThreadState* main = PyThreadState_Get();
  PyThreadState* sub = Py_NewInterpreter();
  if (sub == nullptr) return "no sub-interpreter";
  std::string outcome;
  {
    Owned globals = Owned::steal(PyDict_New());
    PyDict_SetItemString(globals.get(), "__builtins__", PyEval_GetBuiltins());
    Owned spec = Owned::steal(PyRun_String("__import__('types').SimpleNamespace(name='tolva_rs')", Py_eval_input,
                                           globals.get(), globals.get()));
    Owned module = Owned::steal(spec ? PyModule_FromDefAndSpec(module_definition(), spec.get()) : nullptr);
    if (!module || PyModule_ExecDef(module.get(), module_definition()) < 0 ||
        PyDict_SetItemString(globals.get(), "m", module.get()) < 0) {
      outcome = take_error();
    } else {
      Owned result = Owned::steal(PyRun_String(code, Py_file_input, globals.get(), globals.get()));
      if (!result) outcome = take_error();
    }
  }
  Py_EndInterpreter(sub);
  PyThreadState_Swap(main);
  return outcome;
}

// Every object of a sub-interpreter's module ends with it: the main
// interpreter's module, used between sub-interpreters, never meets one (under
// AddressSanitizer, a use after free would show here).
TEST_F(InterpreterTest, LegacySubInterpretersUseModulesOfTheirOwn) {
  PyDict_SetItemString(testing::test_globals(), "m", testing::test_module());
  for (int round = 0; round < 3; ++round) {
    EXPECT_EQ(run_in_sub_interpreter(kUseTheModule), "") << "round " << round;
    EXPECT_EQ(run(kUseTheModule), "") << "round " << round;
  }
  PyDict_DelItemString(testing::test_globals(), "m");
}

TEST_F(InterpreterTest, AddToModuleAppendsThenSets) {
  ASSERT_EQ(run("import types\nplain = types.ModuleType('plain')"), "");
  Owned plain = eval("plain");
  Owned value = eval("42");
  ASSERT_TRUE(add_to_module(plain.get(), "answer", value.get()));
  ASSERT_TRUE(add_to_module(plain.get(), "again", value.get()));
  EXPECT_EQ(show(eval("plain.__all__, plain.answer, plain.again").get()), "(['answer', 'again'], 42, 42)");
}

}  // namespace
}  // namespace python_module
