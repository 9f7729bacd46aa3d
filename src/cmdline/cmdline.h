#pragma once
// The command line of another running process, by pid. The system is asked
// directly first; where it refuses or does not know the question, the line is
// read out of the process's own memory (its environment block's process
// parameters). Everything read from the other process is bounded and checked:
// the process may be hostile, may be ending, and may change its memory while
// we read it. Stateless; safe from any thread.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tarnwick {

// The longest command line the system allows, in UTF-16 units.
inline constexpr uint32_t kMaxCommandLineUnits = 32767;

// Memory of one opened process.
class RemoteMemory {
 public:
  virtual ~RemoteMemory() = default;
  // The address of the process environment block (64-bit layout).
  virtual std::optional<uint64_t> peb_address() = 0;
  // Exactly `size` bytes at `address`, or nothing when any of them cannot be
  // read.
  virtual std::optional<std::vector<unsigned char>> read(uint64_t address, size_t size) = 0;
};

// A copy of the buffer the system wrote its answer into, and the address
// that buffer had: the answer's string header points into it.
struct CommandLineInfo {
  std::vector<unsigned char> bytes;
  uint64_t address = 0;
};

// What the reader needs from the platform.
class ProcessAccess {
 public:
  virtual ~ProcessAccess() = default;
  // The system's own answer to "command line of `pid`": the output buffer as
  // the system filled it (a counted UTF-16 string header followed by its
  // text). Nothing when the question is refused or unsupported.
  virtual std::optional<CommandLineInfo> query_command_line_info(uint32_t pid) = 0;
  // The process opened for reading its memory; null when it cannot be.
  virtual std::unique_ptr<RemoteMemory> open_memory(uint32_t pid) = 0;
};

// Decodes the system's answer; nothing when its header is malformed or points
// outside the buffer.
std::optional<std::string> decode_command_line_info(const CommandLineInfo& info);

// The command line as the process's parameters hold it; nothing when any read
// fails or a length or pointer is implausible.
std::optional<std::string> read_command_line_from_peb(RemoteMemory& memory);

// Either route, the system's answer first.
std::optional<std::string> read_command_line(ProcessAccess& access, uint32_t pid);

// The seam the detectors use: the command line of `pid` as UTF-8.
class CommandLineQuery {
 public:
  virtual ~CommandLineQuery() = default;
  virtual std::optional<std::string> command_line(uint32_t pid) const = 0;
};

class CommandLineReader final : public CommandLineQuery {
 public:
  explicit CommandLineReader(ProcessAccess& access) : access_(access) {}
  std::optional<std::string> command_line(uint32_t pid) const override {
    return read_command_line(access_, pid);
  }

 private:
  ProcessAccess& access_;
};

}  // namespace tarnwick
