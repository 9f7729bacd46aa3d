#include "registry/registry.h"

#include "text/text.h"

namespace tarnwick {

std::string_view hive_text(Hive hive) {
  return hive == Hive::LocalMachine ? "HKLM" : "HKCU";
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
