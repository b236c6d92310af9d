#include "tolva_ast/ast_filesystem.h"

#include <emmintrin.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>

#include "tolva_ast/path_text.h"
#include "tolva_utils/text.h"

namespace tolva_ast {

namespace {

// Source texts are addressed by 32-bit offsets, so a text must be shorter
// than 4 GiB. A larger file is refused before a byte of it is read.
constexpr std::uint64_t kSourceSizeLimit = std::uint64_t{1} << 32;

// The text of an operating-system failure: the system's message for the
// error number, then " (os error N)". strerror_r is the thread-safe form;
// the overloads accept both the GNU form (returns the text) and the XSI form
// (fills the buffer).
[[maybe_unused]] const char* strerror_text(int result, const char* buffer) { return result == 0 ? buffer : nullptr; }
[[maybe_unused]] const char* strerror_text(const char* result, const char*) { return result; }

tolva::Error os_error(int number) {
  char buffer[256] = {};
  const char* message = strerror_text(strerror_r(number, buffer, sizeof buffer), buffer);
  std::string text = message != nullptr && *message != '\0' ? message : "Unknown error " + std::to_string(number);
  text += " (os error ";
  text += std::to_string(number);
  text += ')';
  return tolva::Error{std::move(text)};
}

tolva::Error too_large(std::string size) {
  return tolva::Error{"file too large to analyse: " + size + " bytes, source files must be smaller than 4 GiB (" +
                      std::to_string(kSourceSizeLimit) + " bytes)"};
}

// Strict UTF-8 (no overlong forms, no surrogates, nothing above U+10FFFF),
// sixteen ASCII bytes at a time where it can.
bool is_valid_utf8(std::string_view text) {
  const char* data = text.data();
  const std::size_t size = text.size();
  std::size_t pos = 0;
  while (pos < size) {
    if (pos + 16 <= size) {
      const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + pos));
      if (_mm_movemask_epi8(block) == 0) {
        pos += 16;
        continue;
      }
    }
    if (static_cast<unsigned char>(data[pos]) < 0x80) {
      ++pos;
      continue;
    }
    const tolva_utils::text::Decoded unit = tolva_utils::text::decode_utf8(text, pos);
    if (!unit.valid) return false;
    pos += unit.length;
  }
  return true;
}

// Closes the descriptor on every way out.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const { return fd_; }

 private:
  int fd_;
};

// Reads into `out` from `offset` up to `out.size()`; returns the number of
// bytes now held, or the error number. Retries interrupted reads.
struct ReadOutcome {
  std::size_t filled;
  int error;
};

ReadOutcome read_into(int fd, std::string& out, std::size_t offset) {
  while (offset < out.size()) {
    const ssize_t got = ::read(fd, out.data() + offset, out.size() - offset);
    if (got < 0) {
      if (errno == EINTR) continue;
      return {offset, errno};
    }
    if (got == 0) break;
    offset += static_cast<std::size_t>(got);
  }
  return {offset, 0};
}

}  // namespace

bool has_py_extension(std::string_view path) {
  const std::optional<std::string_view> name = path_text::file_name(path);
  if (!name) return false;
  const std::optional<std::string_view> extension = path_text::extension_of_name(*name);
  return extension && *extension == "py";
}

StdAstFileSystem::StdAstFileSystem(std::vector<std::string> files) : files_(std::move(files)) {
  std::erase_if(files_, [](const std::string& path) { return !has_py_extension(path); });
  // std::string compares as unsigned bytes, so this is the byte-wise order.
  std::stable_sort(files_.begin(), files_.end());
  files_.erase(std::unique(files_.begin(), files_.end()), files_.end());
}

tolva::Result<std::string> StdAstFileSystem::read_to_string(std::string_view path) const {
  if (path.find('\0') != std::string_view::npos) {
    return tolva::Error{"file name contained an unexpected NUL byte"};
  }
  const std::string path_z(path);
  // Non-blocking, so that opening a FIFO without a writer returns at once
  // instead of waiting for one (it is then refused below); it changes
  // nothing for a regular file.
  int fd;
  do {
    fd = ::open(path_z.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return os_error(errno);
  const FileDescriptor file(fd);

  struct stat status {};
  if (::fstat(file.get(), &status) != 0) return os_error(errno);
  if (S_ISDIR(status.st_mode)) return os_error(EISDIR);
  // A pipe, socket or device may never end (or never start): reading one
  // could hang the caller or fill memory with a stream.
  if (!S_ISREG(status.st_mode)) return tolva::Error{"not a regular file (a pipe, socket or device): not read"};
  // The size is known before reading. A file that reports none (those of
  // /proc) or grows meanwhile is read on, against the same limit.
  std::uint64_t expected = 0;
  if (status.st_size > 0) {
    expected = static_cast<std::uint64_t>(status.st_size);
    if (expected >= kSourceSizeLimit) return too_large(std::to_string(expected));
  }

  // One byte past the expected size, to see the end (or growth) in the
  // same read; then in doubling steps while the file goes on.
  std::string text;
  text.resize(static_cast<std::size_t>(std::max<std::uint64_t>(expected + 1, 4096)));
  std::size_t filled = 0;
  while (true) {
    const ReadOutcome outcome = read_into(file.get(), text, filled);
    if (outcome.error != 0) return os_error(outcome.error);
    filled = outcome.filled;
    if (filled < text.size()) break;
    if (filled >= kSourceSizeLimit) return too_large("more than " + std::to_string(kSourceSizeLimit - 1));
    text.resize(static_cast<std::size_t>(std::min<std::uint64_t>(std::uint64_t{text.size()} * 2, kSourceSizeLimit)));
  }
  text.resize(filled);
  // Only a text read in growing steps has much spare room.
  if (text.capacity() - filled > filled / 8 + 4096) text.shrink_to_fit();

  if (!is_valid_utf8(text)) return tolva::Error{"stream did not contain valid UTF-8"};
  return text;
}

tolva::Result<std::vector<std::string>> StdAstFileSystem::all_files() const { return files_; }

}  // namespace tolva_ast
