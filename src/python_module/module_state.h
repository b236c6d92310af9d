#pragma once

// The module state: every Python object the module keeps.
//
// Each module object made from the module's definition has one state (the
// definition's m_size), so each interpreter has its own classes, exception
// class, datetime C API, `collections.abc.Sequence`, interned names and zone
// table, and no object of one interpreter is ever used by another. The
// interpreter frees the state with its module object (m_free); the garbage
// collector sees its references (m_traverse) and can break the cycles
// through them (m_clear), so every field may be NULL again after a clear.
//
// A module function reaches the state through its module, a method, getter
// or constructor through the defining module of its class: `module_state`
// and `class_state` check what they are given, `function_state` and
// `own_class_state` serve the entry points, which know it is the module's. Every use needs the interpreter lock, which guards the
// fields that are filled on first use.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <array>
#include <cstddef>

namespace python_module {

// Fixed-offset time zones of whole minutes within a day, the offsets the ISO
// parsers read: from -23:59 to +23:59, one slot per minute.
inline constexpr int kMaxZoneMinutes = 24 * 60 - 1;
inline constexpr std::size_t kZoneSlots = 2 * kMaxZoneMinutes + 1;

struct ModuleState {
  // The seven classes, in registration order: created by the exec slot with
  // the module as their defining module, or shared with an earlier module
  // object of the same interpreter (see module.cc). OWNED.
  PyTypeObject* file_system_class;
  PyTypeObject* parser_cache_class;
  PyTypeObject* feature_field_class;
  PyTypeObject* feature_class_class;
  PyTypeObject* function_arg_class;
  PyTypeObject* resolver_class;
  PyTypeObject* project_index_class;

  // PanicException, the interpreter's own (errors.h). OWNED.
  PyObject* panic_exception;

  // Interned names, made by the exec slot. OWNED.
  PyObject* datetime_name;   // "datetime"
  PyObject* timezone_name;   // "timezone"
  PyObject* zoneinfo_name;   // "zoneinfo"
  PyObject* zone_info_name;  // "ZoneInfo"

  // Filled on first use, so that importing the module imports neither
  // `datetime` nor `collections.abc`.
  PyObject* datetime_capsule;  // `datetime.datetime_CAPI`, OWNED; keeps `datetime_api` valid
  void* datetime_api;          // the PyDateTime_CAPI inside the capsule
  PyObject* abc_sequence;      // collections.abc.Sequence, OWNED

  // The zones of parse_datetime by offset in minutes (datetime_functions.cc),
  // each made on first use. OWNED.
  std::array<PyObject*, kZoneSlots> offset_zones;
};

// The module's definition (module.cc): a module object is the module's when
// it was made from it.
PyModuleDef* module_definition();

// The state of a module object made from the module's definition (`self` of
// a module function). NULL with SystemError for any other object.
ModuleState* module_state(PyObject* module);

// The state of the module that defined `type`, one of the module's classes
// (for a method or getter the type of its receiver, for a constructor its
// type argument). NULL with SystemError when `type` has no defining module
// made from the definition.
ModuleState* class_state(PyTypeObject* type);

// The same two lookups on the hot paths of the entry points, for what is known
// to be the module's own: `self` of a module function (only the exec slot
// binds the functions, to module objects of the definition), and the class
// of a receiver that passed the class check, or a constructor's type. One
// call into the interpreter; the checked lookup above runs only to report
// a state that is missing.
inline ModuleState* function_state(PyObject* module) {
  auto* state = static_cast<ModuleState*>(PyModule_GetState(module));
  if (state == nullptr) [[unlikely]] return module_state(module);
  return state;
}

inline ModuleState* own_class_state(PyTypeObject* type) {
  auto* state = static_cast<ModuleState*>(PyType_GetModuleState(type));
  if (state == nullptr) [[unlikely]] {
    PyErr_Clear();  // the TypeError of a class without a module: reported below
    return class_state(type);
  }
  return state;
}

// A class of the state, checked: a BORROWED reference, or NULL with
// SystemError when the state no longer holds it (after a clear).
PyTypeObject* state_class(PyTypeObject* ModuleState::*member, const ModuleState& state);

// The definition's slots for the state's life (module.cc names them).
int traverse_module_state(PyObject* module, visitproc visit, void* arg);
int clear_module_state(PyObject* module);
void free_module_state(void* module);

}  // namespace python_module
