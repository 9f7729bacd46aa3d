// The lock probe for the native build: the engine holds an exclusive flock.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

#include "fileio/fileio.h"

namespace tarnwick {

LockProbe probe_lock(const std::filesystem::path& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT || errno == ENOTDIR ? LockProbe::Free : LockProbe::Unknown;
  LockProbe result = LockProbe::Unknown;
  if (::flock(fd, LOCK_SH | LOCK_NB) == 0) {
    result = LockProbe::Free;
  } else if (errno == EWOULDBLOCK) {
    result = LockProbe::Held;
  }
  ::close(fd);  // also drops the shared lock
  return result;
}

}  // namespace tarnwick
