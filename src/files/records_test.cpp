#include "files/records.h"

#include <gtest/gtest.h>

#include <vector>

#include "files/files_fake.h"

namespace tarnwick {
namespace {

using testing::append_change_record;
using testing::as_bytes;
using testing::change_records;

class Names final : public ChangeSink {
 public:
  std::vector<std::string> names;
  void on_change(std::string_view name) override { names.emplace_back(name); }
};

std::vector<std::string> walk(const std::string& bytes, size_t completed) {
  Names sink;
  std::string scratch;
  const size_t count = walk_change_records(as_bytes(bytes), completed, scratch, sink);
  EXPECT_EQ(count, sink.names.size());
  return sink.names;
}

std::vector<std::string> walk(const std::string& bytes) {
  return walk(bytes, bytes.size());
}

TEST(ChangeRecords, OnlyAddedModifiedAndNewNamesQualify) {
  const std::string batch = change_records({
      {kActionAdded, u"new.docx"},
      {kActionRemoved, u"gone.docx"},
      {kActionRenamedOldName, u"before.docx"},
      {kActionRenamedNewName, u"after.docx.locked"},
      {kActionModified, u"Projects\\2024\\deep\\plan.xlsx"},
      {7, u"unknown-action.txt"},
      {kActionAdded, u""},
  });
  EXPECT_EQ(walk(batch), (std::vector<std::string>{"new.docx", "after.docx.locked",
                                                   "Projects\\2024\\deep\\plan.xlsx"}));
}

TEST(ChangeRecords, InvalidUtf16IsReplacedAndStillCounts) {
  std::string batch;
  append_change_record(batch, 0, kActionAdded,
                       std::u16string{u'a', char16_t(0xD800), u'.', u't', u'x', u't'});
  EXPECT_EQ(walk(batch), std::vector<std::string>{"a\xEF\xBF\xBD.txt"});

  // A length of one byte holds no whole unit: an empty name.
  std::string odd;
  append_change_record(odd, 0, kActionAdded, u"x", 1);
  EXPECT_TRUE(walk(odd).empty());
}

TEST(ChangeRecords, NeverReadsPastTheReturnedBytes) {
  const std::string two = change_records({{kActionAdded, u"one.txt"}, {kActionAdded, u"two.txt"}});
  const size_t first_size = 12 + 16;

  struct Case {
    const char* name;
    std::string bytes;
    size_t completed;
    std::vector<std::string> expected;
  };
  std::string long_name;  // claims more name than the read returned
  append_change_record(long_name, 0, kActionAdded, u"abc", 4000);
  std::string outside;  // next offset far beyond the bytes
  append_change_record(outside, 0x7FFFFFF0, kActionAdded, u"a.txt");
  outside += two;
  std::string huge_length;  // a length that would wrap a 32-bit sum
  append_change_record(huge_length, 0, kActionAdded, u"abc", 0xFFFFFFFE);
  std::string short_header = two.substr(0, first_size) + std::string(8, '\0');
  short_header[0] = static_cast<char>(first_size);

  const Case cases[] = {
      {"whole batch", two, two.size(), {"one.txt", "two.txt"}},
      {"count ends inside the second record", two, first_size + 12 + 6, {"one.txt"}},
      {"count ends inside the second header", two, first_size + 8, {"one.txt"}},
      {"empty completion over an old batch", two, 0, {}},
      {"count beyond the buffer", two, 1 << 20, {"one.txt", "two.txt"}},
      {"name length past the bytes", long_name, long_name.size(), {}},
      {"name length near 2^32", huge_length, huge_length.size(), {}},
      {"next offset outside", outside, outside.size(), {"a.txt"}},
      {"trailing partial header", short_header, short_header.size(), {"one.txt"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(walk(c.bytes, c.completed), c.expected);
  }
}

}  // namespace
}  // namespace tarnwick
