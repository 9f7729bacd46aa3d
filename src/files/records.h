#pragma once
// The change records a directory watch delivers: the walk over the bytes one
// completed read returned, which picks out the records that count as a write
// (added, modified, renamed to) and hands their names, relative to the watched
// folder, to a sink. Pure and bounded by the returned byte count, so it can
// take any bytes; called on each folder's watcher thread.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace tarnwick {

// One read's buffer, allocated once per watched folder.
inline constexpr size_t kChangeBufferSize = 65536;

// The actions a change record carries.
enum ChangeAction : uint32_t {
  kActionAdded = 1,
  kActionRemoved = 2,
  kActionModified = 3,
  kActionRenamedOldName = 4,
  kActionRenamedNewName = 5,
};

// Next-entry offset, action and name length (bytes), each 32 bits, then the name.
inline constexpr size_t kChangeRecordHeaderSize = 12;

class ChangeSink {
 public:
  virtual ~ChangeSink() = default;
  // A qualifying record's name; valid only during the call.
  virtual void on_change(std::string_view relative_name) = 0;
};

// Walks the records in the first `completed` bytes of `buffer` (no more than
// the buffer holds) from offset 0 and passes each qualifying name to `sink`,
// in order. A record is read only when its header and its whole name lie
// inside those bytes; a next-entry offset of 0, or one that leads outside
// them, ends the walk. Names are converted with U+FFFD for invalid UTF-16,
// into `scratch`, which callers reuse. Returns how many records qualified.
size_t walk_change_records(std::span<const unsigned char> buffer, size_t completed,
                           std::string& scratch, ChangeSink& sink);

}  // namespace tarnwick
