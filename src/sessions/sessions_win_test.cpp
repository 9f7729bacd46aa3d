#include "sessions/sessions_win.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "fileio/fileio.h"
#include "notify/cmdline_cases.h"
#include "notify/notify.h"
#include "testsupport/temp_dir.h"
#include "testsupport/win_test_support.h"

namespace tarnwick {
namespace {

// What the recording program wrote: its window station, then its arguments.
std::optional<std::vector<std::string>> await_record(const std::filesystem::path& file) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (std::chrono::steady_clock::now() < deadline) {
    std::ifstream in(file, std::ios::binary);
    if (in) {
      const std::string bytes((std::istreambuf_iterator<char>(in)),
                              std::istreambuf_iterator<char>());
      std::vector<std::string> fields;
      size_t start = 0;
      for (size_t end; (end = bytes.find('\0', start)) != std::string::npos; start = end + 1) {
        fields.push_back(bytes.substr(start, end - start));
      }
      return fields;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return std::nullopt;
}

// The real launcher starts the toast child's command line in this process's
// own session (under Wine the session user's token is the caller's): the
// hostile texts arrive intact, on the interactive window station.
TEST(WindowsUserSessions, StartsTheToastChildWithItsTextsIntact) {
  testing::TempDir dir;
  const std::filesystem::path exe = dir.path() / "record launch.exe";
  std::filesystem::copy_file(testing::e2e_program(L"recordlaunch.exe"), exe);
  DWORD session = 0;
  ASSERT_TRUE(ProcessIdToSessionId(GetCurrentProcessId(), &session));

  const auto hostile = testing::hostile_arguments();
  const std::string past_bound = std::string(kToastArgumentMaxBytes - 1, 'x') + "\u00E9\"\\";
  const std::vector<ToastTexts> cases = {
      {"Tarnwick \u00B7 HIGH \u00B7 PERS",
       "New autostart entry\nAdded \"x\" under HKU\\S-1\\...\\Run"},
      {hostile[7], hostile[15]},   // quotes; backslashes before quotes
      {hostile[21], hostile[23]},  // line feeds; non-ASCII
      {hostile[0], hostile[4]},    // empty; trailing backslash
      {past_bound, past_bound},
  };
  WindowsUserSessions sessions;
  for (const ToastTexts& texts : cases) {
    SCOPED_TRACE(texts.heading);
    const std::filesystem::path record = dir.path() / "record launch.exe.record";
    std::filesystem::remove(record);
    const std::string exe_text = path_to_utf8(exe);
    ASSERT_TRUE(sessions.start_in_session(session, toast_command_line(exe_text, texts)));
    const auto fields = await_record(record);
    ASSERT_TRUE(fields);
    const std::string kept_past_bound(kToastArgumentMaxBytes - 1, 'x');
    auto expected = [&](const std::string& t) { return t == past_bound ? kept_past_bound : t; };
    EXPECT_EQ(*fields, (std::vector<std::string>{"WinSta0", exe_text, "toast",
                                                 expected(texts.heading), expected(texts.body)}));
  }
}

TEST(WindowsUserSessions, AProgramThatCannotStartIsReportedAsSuch) {
  DWORD session = 0;
  ASSERT_TRUE(ProcessIdToSessionId(GetCurrentProcessId(), &session));
  WindowsUserSessions sessions;
  EXPECT_FALSE(sessions.start_in_session(session, "\"C:\\no\\such\\program.exe\" toast a b"));
}

TEST(AccountName, KnownAndUnknownSids) {
  EXPECT_EQ(account_name("S-1-5-18"), "NT AUTHORITY\\SYSTEM");
  EXPECT_EQ(account_name("not a sid"), std::nullopt);
  EXPECT_EQ(account_name(""), std::nullopt);
}

}  // namespace
}  // namespace tarnwick
