#include "fileio/fileio.h"

#include <system_error>

namespace tarnwick {

std::filesystem::path path_from_utf8(std::string_view utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string path_to_utf8(const std::filesystem::path& path) {
  const std::u8string s = path.u8string();
  return std::string(s.begin(), s.end());
}

std::filesystem::path staging_path(const std::filesystem::path& target) {
  std::filesystem::path tmp = target;
  tmp.replace_extension("json.tmp");
  return tmp;
}

bool write_file_replacing(const std::filesystem::path& target, std::string_view bytes) {
  const std::filesystem::path tmp = staging_path(target);
  return write_file(tmp, bytes) && rename_replacing(tmp, target);
}

bool make_directories(const std::filesystem::path& path) {
  std::error_code ec;
  std::filesystem::create_directories(path, ec);
  if (ec) return false;
  return std::filesystem::is_directory(path, ec);
}

std::optional<uint64_t> file_size(const std::filesystem::path& path) {
  std::error_code ec;
  const auto size = std::filesystem::file_size(path, ec);
  if (ec) return std::nullopt;
  return static_cast<uint64_t>(size);
}

}  // namespace tarnwick
