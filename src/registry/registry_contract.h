#pragma once
// What every RegistryReader must do, checked against the in-memory fake
// natively and against the real registry under Wine. Each check works below
// a test key of HKCU that the caller owns and removes. Tests only.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include "registry/registry.h"
#include "testsupport/utf16le_bytes.h"

namespace tarnwick::testing {

enum RegType : uint32_t { kRegSz = 1, kRegBinary = 3, kRegDword = 4 };

// Writes the fixtures of the checks; one implementation per registry.
class RegistryArranger {
 public:
  virtual ~RegistryArranger() = default;
  virtual void create_key(const std::string& subkey) = 0;
  virtual void set_raw(const std::string& subkey, const std::string& name, const std::string& bytes,
                       RegType type) = 0;
};

// Sets `stop` after `delay` unless it ends first: a bound on waits that
// would otherwise last until stop.
class StopLater {
 public:
  StopLater(EngineFlags& flags, std::chrono::milliseconds delay)
      : thread_([this, &flags, delay] {
          std::unique_lock lock(mutex_);
          if (!cv_.wait_for(lock, delay, [this] { return done_; })) flags.request_stop();
        }) {}
  ~StopLater() {
    {
      std::lock_guard lock(mutex_);
      done_ = true;
    }
    cv_.notify_all();
    thread_.join();
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  bool done_ = false;
  std::thread thread_;
};

inline void check_listing(RegistryReader& reg, RegistryArranger& arrange, const std::string& root) {
  const std::string key = root + "\\List";
  arrange.create_key(key + "\\Alpha");
  arrange.create_key(key + "\\beta\\Deeper");
  arrange.set_raw(key, "Updater", utf16le_bytes(u"x"), kRegSz);
  arrange.set_raw(key, "\u00dcnic\u00f6de \u2603", utf16le_bytes(u"x"), kRegSz);
  arrange.set_raw(key, std::string(511, 'n'), utf16le_bytes(u"x"), kRegSz);

  EXPECT_EQ(reg.value_names(Hive::CurrentUser, key),
            (NameSet{"Updater", "\u00dcnic\u00f6de \u2603", std::string(511, 'n')}));
  // Subkeys one level down only, spelled as created; path case does not matter.
  EXPECT_EQ(reg.subkey_names(Hive::CurrentUser, key), (NameSet{"Alpha", "beta"}));
  EXPECT_EQ(reg.subkey_names(Hive::CurrentUser, key + "\\BETA"), (NameSet{"Deeper"}));
  EXPECT_EQ(reg.value_names(Hive::CurrentUser, key + "\\Alpha"), NameSet{});

  // A missing key, and a hive without the test key, read as empty.
  EXPECT_EQ(reg.value_names(Hive::CurrentUser, root + "\\Missing"), NameSet{});
  EXPECT_EQ(reg.subkey_names(Hive::CurrentUser, root + "\\Missing"), NameSet{});
  EXPECT_EQ(reg.value_names(Hive::LocalMachine, key), NameSet{});

  // A value name too long for the usual 512-unit buffer is still read, and
  // the names after it too.
  const std::string long_names = root + "\\LongNames";
  arrange.set_raw(long_names, std::string(512, 'n'), utf16le_bytes(u"x"), kRegSz);
  arrange.set_raw(long_names, std::string(16383, 'm'), utf16le_bytes(u"x"), kRegSz);
  arrange.set_raw(long_names, "After", utf16le_bytes(u"x"), kRegSz);
  EXPECT_EQ(reg.value_names(Hive::CurrentUser, long_names),
            (NameSet{std::string(512, 'n'), std::string(16383, 'm'), "After"}));
}

inline void check_text_values(RegistryReader& reg, RegistryArranger& arrange,
                              const std::string& root) {
  const std::string key = root + "\\Text";
  struct Case {
    const char* name;
    std::string bytes;
    std::optional<std::string> expected;
  };
  const Case cases[] = {
      {"terminated", utf16le_bytes(u"\"C:\\Program Files\\x.exe\" /y") + std::string(2, '\0'),
       "\"C:\\Program Files\\x.exe\" /y"},
      {"unterminated", utf16le_bytes(u"abc"), "abc"},
      {"odd byte ignored", utf16le_bytes(u"ab") + "c", "ab"},
      {"stops at the first 0", utf16le_bytes(u"ab") + std::string(2, '\0') + utf16le_bytes(u"cd"),
       "ab"},
      {"lone surrogates",
       utf16le_bytes(u"a") + std::string("\x00\xD8", 2) + utf16le_bytes(u"b") +
           std::string("\x00\xDC", 2),
       "a\uFFFDb\uFFFD"},
      {"pair", utf16le_bytes(u"\U0001F600"), "\U0001F600"},
      {"non-ASCII", utf16le_bytes(u"C:\\Users\\J\u00fcrgen\\t.exe"),
       "C:\\Users\\J\u00fcrgen\\t.exe"},
      {"just a terminator", std::string(2, '\0'), ""},
      {"single byte", "a", ""},
      {"empty", "", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    arrange.set_raw(key, c.name, c.bytes, kRegBinary);
    EXPECT_EQ(reg.read_text(Hive::CurrentUser, key, c.name), c.expected);
  }
  arrange.set_raw(key, "sz", utf16le_bytes(u"typed") + std::string(2, '\0'), kRegSz);
  EXPECT_EQ(reg.read_text(Hive::CurrentUser, key, "SZ"), "typed");
  EXPECT_EQ(reg.read_text(Hive::CurrentUser, key, "missing"), std::nullopt);
  EXPECT_EQ(reg.read_text(Hive::CurrentUser, root + "\\Missing", "sz"), std::nullopt);
  EXPECT_EQ(reg.read_text(Hive::LocalMachine, key, "sz"), std::nullopt);
}

inline void check_u32_values(RegistryReader& reg, RegistryArranger& arrange,
                             const std::string& root) {
  const std::string key = root + "\\Numbers";
  arrange.set_raw(key, "Type", std::string("\x10\x00\x00\x00", 4), kRegDword);
  arrange.set_raw(key, "Binary4", std::string("\x01\x02\x03\x80", 4), kRegBinary);
  arrange.set_raw(key, "Short", std::string("\x01\x00", 2), kRegBinary);
  arrange.set_raw(key, "Long", std::string(8, '\x01'), kRegBinary);
  EXPECT_EQ(reg.read_u32(Hive::CurrentUser, key, "type"), 16u);
  EXPECT_EQ(reg.read_u32(Hive::CurrentUser, key, "Binary4"), 0x80030201u);
  EXPECT_EQ(reg.read_u32(Hive::CurrentUser, key, "Short"), std::nullopt);
  EXPECT_EQ(reg.read_u32(Hive::CurrentUser, key, "Long"), std::nullopt);
  EXPECT_EQ(reg.read_u32(Hive::CurrentUser, key, "Missing"), std::nullopt);
  EXPECT_EQ(reg.read_u32(Hive::CurrentUser, root + "\\Missing", "Type"), std::nullopt);
}

// A 32-bit value written to an existing key reads back as a DWORD, replacing
// whatever was there; a missing key is refused and not created.
inline void check_u32_write(RegistryReader& reg, RegistryWriter& writer, RegistryArranger& arrange,
                            const std::string& root) {
  const std::string key = root + "\\Written";
  arrange.set_raw(key, "Start", std::string("\x03\x00\x00\x00", 4), kRegDword);
  EXPECT_TRUE(writer.write_u32(Hive::CurrentUser, key, "Start", 4));
  EXPECT_EQ(reg.read_u32(Hive::CurrentUser, key, "start"), 4u);
  EXPECT_TRUE(writer.write_u32(Hive::CurrentUser, key, "New", 0xFFFFFFFFu));
  EXPECT_EQ(reg.read_u32(Hive::CurrentUser, key, "New"), 0xFFFFFFFFu);

  EXPECT_FALSE(writer.write_u32(Hive::CurrentUser, root + "\\Missing", "Start", 4));
  EXPECT_EQ(reg.subkey_names(Hive::CurrentUser, root), NameSet{"Written"});
}

// A value added to the watched key fires the watch; a new subkey does not.
// The not-firing half costs one 2-second wait slice.
inline void check_change_watch(RegistryReader& reg, RegistryArranger& arrange,
                               const std::string& root) {
  const std::string key = root + "\\Watched";
  auto watch = reg.watch_values(Hive::CurrentUser, key);
  ASSERT_TRUE(watch);
  EXPECT_FALSE(watch->arm()) << "the key does not exist yet";

  arrange.create_key(key);
  ASSERT_TRUE(watch->arm());
  arrange.create_key(key + "\\Sub");
  {
    EngineFlags flags;
    StopLater stop(flags, std::chrono::milliseconds(300));
    EXPECT_EQ(watch->wait(flags), ValueChangeWatch::Wait::Stopped);
  }

  ASSERT_TRUE(watch->arm());
  arrange.set_raw(key, "Added", utf16le_bytes(u"x"), kRegSz);
  EngineFlags flags;
  StopLater bound(flags, std::chrono::seconds(10));
  EXPECT_EQ(watch->wait(flags), ValueChangeWatch::Wait::Changed);
  watch->close();
}

}  // namespace tarnwick::testing
