#pragma once
// Reading the registry: value names and subkey names of a key, a text value,
// a 32-bit value, and waiting for a change of one key's values; and setting a
// 32-bit value. Shared by the persistence watchers and the kernel-driver
// watch; each watcher thread calls its own operations, and every key opened
// here is closed before the call returns (or, for a change watch, when it is
// closed or destroyed). A key that does not exist lists as empty; one that
// exists but cannot be opened or listed completely gives nothing, so that a
// caller never mistakes a failed listing for names that went away.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>

#include "engine/flags.h"

namespace tarnwick {

// Users is HKEY_USERS, where each loaded profile is a subkey named by its
// SID; its subkey paths start with that name ("" is the root itself).
enum class Hive { CurrentUser, LocalMachine, Users };

// "HKCU", "HKLM" or "HKU", the form a DeleteRegValue remediation carries.
std::string_view hive_text(Hive hive);

// A remediation's hive text and subkey as a place in the registry: "HKLM"
// is the local machine, "HKU\{SID}" the subkey {SID} of HKEY_USERS (the SID
// must pass is_user_hive_name), and any other text the current user, as it
// always was. Nothing for "HKU" with a missing or malformed SID, which
// must never fall back to another hive.
struct RegistryPlace {
  Hive hive;
  std::string subkey;
  bool operator==(const RegistryPlace&) const = default;
};
std::optional<RegistryPlace> registry_place(std::string_view hive_text, std::string_view subkey);

// The longest SID text taken from HKEY_USERS or ProfileList; real ones stay
// well under it (a SID has at most 15 sub-authorities of 10 digits each).
inline constexpr size_t kMaxSidChars = 184;

// Whether a subkey of HKEY_USERS is a person's hive: "S-1-5-21-..." (local
// and domain accounts) or "S-1-12-1-..." (cloud accounts), not the
// "..._Classes" companion, at most kMaxSidChars long and made of digits and
// '-' after the prefix. The service accounts (S-1-5-18, -19, -20) and
// ".DEFAULT" are no one's.
bool is_user_hive_name(std::string_view name);

// Value or subkey names of one key, as the registry spells them (UTF-8).
using NameSet = std::unordered_set<std::string>;

// A value name as alerts show it: each NUL the registry allowed inside it
// written as "\\0", so "SecurityHealth\\0x" cannot pass for "SecurityHealth".
std::string shown_value_name(std::string_view name);

// Whether a value name read from the registry came through the conversion
// to UTF-8 unchanged, so that converting it back names the same value. A
// name that held unpaired surrogates reads with U+FFFD in their place.
bool value_name_round_trips(std::string_view name);

// One walk over a key's names by index, with the key's own count of them
// taken just before and just after. A walk by index is not a snapshot: a name
// created or deleted meanwhile shifts the indexes, so a stable name can be
// skipped or read twice.
struct NameWalk {
  std::optional<uint32_t> count_before;
  std::optional<uint32_t> count_after;
  // The key's last-write time around the walk. A name made and removed again
  // during the walk leaves the counts equal; the registry moves this time for
  // it (measured under Wine; Windows documents it only as the time the key
  // last changed), so it is a second guard beside the counts.
  std::optional<uint64_t> written_before;
  std::optional<uint64_t> written_after;
  size_t names_read = 0;  // successful reads, a name read twice counted twice
  NameSet names;
  bool ended = false;  // stopped at "no more items" rather than at another failure
};

// A walk counts only when nothing changed the key's count or its last-write
// time during it and it read exactly that many different names.
bool walk_is_complete(const NameWalk& walk);

inline constexpr int kListingTries = 3;

// The names of the first complete walk out of kListingTries; nothing when
// none was complete.
std::optional<NameSet> complete_listing(const std::function<NameWalk()>& walk);

// Names are read into a buffer of this many UTF-16 units (511 and the
// terminating 0), which holds every key name and nearly every value name.
inline constexpr size_t kNameBufferUnits = 512;
// The longest value name the registry accepts.
inline constexpr size_t kLongestValueNameUnits = 16383;

// Text values larger than this are not read: nothing the watchers look at
// (a command line, an image path) can be longer, and the registry's own
// value limit for the classic hive format is the same 1 MiB.
inline constexpr size_t kMaxTextValueBytes = 1u << 20;

// A notification for changes of one key's values (added, changed or
// deleted), not of its subkeys. Owned by one watcher thread. Each arm() opens
// the key afresh; the key stays open until the next arm(), close() or the
// watch's end.
class ValueChangeWatch {
 public:
  virtual ~ValueChangeWatch() = default;

  // Opens the key and registers for its next value change. False when the key
  // cannot be opened or the registration is refused (the key is then closed).
  virtual bool arm() = 0;

  enum class Wait { Changed, Stopped, Failed };
  // Waits for the armed notification, looking at `stop` at least every 2 s.
  // Stopped closes the key; Failed means the wait itself broke.
  virtual Wait wait(const EngineFlags& flags) = 0;

  virtual void close() = 0;
};

class RegistryReader {
 public:
  virtual ~RegistryReader() = default;

  // Every name of the key, by complete_listing(); an empty set when the key
  // does not exist; nothing when it cannot be opened or no walk was
  // complete. A name too long for the usual buffer is read again into one
  // that fits any. Value names are exact counted names: one may hold a NUL.
  virtual std::optional<NameSet> value_names(Hive hive, std::string_view subkey) const = 0;
  virtual std::optional<NameSet> subkey_names(Hive hive, std::string_view subkey) const = 0;

  // Nothing when the key or value cannot be read, or the value is empty or
  // larger than kMaxTextValueBytes.
  virtual std::optional<std::string> read_text(Hive hive, std::string_view subkey,
                                               std::string_view value) const = 0;

  // The value's data when it is exactly 4 bytes (little-endian), whatever its type.
  virtual std::optional<uint32_t> read_u32(Hive hive, std::string_view subkey,
                                           std::string_view value) const = 0;

  // A watch on `subkey`, not yet armed; null when its wait object cannot be created.
  virtual std::unique_ptr<ValueChangeWatch> watch_values(Hive hive, std::string_view subkey) = 0;
};

// Changing the registry, kept apart from reading so that only the callers
// that change it are given it.
class RegistryWriter {
 public:
  virtual ~RegistryWriter() = default;

  // Opens the existing key with the right to set values only, and writes
  // `data` as a REG_DWORD. False when the open or the write is refused; a
  // missing key is not created.
  virtual bool write_u32(Hive hive, std::string_view subkey, std::string_view value,
                         uint32_t data) = 0;
};

}  // namespace tarnwick
