// Differential tests: the utilities against Python's own datetime,
// fractions, re, float arithmetic and the isodate package, on many generated
// inputs. Each test writes its inputs to a file, one hex-encoded line per
// case, runs a small script under the test interpreter (TOLVA_TEST_PYTHON)
// and compares line by line.
// A test skips, saying why, when the interpreter or a module is missing.

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "tolva_utils/isodate.h"
#include "tolva_utils/namespace.h"
#include "test_support/oracle.h"

namespace tolva_utils {
namespace {


std::string hex(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  for (const char c : bytes) {
    out.push_back(kDigits[static_cast<unsigned char>(c) >> 4]);
    out.push_back(kDigits[static_cast<unsigned char>(c) & 15]);
  }
  return out;
}

std::string unhex(std::string_view text) {
  std::string out;
  const auto value = [](char c) { return c <= '9' ? c - '0' : c - 'a' + 10; };
  for (std::size_t i = 0; i + 1 < text.size(); i += 2) out.push_back(static_cast<char>(value(text[i]) * 16 + value(text[i + 1])));
  return out;
}

struct PeerRun {
  bool ran = false;
  std::string skip_reason;
  std::vector<std::string> lines;  // decoded
};

// Runs `script` with the hex-encoded `inputs` on its standard input; the
// script prints one hex-encoded answer per input, or "SKIP reason" alone.
PeerRun run_python(const std::string& script, const std::vector<std::string>& inputs) {
  PeerRun run;
  std::optional<std::string> python = test_support::test_python(&run.skip_reason);
  if (!python) {
    if (test_support::running_in_ci()) ADD_FAILURE() << run.skip_reason << " (CI=true)";
    return run;
  }
  char dir_template[] = "/tmp/tolva_utils_peer_XXXXXX";
  const char* dir = mkdtemp(dir_template);
  if (dir == nullptr) {
    run.skip_reason = "cannot create a temporary directory";
    return run;
  }
  const std::string script_path = std::string(dir) + "/peer.py", input_path = std::string(dir) + "/input.txt";
  {
    std::ofstream(script_path) << "import sys\n"
                               << "def unhex(s): return bytes.fromhex(s)\n"
                               << "def emit(b): sys.stdout.write(b.hex() + '\\n')\n"
                               << script;
    std::ofstream input(input_path);
    for (const std::string& line : inputs) input << hex(line) << '\n';
  }
  const std::string command = *python + " " + script_path + " < " + input_path;
  FILE* pipe = popen(command.c_str(), "r");
  std::string output;
  if (pipe != nullptr) {
    char buffer[65536];
    std::size_t count;
    while ((count = fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, count);
    const int status = pclose(pipe);
    run.ran = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  }
  std::remove(script_path.c_str());
  std::remove(input_path.c_str());
  rmdir(dir);
  if (output.rfind("SKIP ", 0) == 0) {
    run.ran = false;
    run.skip_reason = output.substr(5);
    return run;
  }
  std::istringstream stream(output);
  for (std::string line; std::getline(stream, line);) run.lines.push_back(unhex(line));
  return run;
}

#define RUN_PEER_OR_SKIP(run, script, inputs)                                                     \
  const PeerRun run = run_python(script, inputs);                                                 \
  if (!run.skip_reason.empty()) GTEST_SKIP() << run.skip_reason;                                  \
  ASSERT_TRUE(run.ran) << "the Python peer failed";                                               \
  ASSERT_EQ(run.lines.size(), inputs.size())

std::string show(const isodate::IsoDate& d) {
  return std::to_string(d.year) + "-" + std::to_string(d.month) + "-" + std::to_string(d.day);
}

std::string show128(__int128 value) {
  if (value == 0) return "0";
  const bool negative = value < 0;
  auto magnitude = negative ? -static_cast<unsigned __int128>(value) : static_cast<unsigned __int128>(value);
  std::string digits;
  while (magnitude != 0) {
    digits.insert(digits.begin(), static_cast<char>('0' + static_cast<int>(magnitude % 10)));
    magnitude /= 10;
  }
  return negative ? "-" + digits : digits;
}

std::string pad(unsigned value, int width) {
  std::string text = std::to_string(value);
  while (static_cast<int>(text.size()) < width) text.insert(text.begin(), '0');
  return text;
}

TEST(PythonPeer, WeekAndOrdinalDatesMatchDatetime) {
  std::vector<std::string> inputs;
  std::mt19937_64 random(1);
  for (unsigned year = 1; year <= 9998; ++year) {
    const std::string y = pad(year, 4);
    for (unsigned week : {1u, 2u, 26u, 52u, 53u}) {
      inputs.push_back(y + "-W" + pad(week, 2) + "-" + std::to_string(1 + random() % 7));
    }
    inputs.push_back(y + "W" + pad(1 + static_cast<unsigned>(random() % 53), 2));
    for (unsigned day : {1u, 59u, 60u, 365u, 366u}) inputs.push_back(y + "-" + pad(day, 3));
    inputs.push_back(y + pad(1 + static_cast<unsigned>(random() % 366), 3));
  }
  const std::string script = R"(
import datetime
for line in sys.stdin:
    s = unhex(line.strip()).decode()
    y = int(s[:4])
    try:
        if 'W' in s:
            body = s[4:].replace('-', '')
            w, d = int(body[1:3]), int(body[3:] or 1)
            try:
                r = datetime.date.fromisocalendar(y, w, d)
            except ValueError:
                # Week 53 of a 52-week year is week 1 of the next.
                r = datetime.date.fromisocalendar(y + 1, 1, d) if w == 53 else None
        else:
            n = int(s[-3:])
            r = datetime.date(y, 1, 1) + datetime.timedelta(days=n - 1)
            if r.year != y: r = None
    except (ValueError, OverflowError):
        r = None
    emit((f'{r.year}-{r.month}-{r.day}' if r else 'error').encode())
)";
  RUN_PEER_OR_SKIP(run, script, inputs);
  for (std::size_t i = 0; i < inputs.size(); ++i) {
    const auto date = isodate::parse_date(inputs[i]);
    EXPECT_EQ(date ? show(date.value()) : "error", run.lines[i]) << inputs[i];
  }
}

TEST(PythonPeer, TimeFractionsMatchExactRationals) {
  std::vector<std::string> inputs;
  std::mt19937_64 random(2);
  const auto digits = [&](std::size_t count) {
    std::string text;
    for (std::size_t i = 0; i < count; ++i) text.push_back(static_cast<char>('0' + random() % 10));
    return text;
  };
  for (int i = 0; i < 20000; ++i) {
    // Mostly short fractions, some long ones; some all nines or with a tail of zeros.
    std::size_t length = 1 + random() % (i % 4 == 0 ? 60 : 14);
    std::string fraction = digits(length);
    if (i % 17 == 0) fraction = std::string(length, '9');
    if (i % 19 == 0) fraction += std::string(random() % 30, '0');
    const char separator = random() % 2 ? '.' : ',';
    switch (i % 3) {
      case 0:
        inputs.push_back(digits(2) + ":" + digits(2) + ":" + digits(2) + separator + fraction);
        break;
      case 1:
        inputs.push_back(digits(2) + ":" + digits(2) + separator + fraction);
        break;
      default:
        inputs.push_back(digits(2) + separator + fraction);
        break;
    }
  }
  const std::string script = R"(
from fractions import Fraction
for line in sys.stdin:
    s = unhex(line.strip()).decode().replace(',', '.')
    head, frac = s.split('.')
    f = Fraction(int(frac[:38]), 10 ** len(frac[:38]))
    parts = head.split(':')
    h = int(parts[0]); m = s_ = us = 0
    if len(parts) == 3:
        m, s_ = int(parts[1]), int(parts[2])
        us = int(f * 10**6)
    elif len(parts) == 2:
        m = int(parts[1])
        v = int(f * 60 * 10**6)
        s_, us = divmod(v, 10**6)
    else:
        x = f * 60; m = int(x); x -= m
        x *= 60; s_ = int(x); x -= s_
        us = round(x * 10**6)   # Fraction rounds halves to even
    emit(f'{h}:{m}:{s_}.{us}'.encode())
)";
  RUN_PEER_OR_SKIP(run, script, inputs);
  for (std::size_t i = 0; i < inputs.size(); ++i) {
    const auto time = isodate::parse_time(inputs[i]);
    ASSERT_TRUE(time) << inputs[i];
    const auto& t = time.value();
    EXPECT_EQ(std::to_string(t.hour) + ":" + std::to_string(t.minute) + ":" + std::to_string(t.second) + "." + std::to_string(t.microsecond),
              run.lines[i])
        << inputs[i];
  }
}

TEST(PythonPeer, DurationSumsMatchPythonFloats) {
  std::vector<std::string> inputs;
  std::mt19937_64 random(3);
  const auto number = [&] {
    std::string text;
    const std::size_t integer_digits = 1 + random() % (random() % 20 == 0 ? 330 : 6);
    for (std::size_t i = 0; i < integer_digits; ++i) text.push_back(static_cast<char>('0' + random() % 10));
    if (random() % 2) {
      text.push_back(random() % 3 ? '.' : ',');
      const std::size_t fraction_digits = 1 + random() % (random() % 10 == 0 ? 400 : 9);
      for (std::size_t i = 0; i < fraction_digits; ++i) text.push_back(static_cast<char>('0' + random() % 10));
    }
    return text;
  };
  for (int i = 0; i < 20000; ++i) {
    std::string text = random() % 4 == 0 ? "-P" : "P";
    for (const char unit : {'W', 'D'}) {
      if (random() % 2) text += number() + unit;
    }
    const bool time = random() % 4 != 0;
    if (time) {
      text += 'T';
      for (const char unit : {'H', 'M', 'S'}) {
        if (random() % 2) text += number() + unit;
      }
    }
    if (text.back() == 'P') text += "0D";
    inputs.push_back(text);
  }
  // Half-way cases and small amounts where the float order matters.
  for (const char* fixed : {"PT0.0000005S", "PT0.0000015S", "PT0.0000025S", "P1DT0.0000005S", "PT1H0.5M0.0000005S", "PT0.1H0.1M0.1S",
                            "P0.1W0.1DT0.1H0.1M0.1S", "PT2.5000000000000004S"}) {
    inputs.push_back(fixed);
  }
  const std::string script = R"(
import re
UNITS = {'W': 6.048e11, 'D': 8.64e10, 'H': 3.6e9, 'M': 6e7, 'S': 1e6}
LIMIT = 2**127
for line in sys.stdin:
    s = unhex(line.strip()).decode()
    sign = -1 if s[0] == '-' else 1
    body = s.lstrip('+-')[1:]
    date, _, time = body.partition('T')
    parts = {}
    for section, units in ((date, 'WD'), (time, 'HMS')):
        for num, unit in re.findall(r'([0-9]+(?:[.,][0-9]+)?)([A-Z])', section):
            parts[unit] = float(num.replace(',', '.')) * UNITS[unit]
    g = lambda u: parts.get(u, 0.0)
    total = g('W') + g('D')
    total = total + g('H')
    total = g('M') + total
    total = g('S') + total
    try:
        n = round(total)
    except OverflowError:
        emit(b'out of range'); continue
    n = min(n, LIMIT - 1)
    emit(str(sign * n).encode())
)";
  RUN_PEER_OR_SKIP(run, script, inputs);
  for (std::size_t i = 0; i < inputs.size(); ++i) {
    const auto duration = isodate::parse_duration(inputs[i]);
    const std::string ours = duration ? show128(duration.value().micros)
                                      : (duration.error() == "Duration value is out of range" ? "out of range" : duration.error());
    EXPECT_EQ(ours, run.lines[i]) << inputs[i];
  }
}

TEST(PythonPeer, SplitTimedeltaMatchesTimedelta) {
  std::vector<std::string> inputs;
  std::mt19937_64 random(4);
  constexpr __int128 kMaxMicros = static_cast<__int128>(999999999) * 86400000000 + 86399999999;
  for (int i = 0; i < 20000; ++i) {
    __int128 value;
    switch (i % 4) {
      case 0:
        value = static_cast<__int128>(random() % 200000000000) - 100000000000;
        break;
      case 1:
        value = static_cast<__int128>(random() % 2000001) - 1000000;
        break;
      default:
        value = (static_cast<__int128>(random()) << 32 | random() >> 32) % (2 * kMaxMicros + 1) - kMaxMicros;
        break;
    }
    inputs.push_back(show128(value));
  }
  const std::string script = R"(
import datetime
for line in sys.stdin:
    t = datetime.timedelta(microseconds=int(unhex(line.strip()).decode()))
    emit(f'{t.days} {t.seconds} {t.microseconds}'.encode())
)";
  RUN_PEER_OR_SKIP(run, script, inputs);
  for (std::size_t i = 0; i < inputs.size(); ++i) {
    __int128 value = 0;
    const bool negative = inputs[i][0] == '-';
    for (const char c : inputs[i]) {
      if (c != '-') value = value * 10 + (c - '0');
    }
    const auto parts = isodate::split_timedelta(negative ? -value : value);
    ASSERT_TRUE(parts) << inputs[i];
    EXPECT_EQ(std::to_string(parts.value().days) + " " + std::to_string(parts.value().seconds) + " " +
                  std::to_string(parts.value().microseconds),
              run.lines[i])
        << inputs[i];
  }
}

TEST(PythonPeer, DurationIsoformatMatchesIsodate) {
  std::vector<std::string> inputs;
  std::mt19937_64 random(5);
  for (int i = 0; i < 20000; ++i) {
    const auto days = static_cast<std::int32_t>(i % 3 == 0 ? static_cast<std::int64_t>(random() % 1999999999) - 999999999
                                                           : static_cast<std::int64_t>(random() % 11) - 5);
    const auto seconds = static_cast<std::int32_t>(i % 5 == 0 ? (random() % 24) * 3600 : random() % 86400);
    const auto micros = static_cast<std::int32_t>(i % 2 == 0 ? 0 : (i % 7 == 0 ? (random() % 1000) * 1000 : random() % 1000000));
    inputs.push_back(std::to_string(days) + " " + std::to_string(seconds) + " " + std::to_string(micros));
  }
  const std::string script = R"(
import datetime
try:
    import isodate
except ImportError:
    print('SKIP the isodate package (Debian python3-isodate) is not installed'); sys.exit(0)
for line in sys.stdin:
    d, s, u = map(int, unhex(line.strip()).decode().split())
    emit(isodate.duration_isoformat(datetime.timedelta(d, s, u)).encode())
)";
  RUN_PEER_OR_SKIP(run, script, inputs);
  for (std::size_t i = 0; i < inputs.size(); ++i) {
    std::istringstream fields(inputs[i]);
    std::int32_t days, seconds, micros;
    fields >> days >> seconds >> micros;
    EXPECT_EQ(isodate::duration_isoformat(days, seconds, micros), run.lines[i]) << inputs[i];
  }
}

TEST(PythonPeer, SnakeCaseMatchesRe) {
  // Random texts over the characters that matter to the three patterns, and
  // random bytes (ill-formed UTF-8 included), which Python decodes with
  // U+FFFD replacement before the same three substitutions and lower().
  const std::vector<std::string> alphabet = {
      "A", "B", "Z", "a", "b", "z", "0", "9", "_", " ", "\n", "\r", "\t",
      "\xC3\xA9", "\xC3\x89", "\xCE\xA3", "\xCF\x83", "\xC3\x84", "\xF0\x9D\x90\x80", "\xC4\xB0", "\xE1\xBA\x9E", ":", "\xE2\x80\xA8"};
  std::vector<std::string> inputs;
  std::mt19937_64 random(6);
  for (int i = 0; i < 30000; ++i) {
    std::string text;
    const std::size_t length = random() % 16;
    if (i % 5 == 4) {
      for (std::size_t k = 0; k < length; ++k) text.push_back(static_cast<char>(random() % 256));
    } else {
      for (std::size_t k = 0; k < length; ++k) text += alphabet[random() % alphabet.size()];
    }
    inputs.push_back(text);
  }
  for (const char* word : {"FeatureClass", "XMLParser", "getXML", "FooBARBaz", "Feature2Class", "TestV2", "A1B", "aB1C", "ABC",
                           "User_Features", "snake_Case", "Foo__Bar", "__Private", "already_snake", "\xC3\x84" "Bc", "My Feature", "",
                           "___Abc", "ABcDe", "HTTPServerError", "\xED\xA0\x80" "Ab", "\xF4\x90\x80\x80" "Xy"}) {
    inputs.push_back(word);
  }
  const std::string script = R"(
import re
S1, S2, S3 = re.compile('(.)([A-Z][a-z]+)'), re.compile('__([A-Z])'), re.compile('([a-z0-9])([A-Z])')
for line in sys.stdin:
    s = unhex(line.strip()).decode('utf-8', 'replace')
    s = S3.sub(r'\1_\2', S2.sub(r'_\1', S1.sub(r'\1_\2', s))).lower()
    emit(s.encode())
)";
  RUN_PEER_OR_SKIP(run, script, inputs);
  for (std::size_t i = 0; i < inputs.size(); ++i) {
    EXPECT_EQ(namespace_::to_snake_case(inputs[i]), run.lines[i]) << hex(inputs[i]);
  }
}

}  // namespace
}  // namespace tolva_utils
