#include "files/records.h"

#include <algorithm>

#include "text/text.h"

namespace tarnwick {

namespace {

// Records are written in the machine's order, which is little-endian on every
// platform the system runs on; reading byte by byte also needs no alignment.
uint32_t read_u32(const unsigned char* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

bool qualifies(uint32_t action) {
  return action == kActionAdded || action == kActionModified || action == kActionRenamedNewName;
}

}  // namespace

size_t walk_change_records(std::span<const unsigned char> buffer, size_t completed,
                           std::string& scratch, ChangeSink& sink) {
  const size_t end = std::min(completed, buffer.size());
  const unsigned char* base = buffer.data();
  size_t qualifying = 0;
  size_t offset = 0;
  while (end - offset >= kChangeRecordHeaderSize) {
    const unsigned char* record = base + offset;
    const uint32_t next = read_u32(record);
    const uint32_t action = read_u32(record + 4);
    const uint32_t name_bytes = read_u32(record + 8);
    if (name_bytes > end - offset - kChangeRecordHeaderSize) break;
    const size_t units = name_bytes / 2;
    if (units != 0 && qualifies(action)) {
      scratch.clear();
      append_utf16le(record + kChangeRecordHeaderSize, units, scratch);
      sink.on_change(scratch);
      ++qualifying;
    }
    // A zero offset marks the last record; one reaching past the returned bytes
    // cannot lead to another whole header.
    if (next == 0 || next >= end - offset) break;
    offset += next;
  }
  return qualifying;
}

}  // namespace tarnwick
