#pragma once
// In-memory stand-ins for the folder watch and the write counters, and a
// builder of change-record buffers as the system lays them out. Tests and
// benchmarks only.

#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "engine/alert_queue.h"
#include "engine/flags.h"
#include "files/detector.h"
#include "files/probe.h"
#include "files/records.h"

namespace tarnwick::testing {

struct RawRecord {
  uint32_t action;
  std::u16string name;
};

// Appends one record; `next` is its next-entry offset as written (0 for the last).
inline void append_change_record(std::string& out, uint32_t next, uint32_t action,
                                 std::u16string_view name,
                                 uint32_t name_bytes_override = UINT32_MAX) {
  const auto put32 = [&out](uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>(v >> (8 * i)));
  };
  put32(next);
  put32(action);
  put32(name_bytes_override != UINT32_MAX ? name_bytes_override
                                          : static_cast<uint32_t>(name.size() * 2));
  for (char16_t u : name) {
    out.push_back(static_cast<char>(u & 0xFF));
    out.push_back(static_cast<char>(u >> 8));
  }
}

// A well-formed batch: each record padded to four bytes, linked in order.
inline std::string change_records(const std::vector<RawRecord>& records) {
  std::string out;
  for (size_t i = 0; i < records.size(); ++i) {
    const size_t size = kChangeRecordHeaderSize + records[i].name.size() * 2;
    const size_t padded = (size + 3) / 4 * 4;
    const bool last = i + 1 == records.size();
    append_change_record(out, last ? 0 : static_cast<uint32_t>(padded), records[i].action,
                         records[i].name);
    out.resize(out.size() + (padded - size), '\0');
  }
  return out;
}

inline std::span<const unsigned char> as_bytes(const std::string& s) {
  return {reinterpret_cast<const unsigned char*>(s.data()), s.size()};
}

// pid -> the readings it gives, one per call; nothing once they run out.
class FakeWriteCounter final : public WriteCounter {
 public:
  mutable std::map<uint32_t, std::deque<std::optional<uint64_t>>> readings;
  std::optional<uint64_t> bytes_written(uint32_t pid) const override {
    auto it = readings.find(pid);
    if (it == readings.end() || it->second.empty()) return std::nullopt;
    auto value = it->second.front();
    it->second.pop_front();
    return value;
  }
};

// One scripted read of a fake folder watch.
struct FakeRead {
  bool request_ok = true;
  int pending_slices = 0;  // waits that time out before the read ends
  WaitStatus status = WaitStatus::Completed;
  std::string bytes;                 // written to the front of the buffer
  size_t reported_bytes = SIZE_MAX;  // the count the read reports; default bytes.size()
  std::function<void()> on_complete;
  std::function<void()> on_pending;  // after each slice that times out
};

// Plays its reads in order; once they run out it sets `stop` and refuses
// requests. Its buffer persists between reads, as the real one does.
class FakeDirectoryWatch final : public DirectoryWatch {
 public:
  FakeDirectoryWatch(EngineFlags& flags, std::deque<FakeRead> script)
      : flags_(flags), script_(std::move(script)), buffer_(kChangeBufferSize) {}

  int requests = 0;
  std::vector<std::chrono::milliseconds> waits;

  bool request() override {
    ++requests;
    if (script_.empty()) {
      flags_.request_stop();
      return false;
    }
    if (!script_.front().request_ok) {
      script_.pop_front();
      return false;
    }
    return true;
  }

  WaitResult wait(std::chrono::milliseconds slice) override {
    waits.push_back(slice);
    FakeRead& read = script_.front();
    if (read.pending_slices > 0) {
      --read.pending_slices;
      if (read.on_pending) read.on_pending();
      return {WaitStatus::Pending, 0};
    }
    std::memcpy(buffer_.data(), read.bytes.data(), std::min(read.bytes.size(), buffer_.size()));
    const WaitResult result{
        read.status, read.reported_bytes == SIZE_MAX ? read.bytes.size() : read.reported_bytes};
    if (read.on_complete) read.on_complete();
    script_.pop_front();
    return result;
  }

  std::span<const unsigned char> buffer() const override { return buffer_; }

 private:
  EngineFlags& flags_;
  std::deque<FakeRead> script_;
  std::vector<unsigned char> buffer_;
};

// Opens the folders it holds scripts for; nullptr for any other.
class FakeDirectoryWatcher final : public DirectoryWatcher {
 public:
  explicit FakeDirectoryWatcher(EngineFlags& flags) : flags_(flags) {}
  std::map<std::string, std::deque<FakeRead>> scripts;
  std::vector<std::string> opened;

  std::unique_ptr<DirectoryWatch> open(const std::string& folder) override {
    std::lock_guard lock(mutex_);
    opened.push_back(folder);
    auto it = scripts.find(folder);
    if (it == scripts.end()) return nullptr;
    return std::make_unique<FakeDirectoryWatch>(flags_, std::move(it->second));
  }

 private:
  EngineFlags& flags_;
  std::mutex mutex_;
};

}  // namespace tarnwick::testing
