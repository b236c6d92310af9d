#include "python_module/arguments.h"

#include <algorithm>

#include "python_module/compat.h"
#include "python_module/py_ref.h"

namespace python_module {

namespace {

// "to_snake_case()" or "AstProjectIndex.function_ast()": how messages name the
// callable. NEW reference or NULL.
PyObject* callable_display(const Signature& signature) {
  if (signature.class_name != nullptr) {
    return PyUnicode_FromFormat("%s.%s()", signature.class_name, signature.name);
  }
  return PyUnicode_FromFormat("%s()", signature.name);
}

// Sets TypeError "{callable} {detail}", detail formatted from a NEW reference.
bool fail_with(const Signature& signature, PyObject* detail_owned) {
  Owned detail = Owned::steal(detail_owned);
  Owned display = Owned::steal(callable_display(signature));
  if (!detail || !display) return false;
  PyErr_Format(PyExc_TypeError, "%U %U", display.get(), detail.get());
  return false;
}

bool fail_surplus(const Signature& signature, Py_ssize_t given) {
  const auto count = static_cast<Py_ssize_t>(signature.parameters.size());
  const auto required = static_cast<Py_ssize_t>(signature.required);
  const char* verb = given == 1 ? "was" : "were";
  if (required == count) {
    return fail_with(signature, PyUnicode_FromFormat("takes %zd positional argument%s but %zd %s given",
                                                     count, count == 1 ? "" : "s", given, verb));
  }
  return fail_with(signature, PyUnicode_FromFormat("takes from %zd to %zd positional arguments but %zd %s given",
                                                   required, count, given, verb));
}

// "missing 2 required positional arguments: 'a' and 'b'" (three or more:
// "'a', 'b', and 'c'", as the interpreter writes them).
bool fail_missing(const Signature& signature, std::span<PyObject* const> bound) {
  std::vector<const char*> missing;
  for (std::size_t i = 0; i < signature.required; ++i) {
    if (bound[i] == nullptr) missing.push_back(signature.parameters[i]);
  }
  Owned names = Owned::steal(PyUnicode_FromString(""));
  for (std::size_t i = 0; names && i < missing.size(); ++i) {
    const char* separator = i == 0 ? "" : (missing.size() == 2 ? " and " : (i + 1 == missing.size() ? ", and " : ", "));
    names = Owned::steal(PyUnicode_FromFormat("%U%s'%s'", names.get(), separator, missing[i]));
  }
  if (!names) return false;
  return fail_with(signature, PyUnicode_FromFormat("missing %zu required positional argument%s: %U", missing.size(),
                                                   missing.size() == 1 ? "" : "s", names.get()));
}

// Places one keyword argument. `name` is the keyword (a BORROWED object that
// should be a str), `value` a BORROWED value.
bool place_keyword(const Signature& signature, PyObject* name, PyObject* value, std::span<PyObject*> bound) {
  if (!PyUnicode_Check(name)) {
    return fail_with(signature, PyUnicode_FromString("keywords must be strings"));
  }
  for (std::size_t i = 0; i < signature.parameters.size(); ++i) {
    // Compares without raising, also for names that hold lone surrogates.
    if (PyUnicode_CompareWithASCIIString(name, signature.parameters[i]) != 0) continue;
    if (bound[i] != nullptr) {
      return fail_with(signature, PyUnicode_FromFormat("got multiple values for argument '%s'", signature.parameters[i]));
    }
    bound[i] = value;
    return true;
  }
  return fail_with(signature, PyUnicode_FromFormat("got an unexpected keyword argument '%U'", name));
}

bool check_required(const Signature& signature, std::span<PyObject* const> bound) {
  for (std::size_t i = 0; i < signature.required; ++i) {
    if (bound[i] == nullptr) return fail_missing(signature, bound);
  }
  return true;
}

bool bind_positional(const Signature& signature, PyObject* const* args, Py_ssize_t nargs,
                     std::span<PyObject*> bound) {
  if (nargs > static_cast<Py_ssize_t>(signature.parameters.size())) return fail_surplus(signature, nargs);
  for (std::size_t i = 0; i < bound.size(); ++i) {
    bound[i] = static_cast<Py_ssize_t>(i) < nargs ? args[i] : nullptr;
  }
  return true;
}

}  // namespace

bool bind_fastcall_general(const Signature& signature, PyObject* const* args, Py_ssize_t nargs,
                           PyObject* kwnames, std::span<PyObject*> bound) {
  if (!bind_positional(signature, args, nargs, bound)) return false;
  if (kwnames != nullptr) {
    const Py_ssize_t keywords = PyTuple_GET_SIZE(kwnames);
    for (Py_ssize_t k = 0; k < keywords; ++k) {
      if (!place_keyword(signature, PyTuple_GET_ITEM(kwnames, k), args[nargs + k], bound)) return false;
    }
  }
  return check_required(signature, bound);
}

bool bind_tuple_and_dict(const Signature& signature, PyObject* args, PyObject* kwargs,
                         std::span<PyObject*> bound) {
  if (!bind_positional(signature, &PyTuple_GET_ITEM(args, 0), PyTuple_GET_SIZE(args), bound)) return false;
  if (kwargs != nullptr) {
    Py_ssize_t position = 0;
    PyObject* name = nullptr;   // BORROWED from the dict
    PyObject* value = nullptr;  // BORROWED from the dict
    while (PyDict_Next(kwargs, &position, &name, &value)) {
      if (!place_keyword(signature, name, value, bound)) return false;
    }
  }
  return check_required(signature, bound);
}

PyObject* type_name_of(PyObject* object) {
  PyObject* name = compat::type_get_name(Py_TYPE(object));
  if (name != nullptr) return name;
  PyErr_Clear();
  return PyUnicode_FromString(Py_TYPE(object)->tp_name);
}

bool convert_text(PyObject* object, std::string_view& out) {
  if (!PyUnicode_Check(object)) [[unlikely]] {
    Owned type = Owned::steal(type_name_of(object));
    if (type) PyErr_Format(PyExc_TypeError, "must be str, not %U", type.get());
    return false;
  }
  Py_ssize_t size = 0;
  const char* data = PyUnicode_AsUTF8AndSize(object, &size);
  if (data == nullptr) return false;  // UnicodeEncodeError for a lone surrogate
  out = std::string_view(data, static_cast<std::size_t>(size));
  return true;
}

bool convert_optional_text(PyObject* object, std::optional<std::string_view>& out) {
  if (object == nullptr || object == Py_None) {
    out.reset();
    return true;
  }
  std::string_view text;
  if (!convert_text(object, text)) return false;
  out = text;
  return true;
}

namespace {

// collections.abc.Sequence of the state's interpreter, imported on first
// use: a BORROWED reference kept by the state, or NULL with an exception set
// (a later call tries again).
PyObject* abc_sequence(ModuleState& state) {
  if (state.abc_sequence == nullptr) {
    Owned abc = Owned::steal(PyImport_ImportModule("collections.abc"));
    if (!abc) return nullptr;
    state.abc_sequence = PyObject_GetAttrString(abc.get(), "Sequence");
  }
  return state.abc_sequence;
}

}  // namespace

bool convert_text_list(ModuleState& state, PyObject* object, std::vector<std::string>& out) {
  if (PyUnicode_Check(object)) {
    PyErr_SetString(PyExc_TypeError, "Can't extract `str` to `Vec`");
    return false;
  }
  if (!PySequence_Check(object)) {
    PyObject* sequence = abc_sequence(state);
    if (sequence == nullptr) return false;
    const int is_sequence = PyObject_IsInstance(object, sequence);
    if (is_sequence < 0) return false;
    if (is_sequence == 0) {
      Owned type = Owned::steal(type_name_of(object));
      if (type) PyErr_Format(PyExc_TypeError, "must be a sequence of str, not %U", type.get());
      return false;
    }
  }
  // The length is only a capacity hint: a sequence may not know it, or say
  // more (or fewer) items than it holds; iteration decides.
  const Py_ssize_t hint = PySequence_Size(object);
  if (hint < 0) {
    // An ordinary error of __len__ only loses the hint; MemoryError and the
    // BaseExceptions that are not Exceptions (KeyboardInterrupt, ...) stop.
    if (!PyErr_ExceptionMatches(PyExc_Exception) || PyErr_ExceptionMatches(PyExc_MemoryError)) return false;
    PyErr_Clear();
  }
  out.clear();
  if (hint > 0) out.reserve(std::min(static_cast<std::size_t>(hint), kMaxReservedListEntries));

  Owned iterator = Owned::steal(PyObject_GetIter(object));
  if (!iterator) return false;
  for (Py_ssize_t index = 0;; ++index) {
    Owned item = Owned::steal(PyIter_Next(iterator.get()));
    if (!item) return !PyErr_Occurred();
    if (!PyUnicode_Check(item.get())) {
      Owned type = Owned::steal(type_name_of(item.get()));
      if (type) PyErr_Format(PyExc_TypeError, "sequence item %zd: expected str instance, %U found", index, type.get());
      return false;
    }
    std::string_view text;
    if (!convert_text(item.get(), text)) return false;
    out.emplace_back(text);
  }
}

bool convert_seconds(PyObject* object, double& out) {
  if (PyFloat_CheckExact(object)) {
    out = PyFloat_AS_DOUBLE(object);
    return true;
  }
  const double value = PyFloat_AsDouble(object);
  if (value == -1.0 && PyErr_Occurred()) return false;
  out = value;
  return true;
}

void add_argument_context(const char* parameter) {
  if (!PyErr_Occurred() || !PyErr_ExceptionMatches(PyExc_TypeError)) return;
  PyObject* type = nullptr;
  PyObject* value = nullptr;
  PyObject* traceback = nullptr;
  PyErr_Fetch(&type, &value, &traceback);
  PyErr_NormalizeException(&type, &value, &traceback);
  Owned owned_type = Owned::steal(type);
  Owned cause = Owned::steal(value);
  Owned owned_traceback = Owned::steal(traceback);
  // Only a TypeError itself is replaced; a subclass says more than the prefix would.
  if (type != PyExc_TypeError || !cause) {
    PyErr_Restore(owned_type.release(), cause.release(), owned_traceback.release());
    return;
  }
  if (owned_traceback) PyException_SetTraceback(cause.get(), owned_traceback.get());
  Owned message = Owned::steal(PyObject_Str(cause.get()));
  if (!message) return;
  Owned text = Owned::steal(PyUnicode_FromFormat("argument '%s': %U", parameter, message.get()));
  if (!text) return;
  Owned replacement = Owned::steal(PyObject_CallOneArg(PyExc_TypeError, text.get()));
  if (!replacement) return;
  PyException_SetCause(replacement.get(), cause.release());  // steals the cause
  PyErr_SetObject(PyExc_TypeError, replacement.get());
}

}  // namespace python_module
