// The module definition of "tolva_rs" and its initialisation.
//
// Multi-phase initialisation: PyInit_tolva_rs only hands the interpreter the
// definition; the interpreter creates the module object and runs the single
// exec slot, which adds the classes and then the functions, each also
// appended to `__all__` in that order, stopping at the first failure.

#include "python_module/module.h"

#include "python_module/analysis_classes.h"
#include "python_module/arguments.h"
#include "python_module/class_builder.h"
#include "python_module/errors.h"
#include "python_module/functions.h"
#include "python_module/py_ref.h"

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

// The classes in registration order: each accessor creates its type on first
// use and returns it BORROWED.
struct ClassEntry {
  const char* name;
  PyTypeObject* (*type)() noexcept;
};
constexpr ClassEntry kClasses[] = {
    {"StdAstFileSystem", &std_ast_file_system_class},
    {"AstFileParserCache", &ast_file_parser_cache_class},
    {"FeatureFieldAST", &feature_field_class},
    {"FeatureClassAST", &feature_class_class},
    {"FunctionArgAST", &function_arg_class},
    {"ResolverAST", &resolver_class},
    {"AstProjectIndex", &ast_project_index_class},
};

// Function objects are bound to the module (`__self__` is the module) and
// carry its name (`__module__`).
bool add_function(PyObject* module, PyObject* module_name, PyMethodDef* definition) noexcept {
  Owned function = Owned::steal(PyCMethod_New(definition, module, module_name, nullptr));
  if (!function) return false;
  return add_to_module(module, definition->ml_name, function.get());
}

// The module body: the classes, then the functions, stopping at the first
// failure. Nothing added before a failure is removed.
bool module_body(PyObject* module) noexcept {
  Owned module_name = Owned::steal(PyModule_GetNameObject(module));
  if (!module_name) return false;
  for (const ClassEntry& entry : kClasses) {
    PyTypeObject* type = entry.type();
    if (type == nullptr) return false;
    if (!add_to_module(module, entry.name, reinterpret_cast<PyObject*>(type))) return false;
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
    0,           // m_size: no per-module state
    nullptr,     // m_methods: the exec slot adds the functions
    kSlots,
    nullptr,  // m_traverse
    nullptr,  // m_clear
    nullptr,  // m_free
};

}  // namespace

bool add_to_module(PyObject* module, const char* name, PyObject* object) noexcept {
  static PyObject* all_name = nullptr;
  if (interned(all_name, "__all__") == nullptr) return false;
  Owned all = Owned::steal(PyObject_GetAttr(module, all_name));
  if (!all) {
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return false;
    PyErr_Clear();
    all = Owned::steal(PyList_New(0));
    if (!all || PyObject_SetAttr(module, all_name, all.get()) < 0) return false;
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

int exec_module(PyObject* module) noexcept {
  return guarded_status([&]() -> int {
    if (!PyModule_Check(module)) {
      raise_wrong_type("a module", module);
      return -1;
    }
    return module_body(module) ? 0 : -1;
  });
}

}  // namespace python_module

PyMODINIT_FUNC PyInit_tolva_rs(void) { return PyModuleDef_Init(&python_module::kDefinition); }
