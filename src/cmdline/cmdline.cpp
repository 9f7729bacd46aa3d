#include "cmdline/cmdline.h"

#include <algorithm>

#include "text/text.h"

namespace tarnwick {

namespace {

// Layouts of a 64-bit process, the only kind the engine is built as.
// Counted UTF-16 string: Length (bytes), MaximumLength, 4 bytes of padding,
// then the text's address.
constexpr size_t kCountedStringSize = 16;
constexpr size_t kCountedStringBufferOffset = 8;
// The process parameters' address within the environment block, and the
// command line's counted string within the parameters.
constexpr uint64_t kPebProcessParametersOffset = 0x20;
constexpr uint64_t kParametersCommandLineOffset = 0x70;

uint16_t le16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

uint64_t le64(const unsigned char* p) {
  uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}

struct CountedString {
  uint16_t length_bytes = 0;
  uint64_t buffer = 0;
};

CountedString parse_counted_string(const unsigned char* p) {
  return {le16(p), le64(p + kCountedStringBufferOffset)};
}

// A length no well-formed command line has: odd (half a unit) or beyond the
// system's limit.
bool implausible_length(uint16_t length_bytes) {
  return length_bytes % 2 != 0 || length_bytes / 2 > kMaxCommandLineUnits;
}

// The whole counted text. A NUL inside it becomes a blank: a process can
// write one into its own command line to hide what follows from readers that
// stop there, and no text in the engine carries a NUL.
std::string utf8_of(const unsigned char* bytes, size_t length_bytes) {
  std::string out;
  append_utf16le(bytes, length_bytes / 2, out);
  std::replace(out.begin(), out.end(), '\0', ' ');
  return out;
}

std::optional<uint64_t> add(uint64_t a, uint64_t b) {
  if (a > UINT64_MAX - b) return std::nullopt;
  return a + b;
}

std::optional<uint64_t> read_pointer(RemoteMemory& memory, uint64_t address) {
  auto bytes = memory.read(address, 8);
  if (!bytes || bytes->size() != 8) return std::nullopt;
  return le64(bytes->data());
}

}  // namespace

std::optional<std::string> decode_command_line_info(const CommandLineInfo& info) {
  const std::vector<unsigned char>& buffer = info.bytes;
  if (buffer.size() < kCountedStringSize) return std::nullopt;
  const CountedString s = parse_counted_string(buffer.data());
  if (implausible_length(s.length_bytes)) return std::nullopt;
  if (s.length_bytes == 0) return std::string();
  // The text must lie inside the buffer, after the header.
  if (s.buffer < info.address) return std::nullopt;
  const uint64_t offset = s.buffer - info.address;
  if (offset < kCountedStringSize || offset > buffer.size() ||
      buffer.size() - offset < s.length_bytes) {
    return std::nullopt;
  }
  return utf8_of(buffer.data() + offset, s.length_bytes);
}

std::optional<std::string> read_command_line_from_peb(RemoteMemory& memory) {
  const std::optional<uint64_t> peb = memory.peb_address();
  if (!peb || *peb == 0) return std::nullopt;
  const auto params_at = add(*peb, kPebProcessParametersOffset);
  if (!params_at) return std::nullopt;
  const std::optional<uint64_t> params = read_pointer(memory, *params_at);
  // Zero while the process is still being set up, or after it cleared it.
  if (!params || *params == 0) return std::nullopt;
  const auto string_at = add(*params, kParametersCommandLineOffset);
  if (!string_at) return std::nullopt;
  const auto header = memory.read(*string_at, kCountedStringSize);
  if (!header || header->size() != kCountedStringSize) return std::nullopt;
  const CountedString s = parse_counted_string(header->data());
  if (implausible_length(s.length_bytes)) return std::nullopt;
  if (s.length_bytes == 0) return std::string();
  if (s.buffer == 0) return std::nullopt;
  const auto text = memory.read(s.buffer, s.length_bytes);
  if (!text || text->size() != s.length_bytes) return std::nullopt;
  return utf8_of(text->data(), s.length_bytes);
}

std::optional<std::string> read_command_line(ProcessAccess& access, uint32_t pid) {
  if (pid == 0) return std::nullopt;
  if (auto info = access.query_command_line_info(pid)) {
    if (auto line = decode_command_line_info(*info)) return line;
  }
  auto memory = access.open_memory(pid);
  if (!memory) return std::nullopt;
  return read_command_line_from_peb(*memory);
}

}  // namespace tarnwick
