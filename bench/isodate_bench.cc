// The ISO 8601 parsers on the texts they mostly see: extended date-times as
// datetime.isoformat() writes them (naive, with microseconds, or with a zone),
// bare dates and times, and a few rarer layouts and English forms that take
// the general road.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "tolva_utils/isodate.h"

namespace {

namespace isodate = tolva_utils::isodate;

// 500 date-times of 2000..2031 in three equally likely forms:
// "YYYY-MM-DDTHH:MM:SS", the same with ".ffffff", and the same with "Z",
// "+05:30" or "-08:00". Fixed seed, so every run measures the same texts.
const std::vector<std::string>& mixed_datetimes() {
  static const auto* texts = [] {
    auto* out = new std::vector<std::string>();
    std::mt19937 rng(2024);
    const char* zones[] = {"Z", "+05:30", "-08:00"};
    char buffer[64];
    for (int i = 0; i < 500; ++i) {
      const int year = 2000 + static_cast<int>(rng() % 32), month = 1 + static_cast<int>(rng() % 12);
      const int day = 1 + static_cast<int>(rng() % 28), hour = static_cast<int>(rng() % 24);
      const int minute = static_cast<int>(rng() % 60), second = static_cast<int>(rng() % 60);
      std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02dT%02d:%02d:%02d", year, month, day, hour, minute, second);
      std::string text = buffer;
      switch (rng() % 3) {
        case 1:
          std::snprintf(buffer, sizeof buffer, ".%06u", static_cast<unsigned>(rng() % 1000000));
          text += buffer;
          break;
        case 2:
          text += zones[rng() % 3];
          break;
        default:
          break;
      }
      out->push_back(std::move(text));
    }
    return out;
  }();
  return *texts;
}

template <class Parse>
void run_one(benchmark::State& state, const std::string& text, Parse parse) {
  for (auto _ : state) {
    auto result = parse(text);
    benchmark::DoNotOptimize(result);
  }
}

void BM_ParseDatetimeMixed(benchmark::State& state) {
  const auto& texts = mixed_datetimes();
  std::size_t i = 0;
  for (auto _ : state) {
    auto result = isodate::parse_datetime(texts[i]);
    benchmark::DoNotOptimize(result);
    if (++i == texts.size()) i = 0;
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}
BENCHMARK(BM_ParseDatetimeMixed);

// The fast path alone, into one value that is reused, as the Python binding
// calls it.
void BM_ParseDatetimeFastMixed(benchmark::State& state) {
  const auto& texts = mixed_datetimes();
  std::size_t i = 0;
  isodate::IsoDateTime value;
  for (auto _ : state) {
    benchmark::DoNotOptimize(isodate::parse_datetime_fast(texts[i], value));
    benchmark::DoNotOptimize(value);
    if (++i == texts.size()) i = 0;
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}
BENCHMARK(BM_ParseDatetimeFastMixed);

// The general road alone, on the same texts.
void BM_ParseDatetimeGeneralMixed(benchmark::State& state) {
  const auto& texts = mixed_datetimes();
  std::size_t i = 0;
  for (auto _ : state) {
    auto result = isodate::parse_datetime_general(texts[i]);
    benchmark::DoNotOptimize(result);
    if (++i == texts.size()) i = 0;
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}
BENCHMARK(BM_ParseDatetimeGeneralMixed);

void BM_ParseDatetime(benchmark::State& state, const char* text) {
  run_one(state, text, [](const std::string& t) { return isodate::parse_datetime(t); });
}
BENCHMARK_CAPTURE(BM_ParseDatetime, extended, "2024-03-15T10:30:45");
BENCHMARK_CAPTURE(BM_ParseDatetime, micros, "2024-03-15T10:30:45.123456");
BENCHMARK_CAPTURE(BM_ParseDatetime, offset, "2024-03-15T10:30:45+05:30");
BENCHMARK_CAPTURE(BM_ParseDatetime, utc, "2024-03-15T10:30:45Z");
BENCHMARK_CAPTURE(BM_ParseDatetime, space, "2024-03-15 10:30");
BENCHMARK_CAPTURE(BM_ParseDatetime, date_only, "2024-03-15");
BENCHMARK_CAPTURE(BM_ParseDatetime, basic, "20240315T103045Z");
BENCHMARK_CAPTURE(BM_ParseDatetime, english, "March 5, 2024 10:00:00 +05:00");
BENCHMARK_CAPTURE(BM_ParseDatetime, error, "Hello");

void BM_ParseTime(benchmark::State& state, const char* text) {
  run_one(state, text, [](const std::string& t) { return isodate::parse_time(t); });
}
BENCHMARK_CAPTURE(BM_ParseTime, extended, "10:30:45");
BENCHMARK_CAPTURE(BM_ParseTime, micros_offset, "10:30:45.123456+05:30");
BENCHMARK_CAPTURE(BM_ParseTime, minutes, "10:30");
BENCHMARK_CAPTURE(BM_ParseTime, hour_fraction, "10.5");

void BM_ParseDate(benchmark::State& state, const char* text) {
  run_one(state, text, [](const std::string& t) { return isodate::parse_date(t); });
}
BENCHMARK_CAPTURE(BM_ParseDate, extended, "2024-03-15");
BENCHMARK_CAPTURE(BM_ParseDate, week, "2024-W11-5");

}  // namespace

BENCHMARK_MAIN();
