#pragma once

// Composable conversions of analysis record fields to new Python values.
//
// `to_python(field, context)` builds a fresh Python value from one field of a
// record: a text becomes a `str`, a Location the 4-tuple (start line, start
// character, end line, end character) of plain `int`s (the URI is never
// shown), an optional the value or None, a list a `list` and a TextMap a
// `dict`, each level converted by the same rules. A nested record becomes a
// new object of its class (see analysis_records.cc): the context's `owner`
// is the shared handle of the record the field belongs to, and the nested
// object shares it, so no record is copied; its `state` is the module state
// whose class the nested object gets. Every call builds new containers; nothing is
// cached.
//
// Each returns a NEW reference, or NULL with an exception set. Needs the
// interpreter lock.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "python_module/module_state.h"
#include "python_module/py_ref.h"
#include "python_module/result_conversion.h"
#include "tolva_ast/ast_types.h"

namespace python_module {

// The record that a field belongs to, kept alive by every object made from
// one of its nested records.
using RecordOwner = std::shared_ptr<const void>;

// Where a field is converted (both BORROWED for the call): the record it
// belongs to, and the module state of the record's class (NULL where no
// record is nested, as for a plain list of texts).
struct FieldContext {
  const RecordOwner& owner;
  const ModuleState* state;
};

inline PyObject* to_python(const std::string& text, const FieldContext& /*context*/) { return new_text(text); }

inline PyObject* to_python(const tolva_ast::Location& location, const FieldContext& /*context*/) {
  const tolva_ast::Range& range = location.range;
  Owned tuple = Owned::steal(PyTuple_New(4));
  if (!tuple) return nullptr;
  const std::uint32_t parts[4] = {range.start.line, range.start.character, range.end.line, range.end.character};
  for (Py_ssize_t i = 0; i < 4; ++i) {
    PyObject* number = new_int(parts[i]);
    if (number == nullptr) return nullptr;
    PyTuple_SET_ITEM(tuple.get(), i, number);  // steals `number`
  }
  return tuple.release();
}

// Nested records (analysis_records.cc): a new object sharing the context's
// owner.
PyObject* to_python(const tolva_ast::FunctionArgAST& record, const FieldContext& context);
PyObject* to_python(const tolva_ast::FeatureFieldAST& record, const FieldContext& context);

template <class T>
PyObject* to_python(const std::optional<T>& value, const FieldContext& context) {
  if (!value) Py_RETURN_NONE;
  return to_python(*value, context);
}

template <class T>
PyObject* to_python(const std::vector<T>& values, const FieldContext& context) {
  Owned list = Owned::steal(PyList_New(static_cast<Py_ssize_t>(values.size())));
  if (!list) return nullptr;
  for (std::size_t i = 0; i < values.size(); ++i) {
    PyObject* item = to_python(values[i], context);
    if (item == nullptr) return nullptr;
    PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), item);  // steals `item`
  }
  return list.release();
}

template <class V>
PyObject* to_python(const tolva_ast::TextMap<V>& map, const FieldContext& context) {
  Owned dict = Owned::steal(PyDict_New());
  if (!dict) return nullptr;
  for (const auto& [key, value] : map) {
    Owned py_key = Owned::steal(new_text(key));
    if (!py_key) return nullptr;
    Owned py_value = Owned::steal(to_python(value, context));
    if (!py_value) return nullptr;
    if (PyDict_SetItem(dict.get(), py_key.get(), py_value.get()) < 0) return nullptr;
  }
  return dict.release();
}

}  // namespace python_module
