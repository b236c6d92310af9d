#include "python_module/module_state.h"

namespace python_module {

namespace {

// Calls `each` with every OWNED reference field of the state.
template <class Each>
int for_each_reference(ModuleState& state, Each&& each) {
  PyObject** fields[] = {
      reinterpret_cast<PyObject**>(&state.file_system_class),
      reinterpret_cast<PyObject**>(&state.parser_cache_class),
      reinterpret_cast<PyObject**>(&state.feature_field_class),
      reinterpret_cast<PyObject**>(&state.feature_class_class),
      reinterpret_cast<PyObject**>(&state.function_arg_class),
      reinterpret_cast<PyObject**>(&state.resolver_class),
      reinterpret_cast<PyObject**>(&state.project_index_class),
      &state.panic_exception,
      &state.datetime_name,
      &state.timezone_name,
      &state.zoneinfo_name,
      &state.zone_info_name,
      &state.datetime_capsule,
      &state.abc_sequence,
  };
  for (PyObject** field : fields) {
    if (const int status = each(*field)) return status;
  }
  for (PyObject*& zone : state.offset_zones) {
    if (const int status = each(zone)) return status;
  }
  return 0;
}

// The state of a module object of the definition, or NULL without an
// exception (no state yet, or another module).
ModuleState* state_of(PyObject* module) {
  if (module == nullptr || !PyModule_Check(module) || PyModule_GetDef(module) != module_definition()) return nullptr;
  return static_cast<ModuleState*>(PyModule_GetState(module));
}

}  // namespace

ModuleState* module_state(PyObject* module) {
  ModuleState* state = state_of(module);
  if (state == nullptr) PyErr_SetString(PyExc_SystemError, "not a tolva_rs module object");
  return state;
}

ModuleState* class_state(PyTypeObject* type) {
  ModuleState* state = nullptr;
  if (PyType_HasFeature(type, Py_TPFLAGS_HEAPTYPE)) {
    PyObject* module = PyType_GetModule(type);  // BORROWED; TypeError when the class has none
    if (module == nullptr) PyErr_Clear();
    state = state_of(module);
  }
  if (state == nullptr) PyErr_Format(PyExc_SystemError, "'%s' is not a class of tolva_rs", type->tp_name);
  return state;
}

PyTypeObject* state_class(PyTypeObject* ModuleState::*member, const ModuleState& state) {
  PyTypeObject* cls = state.*member;
  if (cls == nullptr) PyErr_SetString(PyExc_SystemError, "the classes of this tolva_rs module were cleared");
  return cls;
}

int traverse_module_state(PyObject* module, visitproc visit, void* arg) {
  ModuleState* state = state_of(module);
  if (state == nullptr) return 0;
  return for_each_reference(*state, [&](PyObject* object) -> int {
    Py_VISIT(object);
    return 0;
  });
}

int clear_module_state(PyObject* module) {
  ModuleState* state = state_of(module);
  if (state == nullptr) return 0;
  state->datetime_api = nullptr;  // its capsule goes below
  return for_each_reference(*state, [](PyObject*& object) -> int {
    Py_CLEAR(object);
    return 0;
  });
}

void free_module_state(void* module) { clear_module_state(static_cast<PyObject*>(module)); }

}  // namespace python_module
