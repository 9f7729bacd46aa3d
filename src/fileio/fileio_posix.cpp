// POSIX file operations for the native build (tests and tools).
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "fileio/fileio.h"

namespace tarnwick {

namespace {

class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }

 private:
  int fd_;
};

bool write_all(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

}  // namespace

ReadResult read_file(const std::filesystem::path& path, uint64_t max_bytes) {
  Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.valid()) {
    return {errno == ENOENT || errno == ENOTDIR ? ReadStatus::NotFound : ReadStatus::Failed, {}};
  }
  struct stat info {};
  if (::fstat(fd.get(), &info) == 0 && static_cast<uint64_t>(info.st_size) > max_bytes) {
    return {ReadStatus::TooLarge, {}};
  }
  ReadResult result{ReadStatus::Ok, {}};
  char buf[65536];
  for (;;) {
    const ssize_t n = ::read(fd.get(), buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      return {ReadStatus::Failed, {}};
    }
    if (n == 0) break;
    // The file may grow while it is read.
    if (static_cast<uint64_t>(n) > max_bytes - result.bytes.size()) return {ReadStatus::TooLarge, {}};
    result.bytes.append(buf, static_cast<size_t>(n));
  }
  return result;
}

bool write_file(const std::filesystem::path& path, std::string_view bytes) {
  Fd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  return fd.valid() && write_all(fd.get(), bytes);
}

bool write_new_file(const std::filesystem::path& path, std::string_view bytes) {
  Fd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
  return fd.valid() && write_all(fd.get(), bytes);
}

bool append_file(const std::filesystem::path& path, std::string_view bytes) {
  Fd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644));
  if (!fd.valid()) return false;
  // O_APPEND makes the single write land at the end as one piece.
  const ssize_t n = ::write(fd.get(), bytes.data(), bytes.size());
  return n == static_cast<ssize_t>(bytes.size());
}

AppendStatus append_file_within(const std::filesystem::path& path, std::string_view bytes,
                                uint64_t max_size) {
  Fd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644));
  if (!fd.valid()) return AppendStatus::Failed;
  struct stat info {};
  if (::fstat(fd.get(), &info) != 0) return AppendStatus::Failed;
  const auto size = static_cast<uint64_t>(info.st_size);
  if (size > 0 && (bytes.size() > max_size || size > max_size - bytes.size())) {
    return AppendStatus::Full;
  }
  const ssize_t n = ::write(fd.get(), bytes.data(), bytes.size());
  return n == static_cast<ssize_t>(bytes.size()) ? AppendStatus::Written : AppendStatus::Failed;
}

TailResult read_file_tail(const std::filesystem::path& path, uint64_t max_bytes) {
  Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.valid()) {
    return {errno == ENOENT || errno == ENOTDIR ? ReadStatus::NotFound : ReadStatus::Failed, {}, 0};
  }
  struct stat info {};
  if (::fstat(fd.get(), &info) != 0) return {};
  const auto size = static_cast<uint64_t>(info.st_size);
  TailResult result{ReadStatus::Ok, {}, size > max_bytes ? size - max_bytes : 0};
  if (::lseek(fd.get(), static_cast<off_t>(result.offset), SEEK_SET) < 0) return {};
  char buf[65536];
  // The file may grow while it is read; the limit holds all the same.
  while (result.bytes.size() < max_bytes) {
    const size_t want = static_cast<size_t>(std::min<uint64_t>(sizeof buf, max_bytes - result.bytes.size()));
    const ssize_t n = ::read(fd.get(), buf, want);
    if (n < 0) {
      if (errno == EINTR) continue;
      return {};
    }
    if (n == 0) break;
    result.bytes.append(buf, static_cast<size_t>(n));
  }
  return result;
}

FileLock FileLock::acquire(const std::filesystem::path& path) {
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) {
    // A lock file that is there but cannot be opened may be another
    // engine's; only one that is missing, and could not be made, is not.
    struct stat st;
    const bool exists = ::lstat(path.c_str(), &st) == 0;
    return FileLock(exists ? Status::Busy : Status::Failed, kNone);
  }
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    return FileLock(Status::Busy, kNone);
  }
  return FileLock(Status::Held, fd);
}

FileLock::~FileLock() {
  if (native_ != kNone) ::close(static_cast<int>(native_));
}

bool rename_replacing(const std::filesystem::path& from, const std::filesystem::path& to) {
  return std::rename(from.c_str(), to.c_str()) == 0;
}

}  // namespace tarnwick
