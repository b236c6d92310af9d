// parse_duration_ms, parse_duration_s and seconds_to_duration_string: short
// duration strings such as "1h30m".

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "python_module/arguments.h"
#include "python_module/errors.h"
#include "python_module/functions.h"
#include "python_module/interpreter_lock.h"
#include "python_module/result_conversion.h"
#include "tolva_utils/duration.h"

namespace python_module {

namespace {

constexpr const char* kTextParameter[] = {"s"};
constexpr Signature kParseDurationMs{"parse_duration_ms", nullptr, kTextParameter, 1};
constexpr Signature kParseDurationS{"parse_duration_s", nullptr, kTextParameter, 1};

constexpr const char* kSecondsParameter[] = {"total_seconds"};
constexpr Signature kSecondsToDurationString{"seconds_to_duration_string", nullptr, kSecondsParameter, 1};

// The shared body of the two parsers: text in, a count or ValueError out.
template <tolva::Result<std::int64_t> (*Parse)(std::string_view)>
PyObject* parse_count(const Signature& signature, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  std::array<PyObject*, 1> bound;
  if (!bind_fastcall(signature, args, nargs, kwnames, bound)) return nullptr;
  std::string_view text;
  if (!convert_argument(signature, bound, 0, convert_text, text)) return nullptr;

  const tolva::Result<std::int64_t> count = run_native(text.size(), [&] { return Parse(text); });
  if (!count) return raise_value_error(count.error());
  return new_int(count.value());
}

}  // namespace

PyObject* parse_duration_ms(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&] {
    return parse_count<tolva_utils::duration::parse_duration_ms>(kParseDurationMs, args, nargs, kwnames);
  });
}

PyObject* parse_duration_s(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&] {
    return parse_count<tolva_utils::duration::parse_duration_s>(kParseDurationS, args, nargs, kwnames);
  });
}

PyObject* seconds_to_duration_string(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargs,
                                     PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    std::array<PyObject*, 1> bound;
    if (!bind_fastcall(kSecondsToDurationString, args, nargs, kwnames, bound)) return nullptr;
    double seconds = 0;
    if (!convert_argument(kSecondsToDurationString, bound, 0, convert_seconds, seconds)) return nullptr;

    // A single number: the work is always short, so the lock stays held.
    const std::string text =
        run_native(0, [&] { return tolva_utils::duration::seconds_to_duration_string(seconds); });
    return new_text(text);
  });
}

}  // namespace python_module
