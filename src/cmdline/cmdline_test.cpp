#include "cmdline/cmdline.h"

#include <gtest/gtest.h>

#include <functional>

#include "cmdline/cmdline_fake.h"
#include "testsupport/utf16le_bytes.h"

namespace tarnwick {
namespace {

using testing::FakeProcessAccess;
using testing::FakeRemoteMemory;

constexpr uint64_t kPeb = 0x7ff6'0000'0000;
constexpr uint64_t kParams = 0x0000'0200'0000;
constexpr uint64_t kText = 0x0000'0300'0000;

void put_le(std::vector<unsigned char>& bytes, size_t at, uint64_t value, int width) {
  for (int i = 0; i < width; ++i) bytes[at + i] = static_cast<unsigned char>(value >> (8 * i));
}

std::vector<unsigned char> utf16le(std::u16string_view text) {
  const std::string bytes = testing::utf16le_bytes(text);
  return {bytes.begin(), bytes.end()};
}

// A process whose parameters hold `text` as its command line, laid out as a
// 64-bit process has it.
FakeRemoteMemory process_with(std::u16string_view text) {
  FakeRemoteMemory m;
  m.peb = kPeb;
  std::vector<unsigned char> peb(0x40, 0);
  put_le(peb, 0x20, kParams, 8);
  std::vector<unsigned char> params(0x80, 0);
  put_le(params, 0x70, text.size() * 2, 2);
  put_le(params, 0x72, text.size() * 2 + 2, 2);
  put_le(params, 0x78, kText, 8);
  m.regions[kPeb] = peb;
  m.regions[kParams] = params;
  m.regions[kText] = utf16le(text);
  return m;
}

void set_length(FakeRemoteMemory& m, uint16_t length_bytes) {
  put_le(m.regions[kParams], 0x70, length_bytes, 2);
}

TEST(PebCommandLine, ReadsOnlyWellFormedAndFullyReadableLines) {
  const std::u16string at_bound(kMaxCommandLineUnits, u'a');
  struct Case {
    const char* name;
    std::function<void(FakeRemoteMemory&)> change;
    std::optional<std::string> expected;
  };
  const Case cases[] = {
      {"well formed", [](FakeRemoteMemory&) {}, "C:\\Tools\\\xc3\xa9t\xc3\xa9.exe -enc SQBFAFgA"},
      {"empty line", [](FakeRemoteMemory& m) { set_length(m, 0); }, ""},
      {"odd length", [](FakeRemoteMemory& m) { set_length(m, 7); }, std::nullopt},
      {"past the bound", [](FakeRemoteMemory& m) { set_length(m, 0xFFFF); }, std::nullopt},
      {"text longer than its readable memory (read fails half-way)",
       [](FakeRemoteMemory& m) { set_length(m, 200); }, std::nullopt},
      {"zero parameters", [](FakeRemoteMemory& m) { put_le(m.regions[kPeb], 0x20, 0, 8); },
       std::nullopt},
      {"parameters unreadable", [](FakeRemoteMemory& m) { m.regions.erase(kParams); }, std::nullopt},
      {"null text address", [](FakeRemoteMemory& m) { put_le(m.regions[kParams], 0x78, 0, 8); },
       std::nullopt},
      {"no environment block", [](FakeRemoteMemory& m) { m.peb.reset(); }, std::nullopt},
      {"environment block at the top of the address space",
       [](FakeRemoteMemory& m) { m.peb = UINT64_MAX - 8; }, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeRemoteMemory m = process_with(u"C:\\Tools\\\u00e9t\u00e9.exe -enc SQBFAFgA");
    c.change(m);
    EXPECT_EQ(read_command_line_from_peb(m), c.expected);
  }

  SCOPED_TRACE("exactly at the bound");
  FakeRemoteMemory longest = process_with(at_bound);
  EXPECT_EQ(read_command_line_from_peb(longest), std::string(kMaxCommandLineUnits, 'a'));
}

TEST(PebCommandLine, KeepsTextAfterAnEmbeddedNul) {
  FakeRemoteMemory m = process_with(std::u16string(u"notepad.exe\0-enc x", 18));
  EXPECT_EQ(read_command_line_from_peb(m), "notepad.exe -enc x");
}

// The system's answer: a counted string header whose text address points into
// the same buffer.
constexpr uint64_t kInfoAt = 0x5000;

CommandLineInfo info_buffer(std::u16string_view text) {
  std::vector<unsigned char> b(16);
  const auto units = utf16le(text);
  b.insert(b.end(), units.begin(), units.end());
  put_le(b, 0, units.size(), 2);
  put_le(b, 2, units.size(), 2);
  put_le(b, 8, kInfoAt + 16, 8);
  return {b, kInfoAt};
}

TEST(CommandLineInfo, AcceptsOnlyTextInsideTheBuffer) {
  auto good = info_buffer(u"vssadmin.exe delete shadows /all");
  EXPECT_EQ(decode_command_line_info(good), "vssadmin.exe delete shadows /all");

  struct Case {
    const char* name;
    std::function<void(CommandLineInfo&)> change;
  };
  const Case broken[] = {
      {"text before the buffer", [](CommandLineInfo& i) { put_le(i.bytes, 8, 0x1000, 8); }},
      {"text inside the header", [](CommandLineInfo& i) { put_le(i.bytes, 8, kInfoAt + 8, 8); }},
      {"text past the buffer's end",
       [](CommandLineInfo& i) { put_le(i.bytes, 0, i.bytes.size(), 2); }},
      {"odd length", [](CommandLineInfo& i) { put_le(i.bytes, 0, 5, 2); }},
      {"shorter than a header", [](CommandLineInfo& i) { i.bytes.resize(15); }},
  };
  for (const Case& c : broken) {
    SCOPED_TRACE(c.name);
    CommandLineInfo info = good;
    c.change(info);
    EXPECT_EQ(decode_command_line_info(info), std::nullopt);
  }
}

TEST(ReadCommandLine, AsksTheSystemFirstThenReadsTheParameters) {
  FakeProcessAccess access;
  access.info[10] = info_buffer(u"direct");
  access.memories[10] = process_with(u"from memory");
  access.memories[20] = process_with(u"from memory");  // the question is refused
  access.info[30] = CommandLineInfo{std::vector<unsigned char>(8, 0), kInfoAt};  // malformed
  access.memories[30] = process_with(u"from memory");

  EXPECT_EQ(read_command_line(access, 10), "direct");
  EXPECT_EQ(access.opened, 0);
  EXPECT_EQ(read_command_line(access, 20), "from memory");
  EXPECT_EQ(read_command_line(access, 30), "from memory");
  EXPECT_EQ(read_command_line(access, 40), std::nullopt);  // gone
  EXPECT_EQ(read_command_line(access, 0), std::nullopt);
}

}  // namespace
}  // namespace tarnwick
