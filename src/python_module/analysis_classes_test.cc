#include "python_module/analysis_classes.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "python_module/converters.h"
#include "python_module/interpreter_lock.h"
#include "test_support/python_module/test_interpreter.h"

namespace python_module {
namespace {

using testing::InterpreterTest;
using testing::show;
using tolva_ast::FeatureClassAST;
using tolva_ast::FeatureFieldAST;
using tolva_ast::Location;
using tolva_ast::LocationMap;
using tolva_ast::NestedLocationMap;

Location at(std::uint32_t line, std::uint32_t start, std::uint32_t end) {
  static const tolva_ast::SharedUri uri = std::make_shared<const std::string>("file:///p/m.py");
  return Location{uri, {{line, start}, {line, end}}};
}

std::string python_text(PyObject* owned) {
  Owned value = Owned::steal(owned);
  return show(value.get());
}

TEST_F(InterpreterTest, UnlockingOnDemandReleasesOnceAndTakesTheLockBack) {
  EXPECT_EQ(run_unlocking_on_demand([](auto& release) {
              EXPECT_TRUE(PyGILState_Check());
              release();
              release();  // the second call does nothing
              return PyGILState_Check();
            }),
            0);
  EXPECT_TRUE(PyGILState_Check());
  // Never released: nothing to take back.
  EXPECT_EQ(run_unlocking_on_demand([](auto&) { return PyGILState_Check(); }), 1);
  EXPECT_TRUE(PyGILState_Check());
  // Work that throws after the release leaves with the lock taken back.
  EXPECT_THROW((void)run_unlocking_on_demand([](auto& release) -> int {
                 release();
                 throw std::runtime_error("analysis failed");
               }),
               std::runtime_error);
  EXPECT_TRUE(PyGILState_Check());
  EXPECT_EQ(run_unlocked([] { return PyGILState_Check(); }), 0);
}

TEST_F(InterpreterTest, ConvertersBuildPlainValues) {
  const RecordOwner no_record;
  const FieldContext none{no_record, nullptr};
  EXPECT_EQ(python_text(to_python(at(3, 4, 9), none)), "(3, 4, 3, 9)");
  EXPECT_EQ(python_text(to_python(std::optional<Location>(), none)), "None");
  EXPECT_EQ(python_text(to_python(std::optional<std::string>("é"), none)), "é");
  EXPECT_EQ(python_text(to_python(std::vector<std::string>{"a", "b"}, none)), "['a', 'b']");
  EXPECT_EQ(python_text(to_python(std::vector<Location>{}, none)), "[]");
  EXPECT_EQ(python_text(to_python(std::vector<Location>{at(0, 0, 1), at(2, 1, 5)}, none)),
            "[(0, 0, 0, 1), (2, 1, 2, 5)]");
  LocationMap inner;
  inner.append_new("k", at(1, 2, 3));
  NestedLocationMap nested;
  nested.append_new("tags", inner);
  nested.append_new("empty", LocationMap{});
  EXPECT_EQ(python_text(to_python(nested, none)), "{'tags': {'k': (1, 2, 1, 3)}, 'empty': {}}");
}

// A nested record object shares the record it sits in, which outlives the
// object it came from.
TEST_F(InterpreterTest, NestedRecordObjectsKeepTheirRecordAlive) {
  FeatureClassAST record;
  record.module = "m";
  record.class_name_location = record.class_definition_location = record.decorator_location = at(0, 0, 1);
  FeatureFieldAST field;
  field.field_name = "balance";
  field.field_name_location = at(5, 4, 11);
  field.owner = "ops";
  field.tags = {"pii"};
  record.fields.append_new("balance", field);
  record.annotations.push_back(field);

  Owned cls = Owned::steal(new_feature_class_object(testing::test_state(), std::move(record)));
  ASSERT_TRUE(cls);
  Owned fields = Owned::steal(PyObject_GetAttrString(cls.get(), "fields"));
  ASSERT_TRUE(fields);
  Owned balance = Owned::share(PyDict_GetItemString(fields.get(), "balance"));
  ASSERT_TRUE(balance);
  fields = Owned();
  cls = Owned();  // the class object is gone; its record is not
  EXPECT_EQ(python_text(PyObject_GetAttrString(balance.get(), "owner")), "ops");
  EXPECT_EQ(python_text(PyObject_GetAttrString(balance.get(), "tags")), "['pii']");
  EXPECT_EQ(python_text(PyObject_GetAttrString(balance.get(), "field_name_location")), "(5, 4, 5, 11)");
  EXPECT_EQ(python_text(PyObject_GetAttrString(balance.get(), "comment")), "None");
  EXPECT_EQ(Py_TYPE(balance.get()), testing::test_state().feature_field_class);
}

}  // namespace
}  // namespace python_module
