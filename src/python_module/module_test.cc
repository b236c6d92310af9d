#include "python_module/module.h"

#include <gtest/gtest.h>

#include "python_module/test_interpreter.h"

namespace python_module {
namespace {

using testing::eval;
using testing::InterpreterTest;
using testing::run;
using testing::show;
using testing::take_error;

TEST_F(InterpreterTest, ExecSlotRefusesWhatIsNotAModule) {
  Owned number = eval("1");
  EXPECT_EQ(exec_module(number.get()), -1);
  EXPECT_EQ(take_error(), "TypeError: must be a module, not int");
  // A subclass of the module type is a module.
  ASSERT_EQ(run("import types\nclass M(types.ModuleType): pass\nsub = M('sub')"), "");
  Owned sub = eval("sub");
  EXPECT_EQ(exec_module(sub.get()), 0) << take_error();
  EXPECT_EQ(show(eval("sub.__all__[-1], sub.to_snake_case('AbcDef')").get()), "('build_namespaced_name', 'abc_def')");
}

TEST_F(InterpreterTest, AllIsCreatedExtendedOrRefused) {
  ASSERT_EQ(run("import types\n"
                "fresh = types.ModuleType('fresh')\n"
                "listed = types.ModuleType('listed'); listed.__all__ = ['mine']\n"
                "tupled = types.ModuleType('tupled'); tupled.__all__ = ('mine',)\n"),
            "");
  Owned fresh = eval("fresh");
  ASSERT_EQ(exec_module(fresh.get()), 0) << take_error();
  EXPECT_EQ(show(eval("len(fresh.__all__), fresh.__all__[0], fresh.parse_duration_ms.__self__ is fresh").get()),
            "(18, 'StdAstFileSystem', True)");

  Owned listed = eval("listed");
  ASSERT_EQ(exec_module(listed.get()), 0) << take_error();
  EXPECT_EQ(show(eval("listed.__all__[:2], len(listed.__all__)").get()), "(['mine', 'StdAstFileSystem'], 19)");

  // The first failure stops the body; nothing is added.
  Owned tupled = eval("tupled");
  EXPECT_EQ(exec_module(tupled.get()), -1);
  EXPECT_EQ(take_error(), "TypeError: __all__ must be a list, not tuple");
  EXPECT_EQ(show(eval("hasattr(tupled, 'StdAstFileSystem'), hasattr(tupled, 'parse_duration_ms'), tupled.__all__").get()),
            "(False, False, ('mine',))");
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
