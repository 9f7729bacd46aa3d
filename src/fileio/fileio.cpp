#include "fileio/fileio.h"

#include <chrono>
#include <system_error>
#include <thread>

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
  if (!write_file(tmp, bytes)) return false;
  // Windows refuses to replace a file while another program is reading it;
  // such reads are short, so a few brief retries get the new file in place.
  for (int attempt = 0;; ++attempt) {
    if (rename_replacing(tmp, target)) return true;
    if (attempt == 4) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
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
