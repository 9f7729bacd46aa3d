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

std::string shown_value_name(std::string_view name) {
  std::string shown;
  for (char c : name) {
    if (c == '\0') {
      shown += "\\0";
    } else {
      shown += c;
    }
  }
  return shown;
}

bool value_name_round_trips(std::string_view name) {
  // A genuine U+FFFD in a name cannot be told from a replaced unit, so it
  // does not count either: deleting by a guess could hit another value.
  return is_valid_utf8(name) && name.find("\xEF\xBF\xBD") == std::string_view::npos;
}

bool walk_is_complete(const NameWalk& walk) {
  return walk.ended && walk.count_before && walk.count_after &&
         *walk.count_before == *walk.count_after && walk.written_before &&
         walk.written_before == walk.written_after && walk.names_read == *walk.count_before &&
         walk.names.size() == walk.names_read;
}

std::optional<NameSet> complete_listing(const std::function<NameWalk()>& walk) {
  for (int attempt = 0; attempt < kListingTries; ++attempt) {
    NameWalk result = walk();
    if (walk_is_complete(result)) return std::move(result.names);
  }
  return std::nullopt;
}

}  // namespace tarnwick
