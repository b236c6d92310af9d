#pragma once

// Test support: an in-memory AstFileSystem that counts its reads, can hold
// reads of chosen paths at a gate, and can fail fatally on chosen paths.

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "support/fatal_error.h"
#include "test_support/threads.h"
#include "tolva_ast/ast_filesystem.h"

namespace tolva_ast::testing_support {

class FakeFileSystem final : public AstFileSystem {
 public:
  // Files and their texts; a path that is not here reads as missing.
  explicit FakeFileSystem(std::map<std::string, std::string, std::less<>> files,
                          std::optional<std::vector<std::string>> listing = std::nullopt)
      : files_(std::move(files)), listing_(std::move(listing)) {}

  tolva::Result<std::string> read_to_string(std::string_view path) const override {
    std::unique_lock lock(mutex_);
    ++reads_[std::string(path)];
    readers_[std::string(path)].push_back(std::this_thread::get_id());
    ++in_read_;
    changed_.notify_all();
    changed_.wait(lock, [&] { return open_ || !held_.contains(path); });
    --in_read_;
    if (fatal_.contains(path)) throw tolva::FatalError("fake file system: fatal read of " + std::string(path));
    const auto found = files_.find(path);
    if (found == files_.end()) return tolva::Error{"No such file or directory (os error 2)"};
    return found->second;
  }

  tolva::Result<std::vector<std::string>> all_files() const override {
    std::lock_guard lock(mutex_);
    ++listings_;
    if (!listing_) return tolva::Error{"listing refused"};
    return *listing_;
  }

  // Reads of `path` wait until open_gate().
  void hold(std::string path) {
    std::lock_guard lock(mutex_);
    held_.insert(std::move(path));
  }
  void open_gate() {
    std::lock_guard lock(mutex_);
    open_ = true;
    changed_.notify_all();
  }
  // Reads of `path` throw a FatalError.
  void fail_fatally(std::string path) {
    std::lock_guard lock(mutex_);
    fatal_.insert(std::move(path));
  }

  // Waits (up to ten seconds) until `count` reads are inside
  // read_to_string at once; false on timeout.
  bool wait_for_readers(int count) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, test_support::kHangGuard, [&] { return in_read_ >= count; });
  }

  int reads(std::string_view path) const {
    std::lock_guard lock(mutex_);
    const auto found = reads_.find(path);
    return found == reads_.end() ? 0 : found->second;
  }
  int total_reads() const {
    std::lock_guard lock(mutex_);
    int total = 0;
    for (const auto& [path, count] : reads_) total += count;
    return total;
  }
  std::vector<std::thread::id> readers(std::string_view path) const {
    std::lock_guard lock(mutex_);
    const auto found = readers_.find(path);
    return found == readers_.end() ? std::vector<std::thread::id>{} : found->second;
  }
  int listings() const {
    std::lock_guard lock(mutex_);
    return listings_;
  }

 private:
  const std::map<std::string, std::string, std::less<>> files_;
  const std::optional<std::vector<std::string>> listing_;

  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;                            // guarded by mutex_:
  mutable std::map<std::string, int, std::less<>> reads_;              //   reads per path
  mutable std::map<std::string, std::vector<std::thread::id>, std::less<>> readers_;
  mutable int in_read_ = 0;
  mutable int listings_ = 0;
  std::set<std::string, std::less<>> held_;
  std::set<std::string, std::less<>> fatal_;
  bool open_ = false;
};

}  // namespace tolva_ast::testing_support
