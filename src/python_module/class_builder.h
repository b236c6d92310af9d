#pragma once

// Python classes that wrap one native value.
//
// Every class of the module has the same shape: a heap type built from a
// `PyType_Spec`, base `object`, not subclassable, no instance `__dict__`, no
// weak references, no special methods of its own (objects compare and hash by
// identity), read-only properties, and methods using the fast-call protocol
// (or no arguments). Constructible classes have a `tp_new` that binds its
// arguments by position or keyword; the others cannot be instantiated from
// Python and are made only by the module.
//
// A wrapper describes its class with a traits type:
//
//   struct ResolverClass {
//     using Value = tolva_ast::ResolverAST;
//     static constexpr const char* kName = "builtins.ResolverAST";
//     static constexpr const char* kDoc = "";
//     static PyGetSetDef* getters();   // NULL-terminated array, or NULL
//     static PyMethodDef* methods();   // NULL-terminated array, or NULL
//     static constexpr newfunc kNew = nullptr;  // or a constructor entry point
//     // Where the module state keeps the class (the module's own classes).
//     static constexpr PyTypeObject* ModuleState::*kClass = &ModuleState::resolver_class;
//   };
//
// The "builtins." prefix of kName makes the interpreter report `__module__` as
// "builtins" without the deprecation warning that a dotless name draws.
// `NativeClass<Traits>` then creates the type for one module object (the exec
// slot keeps it in the module state, one per interpreter) and wraps, unwraps
// and frees values. Methods, getters and constructors reach the module state
// through their class's defining module.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <memory>
#include <new>
#include <string_view>
#include <type_traits>
#include <utility>

#include "python_module/errors.h"
#include "python_module/module_state.h"
#include "python_module/py_ref.h"

namespace python_module {

// The layout of an object: the interpreter's header, then the native value,
// which the object holds for its whole life and never changes.
template <class Value>
struct Instance {
  PyObject_HEAD
  Value value;
};

struct ClassSpec {
  const char* name;        // "builtins.ResolverAST"
  const char* doc;         // "" or "AstProjectIndex(files, project_root, filesystem=None)\n--\n\n"
  int basic_size;          // sizeof the Instance
  destructor dealloc;
  newfunc new_object;      // NULL: not instantiable from Python
  PyGetSetDef* getters;    // NULL-terminated, or NULL
  PyMethodDef* methods;    // NULL-terminated, or NULL
};

// Creates a class of the common shape from `spec`, with `module` as its
// defining module (NULL: none). NEW reference, or NULL with an exception set.
PyObject* create_class(const ClassSpec& spec, PyObject* module);

// Sets TypeError "must be {expected}, not {type of object}" (with
// "{expected} or None" when `or_none`) and returns NULL.
PyObject* raise_wrong_type(const char* expected, PyObject* object, bool or_none = false);

// The name Python shows for a class: kName after its last dot.
constexpr std::string_view class_display_name(std::string_view qualified) {
  const auto dot = qualified.rfind('.');
  return dot == std::string_view::npos ? qualified : qualified.substr(dot + 1);
}

// Traits of one of the module's own classes, which the module state keeps.
template <class Traits>
concept StateClass = requires { Traits::kClass; };

template <class Traits>
class NativeClass {
 public:
  using Value = typename Traits::Value;
  using Object = Instance<Value>;

  // A suffix of the NUL-terminated kName, so data() is NUL-terminated too.
  static constexpr std::string_view kDisplayName = class_display_name(Traits::kName);

  // A new class object whose defining module is `module` (the module object
  // being executed; NULL for none). NEW reference, or NULL with an exception
  // set.
  static PyObject* create(PyObject* module) {
    const ClassSpec spec{Traits::kName,        Traits::kDoc,       static_cast<int>(sizeof(Object)),
                         &NativeClass::dealloc, Traits::kNew,      Traits::getters(),
                         Traits::methods()};
    return create_class(spec, module);
  }

  // Whether `object` is an instance of a class made by `create`, in whichever
  // interpreter: every such class has this deallocator, which no other type
  // has, and none can be subclassed.
  static bool is_instance(PyObject* object) { return Py_TYPE(object)->tp_dealloc == &NativeClass::dealloc; }

  // A new object of `cls` (a class made by `create`) that holds `value`. NEW
  // reference, or NULL with an exception set.
  static PyObject* wrap(PyTypeObject* cls, Value value) {
    PyObject* object = cls->tp_alloc(cls, 0);  // also takes a reference to cls
    if (object == nullptr) return nullptr;
    try {
      std::construct_at(&reinterpret_cast<Object*>(object)->value, std::move(value));
    } catch (...) {
      // No value to destroy: free the memory without running dealloc.
      cls->tp_free(object);
      Py_DECREF(cls);
      throw;
    }
    return object;
  }

  // The same for the class that `state` keeps.
  static PyObject* wrap(const ModuleState& state, Value value)
    requires StateClass<Traits>
  {
    PyTypeObject* cls = state_class(Traits::kClass, state);
    if (cls == nullptr) return nullptr;
    return wrap(cls, std::move(value));
  }

  // The value held by `object`, or NULL with a TypeError when `object` is not
  // an instance of the class. The pointer is valid while the object lives.
  static const Value* unwrap(PyObject* object) {
    if (!is_instance(object)) {
      raise_wrong_type(kDisplayName.data(), object);
      return nullptr;
    }
    return &reinterpret_cast<Object*>(object)->value;
  }

 private:
  static void dealloc(PyObject* object) {
    PyTypeObject* cls = Py_TYPE(object);
    std::destroy_at(&reinterpret_cast<Object*>(object)->value);
    cls->tp_free(object);
    Py_DECREF(cls);  // instances of a heap type own a reference to it
  }
};

// Entry point helpers. Each wraps a typed implementation in the boundary
// guard and the receiver check, so that the implementation sees its native
// value and never lets a C++ exception through. An implementation that also
// takes the module state first (`Get(ModuleState&, const Value&)`) is given
// the state of the receiver's class; the others skip that lookup.

// Runs `Call` on the value of `self` (an instance of the class), with the
// module state first when `Call` takes it.
template <auto Call, class Value, class... Args>
PyObject* call_on_value(PyObject* self, const Value& value, Args... args) {
  if constexpr (std::is_invocable_v<decltype(Call), ModuleState&, const Value&, Args...>) {
    ModuleState* state = own_class_state(Py_TYPE(self));
    if (state == nullptr) return nullptr;
    return Call(*state, value, args...);
  } else {
    return Call(value, args...);
  }
}

// A property getter: `Get([ModuleState&,] const Value&)` returns a NEW
// reference or NULL.
template <class Traits, auto Get>
PyObject* getter(PyObject* self, void* /*closure*/) {
  return guarded([&]() -> PyObject* {
    const auto* value = NativeClass<Traits>::unwrap(self);
    if (value == nullptr) return nullptr;
    return call_on_value<Get>(self, *value);
  });
}

// A METH_FASTCALL | METH_KEYWORDS method: `Call([ModuleState&,] const Value&,
// PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames)`.
template <class Traits, auto Call>
PyObject* fastcall_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    const auto* value = NativeClass<Traits>::unwrap(self);
    if (value == nullptr) return nullptr;
    return call_on_value<Call>(self, *value, args, nargs, kwnames);
  });
}

// A METH_NOARGS method: `Call([ModuleState&,] const Value&)`.
template <class Traits, auto Call>
PyObject* noargs_method(PyObject* self, PyObject* /*unused*/) {
  return guarded([&]() -> PyObject* {
    const auto* value = NativeClass<Traits>::unwrap(self);
    if (value == nullptr) return nullptr;
    return call_on_value<Call>(self, *value);
  });
}

// A tp_new slot: `Construct(PyTypeObject* type, ModuleState& state, PyObject*
// args, PyObject* kwargs)` binds and converts the arguments and returns the
// new object of `type` (through wrap) or NULL; `state` is the state of the
// type's defining module.
template <auto Construct>
PyObject* constructor(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return guarded([&]() -> PyObject* {
    ModuleState* state = own_class_state(type);
    if (state == nullptr) return nullptr;
    return Construct(type, *state, args, kwargs);
  });
}

// The C type PyMethodDef stores, for an entry point of another signature.
template <class Function>
PyCFunction as_method(Function* function) {
  return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(function));
}

// Converts an optional argument that must be an instance of a class of the
// module: not given or None gives NULL; an instance gives its value; anything
// else fails with TypeError "must be {Class} or None, not {type}".
template <class Traits>
bool convert_optional_instance(PyObject* object, const typename Traits::Value*& out) {
  if (object == nullptr || object == Py_None) {
    out = nullptr;
    return true;
  }
  if (!NativeClass<Traits>::is_instance(object)) {
    raise_wrong_type(NativeClass<Traits>::kDisplayName.data(), object, /*or_none=*/true);
    return false;
  }
  out = &reinterpret_cast<typename NativeClass<Traits>::Object*>(object)->value;
  return true;
}

}  // namespace python_module
