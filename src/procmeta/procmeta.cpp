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

std::optional<std::string> spare_reason(uint32_t pid, const std::optional<std::string>& image_path,
                                        const ProcessStanding& standing,
                                        const SignatureCheck& trust) {
  // Killing a critical process is a bug check, not a response.
  if (standing.is_critical(pid).value_or(false)) {
    return "it is marked critical (ending it stops Windows)";
  }
  // Windows' own services run under these accounts: Windows Update's
  // installer, for one, writes faster than any burst while it services the
  // machine.
  static constexpr std::pair<std::string_view, std::string_view> kServiceAccounts[] = {
      {"S-1-5-18", "SYSTEM"}, {"S-1-5-19", "LOCAL SERVICE"}, {"S-1-5-20", "NETWORK SERVICE"}};
  if (const auto sid = standing.user_sid(pid)) {
    for (const auto& [account_sid, name] : kServiceAccounts) {
      if (*sid == account_sid) return "it runs as " + std::string(name);
    }
  }
  if (image_path && trust.is_file_signed(*image_path)) return "its image is validly signed";
  return std::nullopt;
}

std::optional<std::string> process_name(const ProcessQuery& query, uint32_t pid) {
  auto path = query.query_image_path(pid);
  if (!path) return std::nullopt;
  return std::string(file_name(*path));
}

}  // namespace tarnwick
