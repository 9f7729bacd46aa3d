#include <gtest/gtest.h>

#include "cmdline/cmdline_win.h"
#include "testsupport/win_test_support.h"
#include "win/wide_win.h"

namespace tarnwick {
namespace {

TEST(WindowsCommandLine, ReadsAnotherProcessExactly) {
  WindowsProcessAccess access;
  CommandLineReader reader(access);
  EXPECT_FALSE(reader.command_line(0));
  EXPECT_EQ(reader.command_line(GetCurrentProcessId()), win::narrow(GetCommandLineW()));

  // Ignores its arguments, which would otherwise name a file for it to write.
  const auto idle = testing::e2e_program(L"idle.exe");
  const std::wstring args = L"-enc SQBFAFgA \"two words\" \u00e9t\u00e9 \\\\server\\share\\";
  DWORD gone_pid = 0;
  {
    testing::Child child(idle, args);
    ASSERT_TRUE(child.started());
    gone_pid = child.pid();
    const std::string expected = win::narrow(L"\"" + idle.wstring() + L"\" " + args);
    // The new process may still be setting up its parameters.
    std::optional<std::string> line;
    for (int i = 0; i < 40 && line != expected; ++i, Sleep(50)) line = reader.command_line(child.pid());
    EXPECT_EQ(line, expected);
  }
  bool gone = false;
  for (int i = 0; i < 40 && !gone; ++i, Sleep(100)) gone = !reader.command_line(gone_pid);
  EXPECT_TRUE(gone);
}

}  // namespace
}  // namespace tarnwick
