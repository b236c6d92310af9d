#pragma once

// Argument binding and conversion for every Python-facing callable.
//
// A callable is described once, statically, by a `Signature`: its name (with
// its class for a method or constructor), its parameter names in order, and
// how many leading ones are required. No callable has positional-only or
// keyword-only parameters or takes *args / **kwargs.
//
// A wrapper binds the call's arguments into one BORROWED slot per parameter
// (NULL for an optional parameter that was not given), converts each slot with
// `convert_argument` in parameter order, calls its typed implementation and
// builds the result: the shape of an argument-clinic wrapper.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "python_module/module_state.h"

namespace python_module {

struct Signature {
  const char* name;        // "to_snake_case", "function_ast", "__new__"
  const char* class_name;  // the class of a method or constructor; NULL for a module function
  std::span<const char* const> parameters;
  std::size_t required;    // the leading `required` parameters must be given
};

// Binding fails with a TypeError worded like the interpreter's own
// ("to_snake_case() missing 1 required positional argument: 'name'") and
// returns false. On success every slot of `bound` (one per parameter) holds a
// BORROWED reference or NULL.

// Slow path of bind_fastcall: keywords, too few or too many arguments.
bool bind_fastcall_general(const Signature& signature, PyObject* const* args, Py_ssize_t nargs,
                           PyObject* kwnames, std::span<PyObject*> bound);

// Fast-call protocol: `nargs` positional arguments in `args`, followed by the
// values of the keyword arguments whose names are the tuple `kwnames` (NULL
// when there are none).
inline bool bind_fastcall(const Signature& signature, PyObject* const* args, Py_ssize_t nargs,
                          PyObject* kwnames, std::span<PyObject*> bound) {
  const auto count = static_cast<Py_ssize_t>(signature.parameters.size());
  if (kwnames == nullptr && nargs >= static_cast<Py_ssize_t>(signature.required) && nargs <= count) {
    for (Py_ssize_t i = 0; i < nargs; ++i) bound[i] = args[i];
    for (Py_ssize_t i = nargs; i < count; ++i) bound[i] = nullptr;
    return true;
  }
  return bind_fastcall_general(signature, args, nargs, kwnames, bound);
}

// Classic protocol (constructors): the tuple `args` and the dict `kwargs`
// (NULL when there are no keyword arguments).
bool bind_tuple_and_dict(const Signature& signature, PyObject* args, PyObject* kwargs,
                         std::span<PyObject*> bound);

// Conversions. Each takes a BORROWED argument (NULL means "not given" where
// the kind allows it), returns true and fills `out`, or returns false with a
// Python exception set.

// A `str` (or subclass) as UTF-8. The view points into the object's cached
// UTF-8 form and is valid while the object lives. A string holding a lone
// surrogate fails with the interpreter's UnicodeEncodeError.
bool convert_text(PyObject* object, std::string_view& out);

// Not given or None: no text; otherwise as convert_text.
bool convert_optional_text(PyObject* object, std::optional<std::string_view>& out);

// A sequence of texts (anything the interpreter reports as a sequence, or an
// instance of collections.abc.Sequence, the one of `state`'s interpreter),
// but not a `str`; the items are copied. The sequence is read by iteration:
// its length only sizes a bounded first reservation. May throw
// std::bad_alloc.
bool convert_text_list(ModuleState& state, PyObject* object, std::vector<std::string>& out);

// convert_text_list as a conversion for convert_argument.
struct TextListConversion {
  ModuleState& state;
  bool operator()(PyObject* object, std::vector<std::string>& out) const {
    return convert_text_list(state, object, out);
  }
};

// The most entries convert_text_list reserves before it has read them: a
// length hint may be far larger than the sequence (or than memory), and
// growth takes over beyond it.
inline constexpr std::size_t kMaxReservedListEntries = 1024;

// A number of seconds: an exact `float`, or anything the interpreter's float
// conversion accepts (`int`, `bool`, `__float__`, `__index__`).
bool convert_seconds(PyObject* object, double& out);

// Any object, unchecked: the callable checks it itself.
inline bool convert_any(PyObject* object, PyObject*& out) {
  out = object;
  return true;
}

// Replaces a pending TypeError by a new TypeError "argument '{parameter}':
// {message}" whose __cause__ is the original; any other pending exception is
// left as it is.
void add_argument_context(const char* parameter);

// Converts bound slot `index` with `convert`, adding the argument context to a
// TypeError on failure.
template <class Convert, class Out>
bool convert_argument(const Signature& signature, std::span<PyObject* const> bound, std::size_t index,
                      Convert&& convert, Out& out) {
  if (convert(bound[index], out)) return true;
  add_argument_context(signature.parameters[index]);
  return false;
}

// The `__name__` of an object's type, for messages ("int", "NoneType").
// NEW reference; on failure the type's C name is used instead.
PyObject* type_name_of(PyObject* object);

}  // namespace python_module
