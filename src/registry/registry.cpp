#include "registry/registry.h"

#include <algorithm>

#include "text/text.h"

namespace tarnwick {

std::string_view hive_text(Hive hive) {
  switch (hive) {
    case Hive::LocalMachine: return "HKLM";
    case Hive::Users: return "HKU";
    case Hive::CurrentUser: break;
  }
  return "HKCU";
}

bool is_user_hive_name(std::string_view name) {
  if (name.size() > kMaxSidChars || name.ends_with("_Classes")) return false;
  std::string_view rest;
  for (std::string_view prefix : {std::string_view("S-1-5-21-"), std::string_view("S-1-12-1-")}) {
    if (name.starts_with(prefix)) rest = name.substr(prefix.size());
  }
  if (rest.empty() || rest.front() == '-' || rest.back() == '-') return false;
  for (const char c : rest) {
    if ((c < '0' || c > '9') && c != '-') return false;
  }
  return true;
}

std::optional<RegistryPlace> registry_place(std::string_view hive_text, std::string_view subkey) {
  if (hive_text == "HKLM") return RegistryPlace{Hive::LocalMachine, std::string(subkey)};
  if (hive_text == "HKU" || hive_text.starts_with("HKU\\")) {
    const std::string_view sid = hive_text.substr(std::min<size_t>(hive_text.size(), 4));
    if (!is_user_hive_name(sid) || subkey.empty()) return std::nullopt;
    return RegistryPlace{Hive::Users, std::string(sid) + "\\" + std::string(subkey)};
  }
  return RegistryPlace{Hive::CurrentUser, std::string(subkey)};
}

}  // namespace tarnwick
