// The module definition of "tolva_rs" and its initialisation.
//
// Multi-phase initialisation: PyInit_tolva_rs only hands the interpreter the
// definition; the interpreter creates the module object with its state
// (module_state.h) and runs the single exec slot, which first makes what
// the libraries make once per process (their prepare_for_threads), then
// fills the state, then adds the classes and then the functions, each also
// appended to `__all__` in that order, stopping at the first failure.
//
// The definition declares no Py_mod_multiple_interpreters slot: legacy
// sub-interpreters, which share the main interpreter's lock, load the module
// (each with its own state); an interpreter with a lock of its own refuses
// it with ImportError.

#include "python_module/module.h"

#include <optional>
#include <string>
#include <type_traits>
#include <utility>

#include "python_module/analysis_classes.h"
#include "python_module/arguments.h"
#include "python_module/class_builder.h"
#include "python_module/compat.h"
#include "python_module/errors.h"
#include "python_module/functions.h"
#include "python_module/module_state.h"
#include "python_module/py_ref.h"
#include "tolva_ast/fork_safety.h"
#include "tolva_utils/namespace.h"

namespace python_module {

namespace {

constexpr int kFastcallFlags = METH_FASTCALL | METH_KEYWORDS;

// The module functions in registration order. Each doc text holds only the
// text signature followed by "\n--\n\n", so the interpreter reports
// `__text_signature__` and a `__doc__` of None.
PyMethodDef kFunctions[] = {
    {"parse_duration_ms", as_method(&parse_duration_ms), kFastcallFlags, "parse_duration_ms(s)\n--\n\n"},
    {"parse_duration_s", as_method(&parse_duration_s), kFastcallFlags, "parse_duration_s(s)\n--\n\n"},
    {"seconds_to_duration_string", as_method(&seconds_to_duration_string), kFastcallFlags,
     "seconds_to_duration_string(total_seconds)\n--\n\n"},
    {"parse_iso_date", as_method(&parse_iso_date), kFastcallFlags, "parse_iso_date(s)\n--\n\n"},
    {"parse_iso_time", as_method(&parse_iso_time), kFastcallFlags, "parse_iso_time(s)\n--\n\n"},
    {"parse_datetime", as_method(&parse_datetime), kFastcallFlags, "parse_datetime(s)\n--\n\n"},
    {"parse_iso_duration", as_method(&parse_iso_duration), kFastcallFlags, "parse_iso_duration(s)\n--\n\n"},
    {"duration_isoformat", as_method(&duration_isoformat), kFastcallFlags, "duration_isoformat(tduration)\n--\n\n"},
    {"timezone_from_name", as_method(&timezone_from_name), kFastcallFlags, "timezone_from_name(name)\n--\n\n"},
    {"to_snake_case", as_method(&to_snake_case), kFastcallFlags, "to_snake_case(name)\n--\n\n"},
    {"build_namespaced_name", as_method(&build_namespaced_name), kFastcallFlags,
     "build_namespaced_name(namespace=None, name=None)\n--\n\n"},
};

// The classes in registration order: each creator makes a class whose
// defining module is the module being executed, and the state keeps it.
struct ClassEntry {
  const char* name;
  PyObject* (*create)(PyObject* module);
  PyTypeObject* ModuleState::*member;
};
constexpr ClassEntry kClasses[] = {
    {"StdAstFileSystem", &create_std_ast_file_system_class, &ModuleState::file_system_class},
    {"AstFileParserCache", &create_ast_file_parser_cache_class, &ModuleState::parser_cache_class},
    {"FeatureFieldAST", &create_feature_field_class, &ModuleState::feature_field_class},
    {"FeatureClassAST", &create_feature_class_class, &ModuleState::feature_class_class},
    {"FunctionArgAST", &create_function_arg_class, &ModuleState::function_arg_class},
    {"ResolverAST", &create_resolver_class, &ModuleState::resolver_class},
    {"AstProjectIndex", &create_ast_project_index_class, &ModuleState::project_index_class},
};

// The state is zeroed memory of the interpreter's (every field NULL) before
// the exec slot fills it.
static_assert(std::is_trivial_v<ModuleState> && std::is_standard_layout_v<ModuleState>);

// Where an interpreter keeps a weak reference to the module object whose
// classes its later module objects share.
constexpr const char* kClassesOwnerKey = "tolva_rs.classes_owner";

// A module object of this interpreter whose state holds the classes, if one
// is alive: a NEW reference, or NULL with no exception set.
PyObject* live_classes_owner(PyObject* interpreter_dict) {
  PyObject* reference = PyDict_GetItemString(interpreter_dict, kClassesOwnerKey);  // BORROWED
  if (reference == nullptr || !PyWeakref_CheckRef(reference)) return nullptr;
  Owned owner = Owned::steal(compat::weakref_target(reference));
  if (!owner || !PyModule_Check(owner.get()) || PyModule_GetDef(owner.get()) != module_definition()) return nullptr;
  auto* state = static_cast<ModuleState*>(PyModule_GetState(owner.get()));
  if (state == nullptr || state->project_index_class == nullptr) return nullptr;  // not filled, or cleared
  return owner.release();
}

// The classes of the state: those of a live module object of the same
// interpreter when there is one, so that every import of the module into one
// interpreter (into any module object) adds the same classes, as it did
// before; else new ones defined by `module`, which then becomes the
// interpreter's owner of the classes.
bool fill_classes(PyObject* module, ModuleState& state) {
  // The last class is made last: the slot ran to the end before on this
  // module object.
  if (state.project_index_class != nullptr) return true;
  PyObject* interpreter_dict = PyInterpreterState_GetDict(PyInterpreterState_Get());  // BORROWED
  if (interpreter_dict == nullptr) {
    PyErr_NoMemory();
    return false;
  }
  if (Owned owner = Owned::steal(live_classes_owner(interpreter_dict))) {
    const auto& shared = *static_cast<ModuleState*>(PyModule_GetState(owner.get()));
    for (const ClassEntry& entry : kClasses) {
      PyTypeObject*& slot = state.*entry.member;
      Py_XDECREF(slot);  // one this module object made in a run that failed later
      slot = reinterpret_cast<PyTypeObject*>(Py_NewRef(shared.*entry.member));
    }
    return true;
  }
  for (const ClassEntry& entry : kClasses) {
    if (state.*entry.member != nullptr) continue;  // made by a run that failed later
    PyObject* cls = entry.create(module);
    if (cls == nullptr) return false;
    state.*entry.member = reinterpret_cast<PyTypeObject*>(cls);
  }
  Owned reference = Owned::steal(PyWeakref_NewRef(module, nullptr));
  return reference && PyDict_SetItemString(interpreter_dict, kClassesOwnerKey, reference.get()) == 0;
}

// Fills what the exec slot makes: the classes, the exception class and the
// interned names. The rest is filled on first use.
bool fill_state(PyObject* module, ModuleState& state) {
  if (!fill_classes(module, state)) return false;
  if (state.panic_exception == nullptr) {
    PyObject* panic = panic_exception_type();  // BORROWED
    if (panic == nullptr) return false;
    state.panic_exception = Py_NewRef(panic);
  }
  const std::pair<PyObject* ModuleState::*, const char*> names[] = {
      {&ModuleState::datetime_name, "datetime"},
      {&ModuleState::timezone_name, "timezone"},
      {&ModuleState::zoneinfo_name, "zoneinfo"},
      {&ModuleState::zone_info_name, "ZoneInfo"},
  };
  for (const auto& [member, text] : names) {
    if (state.*member == nullptr) state.*member = PyUnicode_InternFromString(text);
    if (state.*member == nullptr) return false;
  }
  return true;
}

// Function objects are bound to the module (`__self__` is the module) and
// carry its name (`__module__`).
bool add_function(PyObject* module, PyObject* module_name, PyMethodDef* definition) {
  Owned function = Owned::steal(PyCMethod_New(definition, module, module_name, nullptr));
  if (!function) return false;
  return add_to_module(module, definition->ml_name, function.get());
}

// Makes, on the importing thread, what the libraries make once per process,
// so that no worker and no call that releases the interpreter lock is the
// first to reach it: a fork then never finds one half made. ImportError with
// the library's text when one cannot be made.
bool prepare_libraries_for_threads() {
  for (auto prepare : {&tolva_ast::prepare_for_threads, &tolva_utils::prepare_for_threads}) {
    if (const std::optional<std::string> error = prepare()) {
      PyErr_SetString(PyExc_ImportError, error->c_str());
      return false;
    }
  }
  return true;
}

// The module body: the libraries' preparation, the state, the classes, then
// the functions, stopping at the first failure. Nothing added before a
// failure is removed.
bool module_body(PyObject* module) {
  if (!prepare_libraries_for_threads()) return false;
  ModuleState* state = module_state(module);
  if (state == nullptr || !fill_state(module, *state)) return false;
  Owned module_name = Owned::steal(PyModule_GetNameObject(module));
  if (!module_name) return false;
  for (const ClassEntry& entry : kClasses) {
    if (!add_to_module(module, entry.name, reinterpret_cast<PyObject*>(state->*entry.member))) return false;
  }
  for (PyMethodDef& definition : kFunctions) {
    if (!add_function(module, module_name.get(), &definition)) return false;
  }
  return true;
}

PyModuleDef_Slot kSlots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(&exec_module)},
    {0, nullptr},
};

PyModuleDef kDefinition = {
    PyModuleDef_HEAD_INIT,
    "tolva_rs",  // m_name
    "",          // m_doc: present and empty
    sizeof(ModuleState),  // m_size
    nullptr,              // m_methods: the exec slot adds the functions
    kSlots,
    &traverse_module_state,
    &clear_module_state,
    &free_module_state,
};

}  // namespace

PyModuleDef* module_definition() { return &kDefinition; }

bool add_to_module(PyObject* module, const char* name, PyObject* object) {
  Owned all_name = Owned::steal(PyUnicode_InternFromString("__all__"));
  if (!all_name) return false;
  Owned all = Owned::steal(PyObject_GetAttr(module, all_name.get()));
  if (!all) {
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return false;
    PyErr_Clear();
    all = Owned::steal(PyList_New(0));
    if (!all || PyObject_SetAttr(module, all_name.get(), all.get()) < 0) return false;
  } else if (!PyList_Check(all.get())) {
    Owned type = Owned::steal(type_name_of(all.get()));
    if (type) PyErr_Format(PyExc_TypeError, "__all__ must be a list, not %U", type.get());
    return false;
  }
  Owned key = Owned::steal(PyUnicode_FromString(name));
  if (!key) return false;
  if (PyList_Append(all.get(), key.get()) < 0) return false;
  return PyObject_SetAttr(module, key.get(), object) == 0;
}

int exec_module(PyObject* module) {
  return guarded_status([&]() -> int {
    if (!PyModule_Check(module)) {
      raise_wrong_type("a module", module);
      return -1;
    }
    // A module object not made from the definition has no state: SystemError.
    return module_body(module) ? 0 : -1;
  });
}

}  // namespace python_module

PyMODINIT_FUNC PyInit_tolva_rs(void) { return PyModuleDef_Init(&python_module::kDefinition); }
