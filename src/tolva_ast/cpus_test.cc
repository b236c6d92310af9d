#include <gtest/gtest.h>

#include <map>
#include <string>
#include <thread>

#include "test_support/tolva_ast/test_files.h"
#include "tolva_ast/project_index.h"

namespace tolva_ast {
namespace {

using testing_support::ScratchDirectory;

constexpr const char* kV2Mount = "30 25 0:26 / /sys/fs/cgroup rw,nosuid,nodev - cgroup2 cgroup2 rw,nsdelegate\n";
constexpr const char* kV1Mounts =
    "22 1 8:1 / / rw,relatime - ext4 /dev/sda1 rw\n"
    "41 30 0:36 / /sys/fs/cgroup/memory rw,nosuid - cgroup cgroup rw,memory\n"
    "40 30 0:35 / /sys/fs/cgroup/cpu,cpuacct rw,nosuid shared:9 - cgroup cgroup rw,cpu,cpuacct\n";

TEST(CpusWithinCgroupQuota, TheQuotaRoundedUpBoundsTheAffinityCount) {
  struct Case {
    const char* name;
    std::map<std::string, std::string> files;
    unsigned affinity;
    unsigned expected;
  };
  const Case cases[] = {
      {"v2 quota of two and a half CPUs",
       {{"proc/self/cgroup", "0::/user.slice/app\n"},
        {"proc/self/mountinfo", kV2Mount},
        {"sys/fs/cgroup/user.slice/app/cpu.max", "250000 100000\n"}},
       8, 3},
      {"v2 exact quota",
       {{"proc/self/cgroup", "0::/app\n"},
        {"proc/self/mountinfo", kV2Mount},
        {"sys/fs/cgroup/app/cpu.max", "200000 100000\n"}},
       8, 2},
      {"v2 no limit",
       {{"proc/self/cgroup", "0::/app\n"},
        {"proc/self/mountinfo", kV2Mount},
        {"sys/fs/cgroup/app/cpu.max", "max 100000\n"}},
       8, 8},
      {"v2 an ancestor's smaller quota",
       {{"proc/self/cgroup", "0::/outer/inner\n"},
        {"proc/self/mountinfo", kV2Mount},
        {"sys/fs/cgroup/outer/cpu.max", "50000 100000\n"},
        {"sys/fs/cgroup/outer/inner/cpu.max", "max 100000\n"}},
       8, 1},
      {"v2 quota above the affinity count",
       {{"proc/self/cgroup", "0::/app\n"},
        {"proc/self/mountinfo", kV2Mount},
        {"sys/fs/cgroup/app/cpu.max", "1600000 100000\n"}},
       4, 4},
      {"v2 group at the mount's top",
       {{"proc/self/cgroup", "0::/\n"},
        {"proc/self/mountinfo", kV2Mount},
        {"sys/fs/cgroup/cpu.max", "300000 100000\n"}},
       8, 3},
      {"v1 quota over period",
       {{"proc/self/cgroup", "5:memory:/docker/abc\n4:cpu,cpuacct:/docker/abc\n"},
        {"proc/self/mountinfo", kV1Mounts},
        {"sys/fs/cgroup/cpu,cpuacct/docker/abc/cpu.cfs_quota_us", "150000\n"},
        {"sys/fs/cgroup/cpu,cpuacct/docker/abc/cpu.cfs_period_us", "100000\n"}},
       8, 2},
      {"v1 no limit",
       {{"proc/self/cgroup", "4:cpu,cpuacct:/docker/abc\n"},
        {"proc/self/mountinfo", kV1Mounts},
        {"sys/fs/cgroup/cpu,cpuacct/docker/abc/cpu.cfs_quota_us", "-1\n"},
        {"sys/fs/cgroup/cpu,cpuacct/docker/abc/cpu.cfs_period_us", "100000\n"}},
       6, 6},
      {"v1 mount rooted at the container's group",
       {{"proc/self/cgroup", "4:cpu,cpuacct:/docker/abc\n"},
        {"proc/self/mountinfo", "40 30 0:35 /docker/abc /sys/fs/cgroup/cpu rw - cgroup cgroup rw,cpuacct,cpu\n"},
        {"sys/fs/cgroup/cpu/cpu.cfs_quota_us", "400000\n"},
        {"sys/fs/cgroup/cpu/cpu.cfs_period_us", "100000\n"}},
       8, 4},
      {"hybrid: no v2 quota, the v1 cpu controller's",
       {{"proc/self/cgroup", "0::/app\n4:cpu,cpuacct:/app\n"},
        {"proc/self/mountinfo", std::string(kV2Mount) + kV1Mounts},
        {"sys/fs/cgroup/cpu,cpuacct/app/cpu.cfs_quota_us", "100000\n"},
        {"sys/fs/cgroup/cpu,cpuacct/app/cpu.cfs_period_us", "100000\n"}},
       8, 1},
      {"a mount point with an escaped space",
       {{"proc/self/cgroup", "0::/app\n"},
        {"proc/self/mountinfo", "30 25 0:26 / /sys/fs/my\\040cgroup rw - cgroup2 cgroup2 rw\n"},
        {"sys/fs/my cgroup/app/cpu.max", "100000 100000\n"}},
       8, 1},
      {"no cgroup files", {}, 8, 8},
      {"no cgroup mount",
       {{"proc/self/cgroup", "0::/app\n"}, {"proc/self/mountinfo", "22 1 8:1 / / rw - ext4 /dev/sda1 rw\n"}},
       8, 8},
      {"malformed quotas",
       {{"proc/self/cgroup", "0::/a/b/c\n"},
        {"proc/self/mountinfo", kV2Mount},
        {"sys/fs/cgroup/a/b/c/cpu.max", "lots 100000\n"},
        {"sys/fs/cgroup/a/b/cpu.max", "100000 0\n"},
        {"sys/fs/cgroup/a/cpu.max", "\n"}},
       8, 8},
      {"a group outside the mount's root",
       {{"proc/self/cgroup", "4:cpu:/elsewhere\n"},
        {"proc/self/mountinfo", "40 30 0:35 /docker/abc /sys/fs/cgroup/cpu rw - cgroup cgroup rw,cpu\n"},
        {"sys/fs/cgroup/cpu/cpu.cfs_quota_us", "100000\n"},
        {"sys/fs/cgroup/cpu/cpu.cfs_period_us", "100000\n"}},
       8, 8},
      {"an affinity count of zero", {}, 0, 1},
      {"a tiny quota still gives one CPU",
       {{"proc/self/cgroup", "0::/app\n"},
        {"proc/self/mountinfo", kV2Mount},
        {"sys/fs/cgroup/app/cpu.max", "1000 100000\n"}},
       8, 1},
  };
  for (const Case& c : cases) {
    const ScratchDirectory dir;
    for (const auto& [path, content] : c.files) dir.write(path, content);
    EXPECT_EQ(cpus_within_cgroup_quota(c.affinity, dir.path()), c.expected) << c.name;
    EXPECT_EQ(cpus_within_cgroup_quota(c.affinity, dir.path() + "/"), c.expected) << c.name << " (root with /)";
  }
}

TEST(AvailableCpus, IsAtLeastOneAndAtMostTheMachinesCount) {
  const unsigned cpus = available_cpus();
  EXPECT_GE(cpus, 1u);
  if (std::thread::hardware_concurrency() > 0) {
    EXPECT_LE(cpus, std::thread::hardware_concurrency());
  }
}

}  // namespace
}  // namespace tolva_ast
