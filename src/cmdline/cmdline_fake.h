#pragma once
// In-memory stand-ins for another process's memory and for the platform's
// command-line access, and a scripted command-line query. Tests only.

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cmdline/cmdline.h"

namespace tarnwick::testing {

// Readable regions at given addresses; a read succeeds only when all of its
// bytes lie in one region.
class FakeRemoteMemory final : public RemoteMemory {
 public:
  std::optional<uint64_t> peb;
  std::map<uint64_t, std::vector<unsigned char>> regions;

  std::optional<uint64_t> peb_address() override { return peb; }
  std::optional<std::vector<unsigned char>> read(uint64_t address, size_t size) override {
    auto it = regions.upper_bound(address);
    if (it == regions.begin()) return std::nullopt;
    --it;
    const uint64_t offset = address - it->first;
    if (offset > it->second.size() || it->second.size() - offset < size) return std::nullopt;
    const auto* begin = it->second.data() + offset;
    return std::vector<unsigned char>(begin, begin + size);
  }
};

class FakeProcessAccess final : public ProcessAccess {
 public:
  std::map<uint32_t, CommandLineInfo> info;        // answers to the direct question
  std::map<uint32_t, FakeRemoteMemory> memories;  // processes that can be opened
  int opened = 0;

  std::optional<CommandLineInfo> query_command_line_info(uint32_t pid) override {
    auto it = info.find(pid);
    if (it == info.end()) return std::nullopt;
    return it->second;
  }
  std::unique_ptr<RemoteMemory> open_memory(uint32_t pid) override {
    auto it = memories.find(pid);
    if (it == memories.end()) return nullptr;
    ++opened;
    return std::make_unique<FakeRemoteMemory>(it->second);
  }
};

class FakeCommandLineQuery final : public CommandLineQuery {
 public:
  std::map<uint32_t, std::string> lines;
  mutable std::vector<uint32_t> asked;
  std::optional<std::string> command_line(uint32_t pid) const override {
    asked.push_back(pid);
    auto it = lines.find(pid);
    if (it == lines.end()) return std::nullopt;
    return it->second;
  }
};

}  // namespace tarnwick::testing
