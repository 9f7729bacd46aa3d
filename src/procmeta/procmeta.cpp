#include "procmeta/procmeta.h"

#include "text/text.h"

namespace tarnwick {

std::string win32_openable_path(std::string_view path) {
  constexpr std::string_view kDevice = "\\Device\\";
  if (path.size() > kDevice.size() && path.substr(0, kDevice.size()) == kDevice) {
    return "\\\\?\\GLOBALROOT" + std::string(path);
  }
  return std::string(path);
}

std::optional<std::string> process_name(const ProcessQuery& query, uint32_t pid) {
  auto path = query.query_image_path(pid);
  if (!path) return std::nullopt;
  return std::string(file_name(*path));
}

}  // namespace tarnwick
