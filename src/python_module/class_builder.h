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
//   };
//
// The "builtins." prefix of kName makes the interpreter report `__module__` as
// "builtins" without the deprecation warning that a dotless name draws.
// `NativeClass<Traits>` then creates the type once per process and wraps,
// unwraps and frees values.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <memory>
#include <new>
#include <string_view>
#include <type_traits>
#include <utility>

#include "python_module/errors.h"
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

// Creates a class of the common shape from `spec`. NEW reference, or NULL
// with an exception set.
PyObject* create_class(const ClassSpec& spec) noexcept;

// Sets TypeError "must be {expected}, not {type of object}" (with
// "{expected} or None" when `or_none`) and returns NULL.
PyObject* raise_wrong_type(const char* expected, PyObject* object, bool or_none = false) noexcept;

// The name Python shows for a class: kName after its last dot.
constexpr std::string_view class_display_name(std::string_view qualified) {
  const auto dot = qualified.rfind('.');
  return dot == std::string_view::npos ? qualified : qualified.substr(dot + 1);
}

template <class Traits>
class NativeClass {
 public:
  using Value = typename Traits::Value;
  using Object = Instance<Value>;

  // A suffix of the NUL-terminated kName, so data() is NUL-terminated too.
  static constexpr std::string_view kDisplayName = class_display_name(Traits::kName);

  // The class object: a BORROWED reference to a type created on first use and
  // kept for the life of the process, so that every import of the module
  // (into any module object) adds the same class. NULL with an exception set
  // when it cannot be created.
  static PyTypeObject* type() noexcept {
    // Filled under the interpreter lock, never released.
    static PyTypeObject* cached = nullptr;
    if (cached == nullptr) {
      const ClassSpec spec{Traits::kName,        Traits::kDoc,       static_cast<int>(sizeof(Object)),
                           &NativeClass::dealloc, Traits::kNew,      Traits::getters(),
                           Traits::methods()};
      cached = reinterpret_cast<PyTypeObject*>(create_class(spec));
    }
    return cached;
  }

  // A new object of the class that holds `value`. NEW reference, or NULL with
  // an exception set.
  static PyObject* wrap(Value value) {
    PyTypeObject* cls = type();
    if (cls == nullptr) return nullptr;
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

  // The value held by `object`, or NULL with a TypeError when `object` is not
  // an instance of the class. The pointer is valid while the object lives.
  static const Value* unwrap(PyObject* object) noexcept {
    PyTypeObject* cls = type();
    if (cls == nullptr) return nullptr;
    if (!PyObject_TypeCheck(object, cls)) {
      raise_wrong_type(kDisplayName.data(), object);
      return nullptr;
    }
    return &reinterpret_cast<Object*>(object)->value;
  }

 private:
  static void dealloc(PyObject* object) noexcept {
    PyTypeObject* cls = Py_TYPE(object);
    std::destroy_at(&reinterpret_cast<Object*>(object)->value);
    cls->tp_free(object);
    Py_DECREF(cls);  // instances of a heap type own a reference to it
  }
};

// Entry point helpers. Each wraps a typed implementation in the boundary
// guard and the receiver check, so that the implementation sees its native
// value and never lets a C++ exception through.

// A property getter: `Get(const Value&)` returns a NEW reference or NULL.
template <class Traits, auto Get>
PyObject* getter(PyObject* self, void* /*closure*/) noexcept {
  return guarded([&]() -> PyObject* {
    const auto* value = NativeClass<Traits>::unwrap(self);
    if (value == nullptr) return nullptr;
    return Get(*value);
  });
}

// A METH_FASTCALL | METH_KEYWORDS method:
// `Call(const Value&, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames)`.
template <class Traits, auto Call>
PyObject* fastcall_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
  return guarded([&]() -> PyObject* {
    const auto* value = NativeClass<Traits>::unwrap(self);
    if (value == nullptr) return nullptr;
    return Call(*value, args, nargs, kwnames);
  });
}

// A METH_NOARGS method: `Call(const Value&)`.
template <class Traits, auto Call>
PyObject* noargs_method(PyObject* self, PyObject* /*unused*/) noexcept {
  return guarded([&]() -> PyObject* {
    const auto* value = NativeClass<Traits>::unwrap(self);
    if (value == nullptr) return nullptr;
    return Call(*value);
  });
}

// A tp_new slot: `Construct(PyObject* args, PyObject* kwargs)` binds and
// converts the arguments and returns the new object (through wrap) or NULL.
template <auto Construct>
PyObject* constructor(PyTypeObject* /*type*/, PyObject* args, PyObject* kwargs) noexcept {
  return guarded([&]() -> PyObject* { return Construct(args, kwargs); });
}

// The C type PyMethodDef stores, for an entry point of another signature.
template <class Function>
PyCFunction as_method(Function* function) noexcept {
  return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(function));
}

// Converts an optional argument that must be an instance of a class of the
// module: not given or None gives NULL; an instance gives its value; anything
// else fails with TypeError "must be {Class} or None, not {type}".
template <class Traits>
bool convert_optional_instance(PyObject* object, const typename Traits::Value*& out) noexcept {
  if (object == nullptr || object == Py_None) {
    out = nullptr;
    return true;
  }
  PyTypeObject* cls = NativeClass<Traits>::type();
  if (cls == nullptr) return false;
  if (!PyObject_TypeCheck(object, cls)) {
    raise_wrong_type(NativeClass<Traits>::kDisplayName.data(), object, /*or_none=*/true);
    return false;
  }
  out = &reinterpret_cast<typename NativeClass<Traits>::Object*>(object)->value;
  return true;
}

}  // namespace python_module
