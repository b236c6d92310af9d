// to_snake_case and build_namespaced_name.

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "python_module/arguments.h"
#include "python_module/errors.h"
#include "python_module/functions.h"
#include "python_module/interpreter_lock.h"
#include "python_module/result_conversion.h"
#include "tolva_utils/namespace.h"

namespace python_module {

namespace {

constexpr const char* kToSnakeCaseParameters[] = {"name"};
constexpr Signature kToSnakeCase{"to_snake_case", nullptr, kToSnakeCaseParameters, 1};

constexpr const char* kBuildNamespacedNameParameters[] = {"namespace", "name"};
constexpr Signature kBuildNamespacedName{"build_namespaced_name", nullptr, kBuildNamespacedNameParameters, 0};

}  // namespace

PyObject* to_snake_case(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    std::array<PyObject*, 1> bound;
    if (!bind_fastcall(kToSnakeCase, args, nargs, kwnames, bound)) return nullptr;
    std::string_view name;
    if (!convert_argument(kToSnakeCase, bound, 0, convert_text, name)) return nullptr;

    const std::string result =
        run_native(name.size(), [&] { return tolva_utils::namespace_::to_snake_case(name); });
    return new_text(result);
  });
}

PyObject* build_namespaced_name(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargs,
                                PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    std::array<PyObject*, 2> bound;
    if (!bind_fastcall(kBuildNamespacedName, args, nargs, kwnames, bound)) return nullptr;
    std::optional<std::string_view> ns;
    std::optional<std::string_view> name;
    if (!convert_argument(kBuildNamespacedName, bound, 0, convert_optional_text, ns)) return nullptr;
    if (!convert_argument(kBuildNamespacedName, bound, 1, convert_optional_text, name)) return nullptr;

    const std::size_t input_bytes = ns.value_or("").size() + name.value_or("").size();
    const std::string result =
        run_native(input_bytes, [&] { return tolva_utils::namespace_::build_namespaced_name(ns, name); });
    return new_text(result);
  });
}

}  // namespace python_module
