// The number of CPUs available to this process: the CPUs of its affinity
// mask, bounded by the CPU quota of its control group (cgroup v2 cpu.max,
// or v1 cpu.cfs_quota_us over cpu.cfs_period_us), the quota rounded up.
// Anything unreadable or malformed counts as "no bound"; the answer is at
// least 1.

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tolva_ast/project_index.h"

namespace tolva_ast {

namespace {

// Control files are small; anything longer than this is not one.
constexpr std::size_t kControlFileLimit = 1 << 20;

std::optional<std::string> read_small_file(const std::string& path) {
  int fd;
  do {
    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return std::nullopt;
  std::string text;
  char buffer[4096];
  while (true) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    text.append(buffer, static_cast<std::size_t>(got));
    if (text.size() > kControlFileLimit) break;
  }
  ::close(fd);
  if (text.size() > kControlFileLimit) return std::nullopt;
  return text;
}

std::string_view trim(std::string_view text) {
  const std::size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos) return {};
  const std::size_t last = text.find_last_not_of(" \t\r\n");
  return text.substr(first, last - first + 1);
}

std::optional<std::int64_t> parse_integer(std::string_view text) {
  text = trim(text);
  std::int64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc{} || end != text.data() + text.size() || text.empty()) return std::nullopt;
  return value;
}

// Splits on `separator`, keeping empty fields.
std::vector<std::string_view> split(std::string_view text, char separator) {
  std::vector<std::string_view> fields;
  while (true) {
    const std::size_t at = text.find(separator);
    fields.push_back(text.substr(0, at));
    if (at == std::string_view::npos) return fields;
    text.remove_prefix(at + 1);
  }
}

// mountinfo writes a space, tab, newline or backslash in a path as "\ooo".
std::string unescape_mount_path(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 3 < text.size()) {
      const std::string_view digits = text.substr(i + 1, 3);
      if (std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '7'; })) {
        out.push_back(static_cast<char>((digits[0] - '0') * 64 + (digits[1] - '0') * 8 + (digits[2] - '0')));
        i += 3;
        continue;
      }
    }
    out.push_back(text[i]);
  }
  return out;
}

// Whether `path` is `prefix` or lies below it; sets `rest` to the part
// after it ("" or starting with "/").
bool below(std::string_view path, std::string_view prefix, std::string_view& rest) {
  if (prefix == "/") {
    rest = path == "/" ? std::string_view{} : path;
    return path.starts_with('/');
  }
  if (!path.starts_with(prefix)) return false;
  rest = path.substr(prefix.size());
  return rest.empty() || rest.front() == '/';
}

enum class CgroupVersion { v1, v2 };

struct Mount {
  std::string root;         // the group path the mount shows at its top
  std::string mount_point;  // where it is mounted
};

// The mount of the cgroup2 hierarchy, or of the v1 hierarchy that holds the
// "cpu" controller.
std::optional<Mount> find_mount(std::string_view mountinfo, CgroupVersion version) {
  for (const std::string_view line : split(mountinfo, '\n')) {
    const std::vector<std::string_view> fields = split(line, ' ');
    const auto dash = std::find(fields.begin(), fields.end(), "-");
    if (fields.size() < 5 || dash == fields.end() || fields.end() - dash < 2) continue;
    const std::string_view type = *(dash + 1);
    if (version == CgroupVersion::v2) {
      if (type != "cgroup2") continue;
    } else {
      if (type != "cgroup" || fields.end() - dash < 4) continue;
      const std::vector<std::string_view> options = split(*(dash + 3), ',');
      if (std::find(options.begin(), options.end(), "cpu") == options.end()) continue;
    }
    return Mount{unescape_mount_path(fields[3]), unescape_mount_path(fields[4])};
  }
  return std::nullopt;
}

// The quota of one group directory, as a whole number of CPUs rounded up.
std::optional<std::uint64_t> quota_in(const std::string& directory, CgroupVersion version) {
  std::optional<std::int64_t> quota;
  std::optional<std::int64_t> period;
  if (version == CgroupVersion::v2) {
    const std::optional<std::string> text = read_small_file(directory + "/cpu.max");
    if (!text) return std::nullopt;
    const std::vector<std::string_view> fields = split(trim(*text), ' ');
    if (fields.empty() || fields[0] == "max") return std::nullopt;
    quota = parse_integer(fields[0]);
    period = fields.size() >= 2 ? parse_integer(fields[1]) : std::optional<std::int64_t>(100000);
  } else {
    const std::optional<std::string> quota_text = read_small_file(directory + "/cpu.cfs_quota_us");
    const std::optional<std::string> period_text = read_small_file(directory + "/cpu.cfs_period_us");
    if (!quota_text || !period_text) return std::nullopt;
    quota = parse_integer(*quota_text);
    period = parse_integer(*period_text);
  }
  if (!quota || !period || *quota <= 0 || *period <= 0) return std::nullopt;
  const auto q = static_cast<std::uint64_t>(*quota);
  const auto p = static_cast<std::uint64_t>(*period);
  return q / p + (q % p != 0 ? 1 : 0);
}

// The smallest quota of the group and its ancestors up to the mount's top.
std::optional<std::uint64_t> hierarchy_quota(std::string_view root, std::string_view mountinfo,
                                             std::string_view group_path, CgroupVersion version) {
  const std::optional<Mount> mount = find_mount(mountinfo, version);
  if (!mount) return std::nullopt;
  std::string_view relative;
  if (!below(group_path, mount->root, relative)) return std::nullopt;
  std::string directory = std::string(root) + mount->mount_point;
  const std::size_t top = directory.size();
  directory.append(relative);
  std::optional<std::uint64_t> smallest;
  while (true) {
    if (const std::optional<std::uint64_t> quota = quota_in(directory, version)) {
      smallest = smallest ? std::min(*smallest, *quota) : *quota;
    }
    if (directory.size() <= top) break;
    directory.resize(std::max(top, directory.rfind('/')));
  }
  return smallest;
}

}  // namespace

unsigned cpus_within_cgroup_quota(unsigned affinity, std::string_view root_dir) {
  affinity = std::max(affinity, 1u);
  std::string_view root = root_dir;
  while (!root.empty() && root.back() == '/') root.remove_suffix(1);
  const std::optional<std::string> groups = read_small_file(std::string(root) + "/proc/self/cgroup");
  const std::optional<std::string> mountinfo = read_small_file(std::string(root) + "/proc/self/mountinfo");
  if (!groups || !mountinfo) return affinity;

  std::optional<std::uint64_t> quota;
  for (const CgroupVersion version : {CgroupVersion::v2, CgroupVersion::v1}) {
    for (const std::string_view line : split(*groups, '\n')) {
      // hierarchy-id:controllers:path; the v2 line is "0::path".
      const std::size_t first = line.find(':');
      const std::size_t second = first == std::string_view::npos ? first : line.find(':', first + 1);
      if (second == std::string_view::npos) continue;
      const std::string_view id = line.substr(0, first);
      const std::string_view controllers = line.substr(first + 1, second - first - 1);
      const std::string_view path = line.substr(second + 1);
      if (version == CgroupVersion::v2) {
        if (id != "0" || !controllers.empty()) continue;
      } else {
        const std::vector<std::string_view> names = split(controllers, ',');
        if (std::find(names.begin(), names.end(), "cpu") == names.end()) continue;
      }
      quota = hierarchy_quota(root, *mountinfo, path, version);
      break;
    }
    if (quota) break;
  }
  if (!quota) return affinity;
  return static_cast<unsigned>(std::clamp<std::uint64_t>(*quota, 1, affinity));
}

unsigned available_cpus() {
  unsigned affinity = 0;
  for (int size = 1024; size <= (1 << 20) && affinity == 0; size *= 4) {
    cpu_set_t* set = CPU_ALLOC(size);
    if (set == nullptr) break;
    const std::size_t bytes = CPU_ALLOC_SIZE(size);
    CPU_ZERO_S(bytes, set);
    if (::sched_getaffinity(0, bytes, set) == 0) {
      affinity = static_cast<unsigned>(CPU_COUNT_S(bytes, set));
      CPU_FREE(set);
      break;
    }
    const int error = errno;
    CPU_FREE(set);
    if (error != EINVAL) break;
  }
  if (affinity == 0) {
    const long online = ::sysconf(_SC_NPROCESSORS_ONLN);
    affinity = online > 0 ? static_cast<unsigned>(online) : 1;
  }
  return cpus_within_cgroup_quota(affinity, "/");
}

}  // namespace tolva_ast
