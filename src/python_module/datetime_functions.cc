// parse_iso_date, parse_iso_time, parse_datetime, parse_iso_duration,
// duration_isoformat and timezone_from_name: ISO 8601 texts to `datetime`
// values and back, and time zones by name.
//
// This is the only file that includes <datetime.h>. The header's own pointer
// to the datetime C API (a static of each translation unit, for the whole
// process) is never used, nor the macros that read it: the API belongs to one
// interpreter, so each module state imports and keeps its own, and every call
// here goes through that one.

#define PY_SSIZE_T_CLEAN
#include <Python.h>
#include <datetime.h>

// The process-wide pointer, and the macros that read it, refused from here on.
#undef PyDateTime_IMPORT
#undef PyDate_FromDate
#undef PyDelta_FromDSU
#undef PyTimeZone_FromOffset
#undef PyDateTime_TimeZone_UTC
#undef PyDelta_Check
#undef PyTZInfo_Check
#undef PyDate_Check
#undef PyDateTime_Check
#undef PyTime_Check
#pragma GCC poison PyDateTimeAPI

#include <array>
#include <string>
#include <string_view>

#include "python_module/arguments.h"
#include "python_module/errors.h"
#include "python_module/functions.h"
#include "python_module/interpreter_lock.h"
#include "python_module/module_state.h"
#include "python_module/py_ref.h"
#include "python_module/result_conversion.h"
#include "tolva_utils/isodate.h"

namespace python_module {

namespace isodate = tolva_utils::isodate;

namespace {

constexpr const char* kTextParameter[] = {"s"};
constexpr Signature kParseIsoDate{"parse_iso_date", nullptr, kTextParameter, 1};
constexpr Signature kParseIsoTime{"parse_iso_time", nullptr, kTextParameter, 1};
constexpr Signature kParseDatetime{"parse_datetime", nullptr, kTextParameter, 1};
constexpr Signature kParseIsoDuration{"parse_iso_duration", nullptr, kTextParameter, 1};

constexpr const char* kDurationParameter[] = {"tduration"};
constexpr Signature kDurationIsoformat{"duration_isoformat", nullptr, kDurationParameter, 1};

constexpr const char* kNameParameter[] = {"name"};
constexpr Signature kTimezoneFromName{"timezone_from_name", nullptr, kNameParameter, 1};

using DateTimeApi = PyDateTime_CAPI;

// The datetime C API of the state's interpreter, loaded from its capsule on
// first use (importing `datetime`) and kept by the state with the capsule
// that owns it. NULL with an exception set when it cannot be loaded; a later
// call tries again.
const DateTimeApi* datetime_api(ModuleState& state) {
  if (state.datetime_api == nullptr) [[unlikely]] {
    Owned module = Owned::steal(PyImport_ImportModule("datetime"));
    if (!module) return nullptr;
    Owned capsule = Owned::steal(PyObject_GetAttrString(module.get(), "datetime_CAPI"));
    if (!capsule) return nullptr;
    void* api = PyCapsule_GetPointer(capsule.get(), PyDateTime_CAPSULE_NAME);
    if (api == nullptr) return nullptr;
    Py_XSETREF(state.datetime_capsule, capsule.release());
    state.datetime_api = api;
  }
  return static_cast<const DateTimeApi*>(state.datetime_api);
}

// The state of a module function's module, and its datetime C API.
struct DateTimeContext {
  ModuleState* state = nullptr;
  const DateTimeApi* api = nullptr;
};

bool datetime_context(PyObject* module, DateTimeContext& out) {
  out.state = function_state(module);
  if (out.state == nullptr) return false;
  out.api = datetime_api(*out.state);
  return out.api != nullptr;
}

// Binds and converts the one text argument of a parser.
bool text_argument(const Signature& signature, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                   std::string_view& text) {
  // One exact str of ASCII characters, by position: such a string is its own
  // UTF-8, read in place (convert_text gives the same bytes by a longer road).
  if (nargs == 1 && kwnames == nullptr && PyUnicode_CheckExact(args[0]) && PyUnicode_IS_COMPACT_ASCII(args[0])) {
    text = std::string_view(static_cast<const char*>(PyUnicode_DATA(args[0])),
                            static_cast<std::size_t>(PyUnicode_GET_LENGTH(args[0])));
    return true;
  }
  std::array<PyObject*, 1> bound;
  if (!bind_fastcall(signature, args, nargs, kwnames, bound)) return false;
  return convert_argument(signature, bound, 0, convert_text, text);
}

// Sets TypeError "{producer} returned {type}, not a tzinfo" and returns NULL.
PyObject* raise_not_tzinfo(const char* producer, PyObject* object) {
  Owned type = Owned::steal(type_name_of(object));
  if (type) PyErr_Format(PyExc_TypeError, "%s returned %U, not a tzinfo", producer, type.get());
  return nullptr;
}

// SystemError for a call after the module state was cleared. Returns NULL.
PyObject* raise_state_cleared() {
  PyErr_SetString(PyExc_SystemError, "the state of this tolva_rs module was cleared");
  return nullptr;
}

bool is_tzinfo(const DateTimeApi& api, PyObject* object) { return PyObject_TypeCheck(object, api.TZInfoType); }

// timedelta(0, seconds, 0), normalised. NEW reference or NULL.
PyObject* offset_delta(const DateTimeApi& api, std::int32_t seconds) {
  return api.Delta_FromDelta(0, seconds, 0, /*normalize=*/1, api.DeltaType);
}

// The zone of parse_iso_time: datetime.timezone(delta, text) called through
// the `datetime` module, so the zone is named after the offset as written,
// zero offsets included; "Z" is the UTC singleton. NEW reference or NULL.
PyObject* time_zone_named_as_written(const DateTimeContext& context, const isodate::IsoTzInfo& zone) {
  const DateTimeApi& api = *context.api;
  if (zone.kind == isodate::IsoTzInfo::Kind::Utc) return Py_NewRef(api.TimeZone_UTC);
  Owned delta = Owned::steal(offset_delta(api, zone.seconds));
  if (!delta) return nullptr;
  Owned name = Owned::steal(new_text(zone.text));
  if (!name) return nullptr;
  const ModuleState& state = *context.state;
  if (state.datetime_name == nullptr || state.timezone_name == nullptr) return raise_state_cleared();
  Owned module = Owned::steal(PyImport_Import(state.datetime_name));
  if (!module) return nullptr;
  Owned timezone = Owned::steal(PyObject_GetAttr(module.get(), state.timezone_name));
  if (!timezone) return nullptr;
  PyObject* call_args[] = {delta.get(), name.get()};
  Owned zone_object = Owned::steal(PyObject_Vectorcall(timezone.get(), call_args, 2, nullptr));
  if (!zone_object) return nullptr;
  if (!is_tzinfo(api, zone_object.get())) return raise_not_tzinfo("datetime.timezone()", zone_object.get());
  return zone_object.release();
}

// The zone of parse_datetime: UTC for "Z" and for any zero offset, else an
// unnamed fixed-offset zone (Python names it "UTC+05:30"). NEW reference or
// NULL.
//
// Offset zones are immutable and compare by their offset alone, so one zone
// per offset serves every call: zones of whole minutes within a day (every
// offset the parser reads) are made on first use and kept in the module
// state, which spares the two objects a zone costs per call. The interpreter
// lock guards the table.
PyObject* fixed_offset_zone(const DateTimeContext& context, const isodate::IsoTzInfo& zone) {
  const DateTimeApi& api = *context.api;
  if (zone.kind == isodate::IsoTzInfo::Kind::Utc || zone.seconds == 0) return Py_NewRef(api.TimeZone_UTC);
  constexpr int kMax = kMaxZoneMinutes;
  const bool cacheable = zone.seconds % 60 == 0 && zone.seconds / 60 >= -kMax && zone.seconds / 60 <= kMax;
  PyObject** slot =
      cacheable ? &context.state->offset_zones[static_cast<std::size_t>(zone.seconds / 60 + kMax)] : nullptr;
  if (slot != nullptr && *slot != nullptr) return Py_NewRef(*slot);
  Owned delta = Owned::steal(offset_delta(api, zone.seconds));
  if (!delta) return nullptr;
  PyObject* made = api.TimeZone_FromTimeZone(delta.get(), nullptr);
  if (made != nullptr && slot != nullptr) *slot = Py_NewRef(made);
  return made;
}

}  // namespace

PyObject* parse_iso_date(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    std::string_view text;
    if (!text_argument(kParseIsoDate, args, nargs, kwnames, text)) return nullptr;

    const auto parsed = run_native(text.size(), [&] { return isodate::parse_date(text); });
    if (!parsed) return raise_value_error(parsed.error());
    DateTimeContext context;
    if (!datetime_context(module, context)) return nullptr;
    // The constructor checks the calendar (month 13, April 31) with its own ValueError.
    const isodate::IsoDate& date = parsed.value();
    return context.api->Date_FromDate(date.year, date.month, date.day, context.api->DateType);
  });
}

PyObject* parse_iso_time(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    std::string_view text;
    if (!text_argument(kParseIsoTime, args, nargs, kwnames, text)) return nullptr;

    // As in parse_datetime: the common layouts straight into one value.
    isodate::IsoTime time;
    if (!run_native(text.size(), [&] { return isodate::parse_time_fast(text, time); })) {
      auto parsed = run_native(text.size(), [&] { return isodate::parse_time_general(text); });
      if (!parsed) return raise_value_error(parsed.error());
      time = std::move(parsed).value();
    }
    DateTimeContext context;
    if (!datetime_context(module, context)) return nullptr;
    Owned zone;
    if (time.tzinfo) {
      zone = Owned::steal(time_zone_named_as_written(context, *time.tzinfo));
      if (!zone) return nullptr;
    }
    // The constructor checks the ranges (hour 24, a microsecond of 1000000).
    return context.api->Time_FromTime(time.hour, time.minute, time.second, static_cast<int>(time.microsecond),
                                      zone ? zone.get() : Py_None, context.api->TimeType);
  });
}

PyObject* parse_datetime(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    std::string_view text;
    if (!text_argument(kParseDatetime, args, nargs, kwnames, text)) return nullptr;

    // The common ISO layouts straight into one value; every other text takes
    // the general road, which also has the error texts.
    isodate::IsoDateTime value;
    if (!run_native(text.size(), [&] { return isodate::parse_datetime_fast(text, value); })) {
      auto parsed = run_native(text.size(), [&] { return isodate::parse_datetime_general(text); });
      if (!parsed) return raise_value_error(parsed.error());
      value = std::move(parsed).value();
    }
    DateTimeContext context;
    if (!datetime_context(module, context)) return nullptr;
    const isodate::IsoDate& date = value.date;
    const isodate::IsoTime& time = value.time;
    Owned zone;
    if (time.tzinfo) {
      zone = Owned::steal(fixed_offset_zone(context, *time.tzinfo));
      if (!zone) return nullptr;
    }
    return context.api->DateTime_FromDateAndTime(date.year, date.month, date.day, time.hour, time.minute,
                                                 time.second, static_cast<int>(time.microsecond),
                                                 zone ? zone.get() : Py_None, context.api->DateTimeType);
  });
}

PyObject* parse_iso_duration(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                             PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    std::string_view text;
    if (!text_argument(kParseIsoDuration, args, nargs, kwnames, text)) return nullptr;

    const auto parsed = run_native(text.size(), [&] { return isodate::parse_duration(text); });
    if (!parsed) return raise_value_error(parsed.error());
    if (parsed.value().kind == isodate::IsoDuration::Kind::YearsOrMonths) {
      std::string message = "ISO 8601 duration '";
      message += text;
      message += "' contains year/month components that cannot be represented as a fixed timedelta";
      return raise_type_error(message);
    }
    const auto parts = isodate::split_timedelta(parsed.value().micros);
    if (!parts) return raise_overflow_error(parts.error());
    DateTimeContext context;
    if (!datetime_context(module, context)) return nullptr;
    // Already normal, so no normalisation; the constructor refuses more days
    // than timedelta.max with its own OverflowError.
    return context.api->Delta_FromDelta(parts.value().days, parts.value().seconds, parts.value().microseconds,
                                        /*normalize=*/0, context.api->DeltaType);
  });
}

PyObject* duration_isoformat(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                             PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    std::array<PyObject*, 1> bound;
    if (!bind_fastcall(kDurationIsoformat, args, nargs, kwnames, bound)) return nullptr;
    PyObject* delta = nullptr;  // BORROWED
    if (!convert_argument(kDurationIsoformat, bound, 0, convert_any, delta)) return nullptr;
    DateTimeContext context;
    if (!datetime_context(module, context)) return nullptr;
    if (!PyObject_TypeCheck(delta, context.api->DeltaType)) {
      return raise_type_error("duration_isoformat expects a datetime.timedelta");
    }

    const int days = PyDateTime_DELTA_GET_DAYS(delta);
    const int seconds = PyDateTime_DELTA_GET_SECONDS(delta);
    const int microseconds = PyDateTime_DELTA_GET_MICROSECONDS(delta);
    // Three numbers: the work is always short, so the lock stays held.
    const std::string text =
        run_native(0, [&] { return isodate::duration_isoformat(days, seconds, microseconds); });
    return new_text(text);
  });
}

PyObject* timezone_from_name(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                             PyObject* kwnames) {
  // All with the interpreter lock held: this calls back into Python.
  return guarded([&]() -> PyObject* {
    std::array<PyObject*, 1> bound;
    if (!bind_fastcall(kTimezoneFromName, args, nargs, kwnames, bound)) return nullptr;
    std::string_view name;
    if (!convert_argument(kTimezoneFromName, bound, 0, convert_text, name)) return nullptr;
    if (name.empty()) Py_RETURN_NONE;

    ModuleState* state = function_state(module);
    if (state == nullptr) return nullptr;
    if (state->zoneinfo_name == nullptr || state->zone_info_name == nullptr) return raise_state_cleared();
    Owned zoneinfo = Owned::steal(PyImport_Import(state->zoneinfo_name));
    if (!zoneinfo) return nullptr;
    Owned zone_info = Owned::steal(PyObject_GetAttr(zoneinfo.get(), state->zone_info_name));
    if (!zone_info) return nullptr;
    const DateTimeApi* api = datetime_api(*state);
    if (api == nullptr) return nullptr;

    // An exact str is passed on as it is; a subclass as its plain text.
    Owned key = PyUnicode_CheckExact(bound[0]) ? Owned::share(bound[0]) : Owned::steal(new_text(name));
    if (!key) return nullptr;
    Owned zone = Owned::steal(PyObject_CallOneArg(zone_info.get(), key.get()));
    if (!zone) {
      // An unknown or invalid key is "no zone". Only ordinary errors are
      // swallowed: MemoryError and the BaseExceptions that are not Exceptions
      // (KeyboardInterrupt, SystemExit, PanicException, ...) must reach the caller.
      if (PyErr_ExceptionMatches(PyExc_Exception) && !PyErr_ExceptionMatches(PyExc_MemoryError)) {
        PyErr_Clear();
        Py_RETURN_NONE;
      }
      return nullptr;
    }
    if (!is_tzinfo(*api, zone.get())) return raise_not_tzinfo("zoneinfo.ZoneInfo()", zone.get());
    return zone.release();
  });
}

}  // namespace python_module
