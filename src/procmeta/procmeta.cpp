#include "procmeta/procmeta.h"

#include "text/text.h"

namespace tarnwick {

std::optional<std::string> process_name(const ProcessQuery& query, uint32_t pid) {
  auto path = query.query_image_path(pid);
  if (!path) return std::nullopt;
  return std::string(file_name(*path));
}

}  // namespace tarnwick
