#include <pthread.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <system_error>

#include "sysenv/sysenv.h"
#include "text/text.h"

namespace tarnwick {

std::optional<std::string> get_env(std::string_view name) {
  const char* v = std::getenv(std::string(name).c_str());
  if (v == nullptr || !is_valid_utf8(v)) return std::nullopt;
  return std::string(v);
}

ExecutablePath executable_path() {
  std::error_code ec;
  auto p = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) return {std::nullopt, static_cast<unsigned long>(ec.value()), ec.message()};
  return {p, 0, {}};
}

void name_current_thread(std::string_view name) {
  // The kernel keeps at most 15 bytes of a thread's name.
  const std::string shortened(name.substr(0, 15));
  pthread_setname_np(pthread_self(), shortened.c_str());
}

}  // namespace tarnwick
