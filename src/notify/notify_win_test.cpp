#include "notify/notify_win.h"

#include <gtest/gtest.h>
#include <windows.h>
// After windows.h, which they rely on.
#include <objbase.h>
#include <shellapi.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <optional>
#include <thread>

#include "notify/cmdline.h"
#include "notify/cmdline_cases.h"
#include "notify/push.h"
#include "notify/toast.h"
#include "testsupport/argv_split.h"
#include "testsupport/temp_dir.h"
#include "win/wide_win.h"

namespace tarnwick {
namespace {

std::vector<std::string> system_split(std::string_view line) {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(win::widen(line).c_str(), &argc);
  std::vector<std::string> out;
  if (argv == nullptr) return out;
  for (int i = 0; i < argc; ++i) out.push_back(win::narrow(argv[i]));
  LocalFree(argv);
  return out;
}

// The oracle the native tests rely on must agree with the system on any
// text, not only on what the quoter writes.
TEST(SplitCommandLine, AgreesWithCommandLineToArgvW) {
  std::vector<std::string> lines = {
      "p a\"b\"\" c d",   "p \"a\"\"b c\"",
      "p \"\"\"",         "p \"\"\"\"\"\" x",
      "p a\\\\\\\"\"b c", "\"C:\\Program Files\\p.exe\" x",
      "p\tx\t\ty",        "p x\\",
      "p \"x\\\\\" y",
  };
  for (const auto& tail : testing::all_strings(testing::kQuotingAlphabet, 5)) {
    lines.push_back("p " + tail);
  }
  for (const auto& line : lines) {
    ASSERT_EQ(testing::split_command_line(line), system_split(line)) << "line [" << line << "]";
  }
}

TEST(QuoteArgument, CommandLineToArgvWGivesBackEveryArgument) {
  for (const auto& arg : testing::all_strings(testing::kQuotingAlphabet, 5)) {
    ASSERT_EQ(system_split(command_line("curl", {"x", arg, "y"})),
              (std::vector<std::string>{"curl", "x", arg, "y"}))
        << "argument [" << arg << "]";
  }
  const auto hostile = testing::hostile_arguments();
  std::vector<std::string> expected{"curl"};
  expected.insert(expected.end(), hostile.begin(), hostile.end());
  EXPECT_EQ(system_split(command_line("curl", hostile)), expected);
}

std::optional<std::wstring> environment(const wchar_t* name) {
  std::wstring buffer(32767, L'\0');
  const DWORD length = GetEnvironmentVariableW(name, buffer.data(), 32767);
  if (length == 0 || length >= 32767) return std::nullopt;
  buffer.resize(length);
  return buffer;
}

class ScopedEnvironment {
 public:
  ScopedEnvironment(const wchar_t* name, const std::wstring& value)
      : name_(name), old_(environment(name)) {
    SetEnvironmentVariableW(name, value.c_str());
  }
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;
  ~ScopedEnvironment() { SetEnvironmentVariableW(name_, old_ ? old_->c_str() : nullptr); }

 private:
  const wchar_t* name_;
  std::optional<std::wstring> old_;
};

std::filesystem::path own_folder() {
  wchar_t path[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  return std::filesystem::path(std::wstring(path, length)).parent_path();
}

std::vector<nlohmann::json> read_records(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::vector<nlohmann::json> out;
  std::string line;
  while (std::getline(in, line)) {
    if (!in.eof()) out.push_back(nlohmann::json::parse(line));  // complete lines only
  }
  return out;
}

// The child runs on its own, so the test can only poll for its record.
std::vector<nlohmann::json> wait_for_records(const std::filesystem::path& file, size_t count) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  std::vector<nlohmann::json> records;
  while ((records = read_records(file)).size() < count &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return records;
}

// The recording curl stand-in is placed where Windows keeps its own curl,
// in the system folder. A second copy on PATH must not be the one started:
// the push names the system folder's program by its full path.
class CurlStandIn : public ::testing::Test {
 protected:
  void SetUp() override {
    system_curl_ = std::filesystem::path(win::widen(system_curl_path()));
    ASSERT_FALSE(std::filesystem::exists(system_curl_)) << "the prefix has a curl of its own";
    std::filesystem::copy_file(own_folder() / "e2e-programs" / "curl.exe", system_curl_);
    std::filesystem::create_directories(temp_ / "bin");
    std::filesystem::copy_file(own_folder() / "e2e-programs" / "curl.exe",
                               temp_ / "bin" / "curl.exe");
    record_ = temp_ / "curl-record.jsonl";
    record_env_.emplace(L"TARNWICK_CURL_RECORD", record_.wstring());
    std::wstring path = (temp_ / "bin").wstring();
    if (const auto old = environment(L"PATH")) path += L";" + *old;
    path_env_.emplace(L"PATH", path);
  }
  void TearDown() override {
    path_env_.reset();
    record_env_.reset();
    std::error_code ec;
    std::filesystem::remove(system_curl_, ec);
  }

  std::filesystem::path system_curl_;

  testing::TempDir temp_;
  std::filesystem::path record_;
  std::optional<ScopedEnvironment> record_env_;
  std::optional<ScopedEnvironment> path_env_;
};

TEST_F(CurlStandIn, PushStartsCurlWithExactlyTheTwelveArguments) {
  WindowsNotifier notifier;
  Config config;
  config.ntfy_topic = "tarnwick-test";
  config.ntfy_server = "https://push.example.org///";
  const std::string details[] = {
      "pid 4242: @C:\\Windows\\win.ini",
      "x\" -o C:\\evil.exe \"y",
      "C:\\Users\\x\\AppData\\Local\\Temp\\",
      "tab\there\nnew line \U0001F680 caf\u00E9",
      "",
  };
  size_t expected_records = 0;
  for (const auto& detail : details) {
    SCOPED_TRACE("[" + detail + "]");
    const Alert alert = make_alert(AlertSource::Process, Severity::Critical,
                                   "Credential dumping tool (Mimikatz)", detail);
    notifier.push(alert, config);
    const auto records = wait_for_records(record_, ++expected_records);
    ASSERT_EQ(records.size(), expected_records);
    const auto& record = records.back();

    std::vector<std::string> expected{system_curl_path()};
    for (const auto& arg : push_arguments(alert, config)) expected.push_back(arg);
    EXPECT_EQ(record["argv"].get<std::vector<std::string>>(), expected);
    EXPECT_EQ(expected[10], "--data-raw");
    EXPECT_EQ(expected[11], detail);
    EXPECT_EQ(expected[12], "https://push.example.org/tarnwick-test");
    EXPECT_EQ(record["command_line"], push_command_line(alert, config, system_curl_path()));
    // Both go to the null device, a character device, never to our pipes.
    EXPECT_EQ(record["stdout_type"], FILE_TYPE_CHAR);
    EXPECT_EQ(record["stderr_type"], FILE_TYPE_CHAR);
  }
}

TEST(ProcessLauncher, MissingProgramIsNotStartedAndNothingHappens) {
  WindowsProcessLauncher launcher;
  EXPECT_FALSE(launcher.launch_detached("tarnwick-no-such-program-7f3a -s"));
}

// Wine has no notification platform: activation fails with 0x80040154 and the
// call must simply return, leaving the thread's apartment as it was.
TEST(ToastPresenter, FailsQuietlyAndLeavesTheApartmentAsFound) {
  const Alert alert =
      make_alert(AlertSource::Process, Severity::Critical, "t <&>", std::string("d"));
  const std::string xml = toast_xml(alert, 10);

  std::thread plain([&] {
    EXPECT_FALSE(WindowsToastPresenter().show(kToastAppId, xml));
    // Had the multithreaded apartment been left entered, this would fail
    // with RPC_E_CHANGED_MODE.
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
    CoUninitialize();
  });
  plain.join();

  std::thread single_threaded([&] {
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
    EXPECT_FALSE(WindowsToastPresenter().show(kToastAppId, xml));
    // Still the same single-threaded apartment, still entered once.
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), RPC_E_CHANGED_MODE);
    CoUninitialize();
  });
  single_threaded.join();

  WindowsNotifier().show_toast(alert);
}

TEST(SystemVersion, MajorVersionMatchesRtlGetVersion) {
  using GetVersion = LONG(WINAPI*)(OSVERSIONINFOW*);
  const FARPROC proc = GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "RtlGetVersion");
  ASSERT_NE(proc, nullptr);
  OSVERSIONINFOW info{};
  info.dwOSVersionInfoSize = sizeof info;
  ASSERT_EQ(reinterpret_cast<GetVersion>(reinterpret_cast<void (*)()>(proc))(&info), 0);
  // Wine 8's fresh prefix says Windows 7 (6.1), so toasts there would use
  // the older template.
  EXPECT_EQ(WindowsSystemVersion().major_version(), info.dwMajorVersion);
}

}  // namespace
}  // namespace tarnwick
