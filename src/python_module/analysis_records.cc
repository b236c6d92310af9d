// The four read-only record classes: ResolverAST, FunctionArgAST,
// FeatureClassAST and FeatureFieldAST.
//
// An object holds a shared handle to its immutable record. The records made
// by a lookup are owned by the object alone; a nested record (an entry of
// `ResolverAST.args`, `FeatureClassAST.fields` or `.annotations`) is shown
// through a new object that shares the handle of the record it sits in, so
// reading such an attribute copies nothing. Every getter builds a fresh
// Python value from its field (converters.h).

#include <memory>
#include <optional>
#include <type_traits>
#include <utility>
#include <vector>

#include "python_module/analysis_classes.h"
#include "python_module/class_builder.h"
#include "python_module/converters.h"
#include "python_module/errors.h"

namespace python_module {

namespace {

using tolva_ast::FeatureClassAST;
using tolva_ast::FeatureFieldAST;
using tolva_ast::FunctionArgAST;
using tolva_ast::ResolverAST;

// What a record object holds: the record, and the allocation that keeps it
// alive (the record itself, or the record it is nested in).
template <class RecordType>
struct RecordHandle {
  using Record = RecordType;
  RecordOwner owner;      // never null
  const Record* record;  // inside `owner`'s allocation
};

template <class Record>
RecordHandle<Record> owning_handle(Record record) {
  auto shared = std::make_shared<const Record>(std::move(record));
  const Record* pointer = shared.get();
  return {std::move(shared), pointer};
}

// The fields whose values are shared with other records of the file: a
// list of locations read from its slice, and a class's source, dedented
// now.
PyObject* to_python(const tolva_ast::LocationSlice& locations, const FieldContext& context) {
  Owned list = Owned::steal(PyList_New(static_cast<Py_ssize_t>(locations.size())));
  if (!list) return nullptr;
  Py_ssize_t i = 0;
  for (const tolva_ast::Location location : locations) {
    PyObject* item = to_python(location, context);
    if (item == nullptr) return nullptr;
    PyList_SET_ITEM(list.get(), i++, item);  // steals `item`
  }
  return list.release();
}

PyObject* to_python(const tolva_ast::ClassSource& source, const FieldContext& /*context*/) {
  return new_text(source.text());
}

// Whether a field of type T holds records that become objects of their own
// (FunctionArgAST, FeatureFieldAST), at any depth.
template <class T>
struct NestsRecords : std::false_type {};
template <>
struct NestsRecords<FunctionArgAST> : std::true_type {};
template <>
struct NestsRecords<FeatureFieldAST> : std::true_type {};
template <class T>
struct NestsRecords<std::optional<T>> : NestsRecords<T> {};
template <class T>
struct NestsRecords<std::vector<T>> : NestsRecords<T> {};
template <class V>
struct NestsRecords<tolva_ast::TextMap<V>> : NestsRecords<V> {};

// The getter of one field: one line per attribute in the tables below. Only
// a field with nested records looks up the module state, whose classes the
// nested objects get.
template <class Traits, auto Member>
PyObject* field(PyObject* self, void* /*closure*/) {
  return guarded([&]() -> PyObject* {
    const auto* handle = NativeClass<Traits>::unwrap(self);
    if (handle == nullptr) return nullptr;
    const auto& value = handle->record->*Member;
    const ModuleState* state = nullptr;
    if constexpr (NestsRecords<std::remove_cvref_t<decltype(value)>>::value) {
      state = own_class_state(Py_TYPE(self));
      if (state == nullptr) return nullptr;
    }
    return to_python(value, FieldContext{handle->owner, state});
  });
}

// A nested record object of the context's state.
template <class Traits>
PyObject* nested_object(const typename Traits::Value::Record& record, const FieldContext& context) {
  if (context.state == nullptr) {
    PyErr_SetString(PyExc_SystemError, "a nested record converted without the module state");
    return nullptr;
  }
  return NativeClass<Traits>::wrap(*context.state, {context.owner, &record});
}

struct FeatureFieldClass {
  static constexpr PyTypeObject* ModuleState::*kClass = &ModuleState::feature_field_class;
  using Value = RecordHandle<FeatureFieldAST>;
  static constexpr const char* kName = "builtins.FeatureFieldAST";
  static constexpr const char* kDoc = "";
  static constexpr newfunc kNew = nullptr;
  static PyMethodDef* methods() { return nullptr; }
  static PyGetSetDef* getters() {
    using C = FeatureFieldClass;
    using R = FeatureFieldAST;
    static PyGetSetDef definitions[] = {
        {"field_name", field<C, &R::field_name>, nullptr, "", nullptr},
        {"field_name_location", field<C, &R::field_name_location>, nullptr, "", nullptr},
        {"comment", field<C, &R::comment>, nullptr, "", nullptr},
        {"description", field<C, &R::description>, nullptr, "", nullptr},
        {"owner", field<C, &R::owner>, nullptr, "", nullptr},
        {"tags", field<C, &R::tags>, nullptr, "", nullptr},
        {"annotation", field<C, &R::annotation>, nullptr, "", nullptr},
        {"feature_call", field<C, &R::feature_call>, nullptr, "", nullptr},
        {"kwarg_names", field<C, &R::kwarg_names>, nullptr, "", nullptr},
        {"kwargs", field<C, &R::kwargs>, nullptr, "", nullptr},
        {},
    };
    return definitions;
  }
};

struct FeatureClassClass {
  static constexpr PyTypeObject* ModuleState::*kClass = &ModuleState::feature_class_class;
  using Value = RecordHandle<FeatureClassAST>;
  static constexpr const char* kName = "builtins.FeatureClassAST";
  static constexpr const char* kDoc = "";
  static constexpr newfunc kNew = nullptr;
  static PyMethodDef* methods() { return nullptr; }
  static PyGetSetDef* getters() {
    using C = FeatureClassClass;
    using R = FeatureClassAST;
    static PyGetSetDef definitions[] = {
        {"module", field<C, &R::module>, nullptr, "", nullptr},
        {"namespace", field<C, &R::namespace_>, nullptr, "", nullptr},
        {"class_name", field<C, &R::class_name>, nullptr, "", nullptr},
        {"source", field<C, &R::source>, nullptr, "", nullptr},
        {"class_name_location", field<C, &R::class_name_location>, nullptr, "", nullptr},
        {"class_definition_location", field<C, &R::class_definition_location>, nullptr, "", nullptr},
        {"decorator_location", field<C, &R::decorator_location>, nullptr, "", nullptr},
        {"kwarg_names", field<C, &R::kwarg_names>, nullptr, "", nullptr},
        {"kwargs", field<C, &R::kwargs>, nullptr, "", nullptr},
        {"fields", field<C, &R::fields>, nullptr, "", nullptr},
        {"annotations", field<C, &R::annotations>, nullptr, "", nullptr},
        {},
    };
    return definitions;
  }
};

struct FunctionArgClass {
  static constexpr PyTypeObject* ModuleState::*kClass = &ModuleState::function_arg_class;
  using Value = RecordHandle<FunctionArgAST>;
  static constexpr const char* kName = "builtins.FunctionArgAST";
  static constexpr const char* kDoc = "";
  static constexpr newfunc kNew = nullptr;
  static PyMethodDef* methods() { return nullptr; }
  static PyGetSetDef* getters() {
    using C = FunctionArgClass;
    using R = FunctionArgAST;
    static PyGetSetDef definitions[] = {
        {"arg_name", field<C, &R::arg_name>, nullptr, "", nullptr},
        {"arg_location", field<C, &R::arg_location>, nullptr, "", nullptr},
        {"annotation", field<C, &R::annotation>, nullptr, "", nullptr},
        {},
    };
    return definitions;
  }
};

struct ResolverClass {
  static constexpr PyTypeObject* ModuleState::*kClass = &ModuleState::resolver_class;
  using Value = RecordHandle<ResolverAST>;
  static constexpr const char* kName = "builtins.ResolverAST";
  static constexpr const char* kDoc = "";
  static constexpr newfunc kNew = nullptr;
  static PyMethodDef* methods() { return nullptr; }
  static PyGetSetDef* getters() {
    using C = ResolverClass;
    using R = ResolverAST;
    static PyGetSetDef definitions[] = {
        {"module", field<C, &R::module>, nullptr, "", nullptr},
        {"resolver_name", field<C, &R::resolver_name>, nullptr, "", nullptr},
        {"resolver_name_location", field<C, &R::resolver_name_location>, nullptr, "", nullptr},
        {"decorator_location", field<C, &R::decorator_location>, nullptr, "", nullptr},
        {"kwarg_names", field<C, &R::kwarg_names>, nullptr, "", nullptr},
        {"kwargs", field<C, &R::kwargs>, nullptr, "", nullptr},
        {"kwarg_dict_key_names", field<C, &R::kwarg_dict_key_names>, nullptr, "", nullptr},
        {"kwarg_dict_values", field<C, &R::kwarg_dict_values>, nullptr, "", nullptr},
        {"args_in_order", field<C, &R::args_in_order>, nullptr, "", nullptr},
        {"args", field<C, &R::args>, nullptr, "", nullptr},
        {"return_annotation", field<C, &R::return_annotation>, nullptr, "", nullptr},
        {"missing_return_annotation", field<C, &R::missing_return_annotation>, nullptr, "", nullptr},
        {"return_statements", field<C, &R::return_statements>, nullptr, "", nullptr},
        {"body", field<C, &R::body>, nullptr, "", nullptr},
        {"return_arg", field<C, &R::return_arg>, nullptr, "", nullptr},
        {},
    };
    return definitions;
  }
};

}  // namespace

PyObject* to_python(const FunctionArgAST& record, const FieldContext& context) {
  return nested_object<FunctionArgClass>(record, context);
}

PyObject* to_python(const FeatureFieldAST& record, const FieldContext& context) {
  return nested_object<FeatureFieldClass>(record, context);
}

PyObject* create_feature_field_class(PyObject* module) { return NativeClass<FeatureFieldClass>::create(module); }
PyObject* create_feature_class_class(PyObject* module) { return NativeClass<FeatureClassClass>::create(module); }
PyObject* create_function_arg_class(PyObject* module) { return NativeClass<FunctionArgClass>::create(module); }
PyObject* create_resolver_class(PyObject* module) { return NativeClass<ResolverClass>::create(module); }

PyObject* new_resolver_object(const ModuleState& state, ResolverAST record) {
  return NativeClass<ResolverClass>::wrap(state, owning_handle(std::move(record)));
}

PyObject* new_feature_class_object(const ModuleState& state, FeatureClassAST record) {
  return NativeClass<FeatureClassClass>::wrap(state, owning_handle(std::move(record)));
}

}  // namespace python_module
