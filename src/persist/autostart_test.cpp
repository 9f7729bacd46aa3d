#include "persist/autostart.h"

#include <gtest/gtest.h>

#include <thread>

#include "persist/persist_testing.h"

namespace tarnwick {
namespace {

using testing::FakePersistence;

const AutostartKey& kHkcuRun = kAutostartKeys[0];
const AutostartKey& kHklmPolicyRun = kAutostartKeys[4];
constexpr const char* kRunPath = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";

// One watcher on its own thread, stopped and joined when the test ends.
class Watcher {
 public:
  Watcher(FakePersistence& fake, const AutostartKey& key)
      : fake_(fake),
        parts_(fake.threaded()),
        thread_([this, &key] { run_autostart_watcher(key, parts_); }) {}
  ~Watcher() {
    fake_.flags.request_stop();
    thread_.join();
  }

 private:
  FakePersistence& fake_;
  PersistenceParts parts_;
  std::thread thread_;
};

TEST(AutostartWatcher, ReportsANewRunValueAskingForItsDeletion) {
  FakePersistence fake;
  fake.registry.set_text(Hive::CurrentUser, kRunPath, "OneDrive", "C:\\od.exe /background");
  Watcher watcher(fake, kHkcuRun);
  ASSERT_TRUE(fake.registry.await_arms(Hive::CurrentUser, kRunPath, 1));
  fake.registry.set_text(Hive::CurrentUser, kRunPath, "Updater", "C:\\Users\\Public\\updater.exe");

  ASSERT_TRUE(fake.out.await(1));
  const Alert alert = fake.out.alerts().at(0);
  EXPECT_EQ(alert.source, AlertSource::Persistence);
  EXPECT_EQ(alert.severity, Severity::High);
  EXPECT_EQ(alert.title, "New autostart entry");
  EXPECT_EQ(alert.detail,
            "Added \"Updater\" under HKCU\\...\\Run\n\n"
            "MITRE ATT&CK: T1547.001 (Registry Run Key)  \u00b7  CVSS 7.2 (High)");
  EXPECT_EQ(alert.dedup_key, "run:HKCU\\...\\Run:Updater");
  EXPECT_EQ(alert.remediation,
            Remediation(DeleteRegValue{"HKCU", "Software\\Microsoft\\Windows\\CurrentVersion\\Run",
                                       "Updater"}));
  EXPECT_FALSE(alert.pid);
  ASSERT_TRUE(fake.registry.await_arms(Hive::CurrentUser, kRunPath, 2));
  EXPECT_EQ(fake.out.alerts().size(), 1u) << "the value present at start is not reported";
}

TEST(AutostartWatcher, OnlyNewNamesCountAndADeletedNameIsNewAgain) {
  FakePersistence fake;
  auto& reg = fake.registry;
  reg.set_text(Hive::CurrentUser, kRunPath, "Updater", "a.exe");
  Watcher watcher(fake, kHkcuRun);
  ASSERT_TRUE(reg.await_arms(Hive::CurrentUser, kRunPath, 1));

  reg.set_text(Hive::CurrentUser, kRunPath, "UPDATER", "b.exe");  // same name, new data
  ASSERT_TRUE(reg.await_arms(Hive::CurrentUser, kRunPath, 2));
  reg.delete_value(Hive::CurrentUser, kRunPath, "Updater");
  ASSERT_TRUE(reg.await_arms(Hive::CurrentUser, kRunPath, 3));
  EXPECT_TRUE(fake.out.alerts().empty());

  reg.set_text(Hive::CurrentUser, kRunPath, "Updater", "a.exe");
  ASSERT_TRUE(fake.out.await(1));
  EXPECT_EQ(fake.out.keys(), std::vector<std::string>{"run:HKCU\\...\\Run:Updater"});
}

TEST(AutostartWatcher, OneAlertPerValueAddedInOneChange) {
  FakePersistence fake;
  fake.registry.create_key(Hive::CurrentUser, kRunPath);
  Watcher watcher(fake, kHkcuRun);
  ASSERT_TRUE(fake.registry.await_arms(Hive::CurrentUser, kRunPath, 1));
  fake.registry.set_values(Hive::CurrentUser, kRunPath,
                           {{"b", testing::registry_text_bytes("b.exe")},
                            {"a", testing::registry_text_bytes("a.exe")},
                            {"c", testing::registry_text_bytes("c.exe")}});
  ASSERT_TRUE(fake.out.await(3));
  EXPECT_EQ(fake.out.keys(),
            (std::vector<std::string>{"run:HKCU\\...\\Run:a", "run:HKCU\\...\\Run:b",
                                      "run:HKCU\\...\\Run:c"}));
}

// A key created together with its values raises no change notification of
// its own: it is compared as soon as the watch can be registered on it.
TEST(AutostartWatcher, AKeyCreatedWithItsValuesIsReportedAtOnce) {
  FakePersistence fake;
  auto& reg = fake.registry;
  const std::string path(kHklmPolicyRun.subkey);
  Watcher watcher(fake, kHklmPolicyRun);
  ASSERT_TRUE(reg.await_refused_arms(Hive::LocalMachine, path, 2));

  reg.set_values(Hive::LocalMachine, path,
                 {{"One", testing::registry_text_bytes("1.exe")},
                  {"Two", testing::registry_text_bytes("2.exe")}});
  ASSERT_TRUE(fake.out.await(2));
  EXPECT_EQ(fake.out.keys(),
            (std::vector<std::string>{"run:HKLM\\...\\Policies\\Explorer\\Run:One",
                                      "run:HKLM\\...\\Policies\\Explorer\\Run:Two"}));
  const auto remediation = std::get<DeleteRegValue>(*fake.out.alerts()[0].remediation);
  EXPECT_EQ(remediation, (DeleteRegValue{"HKLM", path, "One"}));
  for (long long wait : fake.waits_in_seconds()) EXPECT_EQ(wait, 10);
}

// A value written after the key was read but before the watch is registered
// again is not covered by the new registration.
TEST(AutostartWatcher, AValueWrittenBetweenReadAndRegistrationIsStillReported) {
  FakePersistence fake;
  auto& reg = fake.registry;
  reg.create_key(Hive::CurrentUser, kRunPath);
  reg.after_next_value_listing(Hive::CurrentUser, kRunPath, [&] {
    reg.set_text(Hive::CurrentUser, kRunPath, "Early", "e.exe");
  });
  Watcher watcher(fake, kHkcuRun);
  ASSERT_TRUE(fake.out.await(1));
  EXPECT_EQ(fake.out.keys(), std::vector<std::string>{"run:HKCU\\...\\Run:Early"});

  ASSERT_TRUE(reg.await_arms(Hive::CurrentUser, kRunPath, 1));
  reg.after_next_value_listing(Hive::CurrentUser, kRunPath,
                               [&] { reg.set_text(Hive::CurrentUser, kRunPath, "Late", "l.exe"); });
  reg.set_text(Hive::CurrentUser, kRunPath, "First", "f.exe");
  ASSERT_TRUE(fake.out.await(3));
  EXPECT_EQ(fake.out.keys(),
            (std::vector<std::string>{"run:HKCU\\...\\Run:Early", "run:HKCU\\...\\Run:First",
                                      "run:HKCU\\...\\Run:Late"}));
}

TEST(AutostartWatcher, SkipsTheEngineOwnEntryOnly) {
  FakePersistence fake;
  auto& reg = fake.registry;
  fake.existing_files.insert("C:\\Elsewhere\\tarnwick.exe");
  reg.create_key(Hive::CurrentUser, kRunPath);
  Watcher watcher(fake, kHkcuRun);
  ASSERT_TRUE(reg.await_arms(Hive::CurrentUser, kRunPath, 1));
  reg.set_text(Hive::CurrentUser, kRunPath, "TARNWICK",
               "\"C:\\Program Files\\Tarnwick\\tarnwick.exe\" service");
  ASSERT_TRUE(reg.await_arms(Hive::CurrentUser, kRunPath, 2));
  EXPECT_TRUE(fake.out.alerts().empty());

  reg.delete_value(Hive::CurrentUser, kRunPath, "TARNWICK");
  ASSERT_TRUE(reg.await_arms(Hive::CurrentUser, kRunPath, 3));
  reg.set_text(Hive::CurrentUser, kRunPath, "Tarnwick", "\"C:\\Elsewhere\\tarnwick.exe\" service");
  ASSERT_TRUE(fake.out.await(1));
  EXPECT_EQ(fake.out.keys(), std::vector<std::string>{"run:HKCU\\...\\Run:Tarnwick"});
}

TEST(AutostartWatcher, EndsWhenItCannotWaitForChanges) {
  FakePersistence fake;
  fake.registry.fail_watch_creation();
  PersistenceParts parts = fake.threaded();
  run_autostart_watcher(kHkcuRun, parts);  // returns without `stop`
  EXPECT_TRUE(fake.waits_in_seconds().empty());
}

TEST(AutostartWatcher, LogonValuesAreComparedByTheirData) {
  const AutostartKey& winlogon = kAutostartKeys[5];
  const AutostartKey& windows = kAutostartKeys[6];
  const std::string winlogon_path(winlogon.subkey);
  const std::string windows_path(windows.subkey);
  FakePersistence fake;
  auto& reg = fake.registry;
  reg.set_text(Hive::LocalMachine, winlogon_path, "Shell", "explorer.exe");
  reg.set_text(Hive::LocalMachine, winlogon_path, "Userinit", "C:\\Windows\\system32\\userinit.exe,");
  reg.set_text(Hive::LocalMachine, windows_path, "AppInit_DLLs", "");
  reg.set_u32(Hive::LocalMachine, windows_path, "LoadAppInit_DLLs", 0);
  Watcher a(fake, winlogon);
  Watcher b(fake, windows);
  ASSERT_TRUE(reg.await_arms(Hive::LocalMachine, winlogon_path, 1));
  ASSERT_TRUE(reg.await_arms(Hive::LocalMachine, windows_path, 1));

  const std::string long_shell = "explorer.exe," + std::string(300, 'x');
  reg.set_text(Hive::LocalMachine, winlogon_path, "Shell", long_shell);
  ASSERT_TRUE(fake.out.await(1));
  reg.set_values(Hive::LocalMachine, windows_path,
                 {{"AppInit_DLLs", testing::registry_text_bytes("C:\\evil.dll")},
                  {"LoadAppInit_DLLs", testing::registry_u32_bytes(1)}});
  ASSERT_TRUE(fake.out.await(3));
  reg.set_text(Hive::LocalMachine, winlogon_path, "Taskman", "C:\\evil.exe");
  ASSERT_TRUE(fake.out.await(4));

  const auto alerts = fake.out.alerts();
  EXPECT_EQ(fake.out.keys(),
            (std::vector<std::string>{"runchg:HKLM\\...\\Winlogon (Shell/Userinit):Shell",
                                      "runchg:HKLM\\...\\Windows (AppInit_DLLs):AppInit_DLLs",
                                      "runchg:HKLM\\...\\Windows (AppInit_DLLs):LoadAppInit_DLLs",
                                      "run:HKLM\\...\\Winlogon (Shell/Userinit):Taskman"}));
  EXPECT_EQ(alerts[0].title, "Autostart value changed");
  EXPECT_EQ(alerts[0].source, AlertSource::Persistence);
  EXPECT_EQ(alerts[0].severity, Severity::High);
  EXPECT_EQ(alerts[0].detail,
            "Changed \"Shell\" under HKLM\\...\\Winlogon (Shell/Userinit) from \"explorer.exe\" to \"" +
                long_shell.substr(0, 200) +
                "\"\n\nMITRE ATT&CK: T1547.004 (Winlogon Helper DLL)  \u00b7  CVSS 7.2 (High)");
  EXPECT_EQ(alerts[1].detail,
            "Changed \"AppInit_DLLs\" under HKLM\\...\\Windows (AppInit_DLLs) from \"\" to "
            "\"C:\\evil.dll\"\n\nMITRE ATT&CK: T1546.010 (AppInit DLLs)  \u00b7  CVSS 7.2 (High)");
  EXPECT_TRUE(alerts[2].detail.starts_with(
      "Changed \"LoadAppInit_DLLs\" under HKLM\\...\\Windows (AppInit_DLLs) from \"0\" to \"1\""));
  EXPECT_EQ(alerts[3].title, "New autostart entry");
  // Putting data back or deleting a logon value could break logon.
  for (const Alert& alert : alerts) EXPECT_FALSE(alert.remediation) << alert.dedup_key;
}

// The registry allows a NUL inside a value name; "SecurityHealth\0x" must not
// be shown as, nor its removal aimed at, "SecurityHealth".
TEST(AutostartWatcher, ANameHoldingANulIsShownAndRemovedExactly) {
  FakePersistence fake;
  auto& reg = fake.registry;
  reg.set_text(Hive::CurrentUser, kRunPath, "SecurityHealth", "C:\\sh.exe");
  Watcher watcher(fake, kHkcuRun);
  ASSERT_TRUE(reg.await_arms(Hive::CurrentUser, kRunPath, 1));
  const std::string hostile("SecurityHealth\0x", 16);
  reg.set_text(Hive::CurrentUser, kRunPath, hostile, "C:\\evil.exe");
  ASSERT_TRUE(fake.out.await(1));
  const Alert alert = fake.out.alerts().at(0);
  EXPECT_TRUE(alert.detail.starts_with("Added \"SecurityHealth\\0x\" under HKCU\\...\\Run\n"));
  EXPECT_EQ(alert.dedup_key, "run:HKCU\\...\\Run:SecurityHealth\\0x");
  EXPECT_EQ(alert.remediation, Remediation(DeleteRegValue{"HKCU", kRunPath, hostile}));
}

// Asked about a network path, the file system would have the service
// connect to the host it names.
TEST(OwnEntry, FoldersAreComparedBeforeTheFileSystemIsAsked) {
  FakePersistence fake;
  EngineImage image = fake.image();
  image.exists = [](const std::string& path) {
    ADD_FAILURE() << "the file system was asked about " << path;
    return true;
  };
  for (const char* command : {"\"\\\\host\\share\\tarnwick.exe\" service",
                              "\\\\host\\share\\tarnwick.exe", "//host/share/tarnwick.exe",
                              "\"C:\\Other\\tarnwick.exe\""}) {
    SCOPED_TRACE(command);
    EXPECT_FALSE(is_own_entry("Tarnwick", command, image));
  }
  // A network path is never the own entry, even for an engine run from one.
  fake.engine_path = "\\\\host\\share\\tarnwick.exe";
  EXPECT_FALSE(is_own_entry("Tarnwick", "\\\\host\\share\\tarnwick.exe", image));
}

TEST(OwnEntry, EveryStepMustHold) {
  FakePersistence fake;
  fake.existing_files = {testing::kEnginePath,
                         "C:\\Other\\tarnwick.exe",
                         "C:\\Program Files\\Tarnwick\\TARNWICK.EXE",
                         "C:/Program Files/Tarnwick/tarnwick.exe",
                         "C:\\program files\\tarnwick\\tarnwick.exe",
                         "C:\\Program Files\\Tarnwick\\tarnwick.exe.bak",
                         "tarnwick.exe"};
  struct Case {
    const char* name;
    std::string value;
    std::string command;
    bool own;
  };
  const Case cases[] = {
      {"quoted with argument", "Tarnwick", "\"C:\\Program Files\\Tarnwick\\tarnwick.exe\" service",
       true},
      {"ASCII case of the name", "tARNWICK", "\"C:\\Program Files\\Tarnwick\\tarnwick.exe\"", true},
      {"surrounding white space", "Tarnwick",
       " \t\"C:\\Program Files\\Tarnwick\\tarnwick.exe\" service\r\n", true},
      {"no closing quote", "Tarnwick", "\"C:\\Program Files\\Tarnwick\\tarnwick.exe", true},
      {"upper-case file name", "Tarnwick", "\"C:\\Program Files\\Tarnwick\\TARNWICK.EXE\"", true},
      {"other separator", "Tarnwick", "\"C:/Program Files/Tarnwick/tarnwick.exe\"", true},
      {"other name", "Tarnwick2", "\"C:\\Program Files\\Tarnwick\\tarnwick.exe\"", false},
      {"Kelvin sign is not ASCII K", "TARNWIC\u212A",
       "\"C:\\Program Files\\Tarnwick\\tarnwick.exe\"", false},
      {"empty data", "Tarnwick", "", false},
      {"unquoted path with a blank", "Tarnwick",
       "C:\\Program Files\\Tarnwick\\tarnwick.exe service", false},
      {"not tarnwick.exe", "Tarnwick", "\"C:\\Program Files\\Tarnwick\\tarnwick.exe.bak\"", false},
      {"another folder", "Tarnwick", "\"C:\\Other\\tarnwick.exe\" service", false},
      {"folder differs in case", "Tarnwick", "\"C:\\program files\\tarnwick\\tarnwick.exe\"",
       false},
      {"missing file", "Tarnwick", "\"C:\\Program Files\\Tarnwick\\old-tarnwick.exe\"", false},
      {"no folder", "Tarnwick", "tarnwick.exe", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(is_own_entry(c.value, c.command, fake.image()), c.own);
  }
  fake.engine_path.reset();
  EXPECT_FALSE(
      is_own_entry("Tarnwick", "\"C:\\Program Files\\Tarnwick\\tarnwick.exe\"", fake.image()));
}

TEST(CommandProgram, QuotedOrUpToWhiteSpace) {
  EXPECT_EQ(command_program("\"C:\\a b\\x.exe\" -y"), "C:\\a b\\x.exe");
  EXPECT_EQ(command_program("  C:\\x.exe\t-y"), "C:\\x.exe");
  EXPECT_EQ(command_program("C:\\x.exe\u00a0-y"), "C:\\x.exe");
  EXPECT_EQ(command_program("C:\\x.exe"), "C:\\x.exe");
  EXPECT_EQ(command_program("\"C:\\x.exe"), "C:\\x.exe");
  EXPECT_EQ(command_program("\"\" x"), "");
}

TEST(SameParentFolder, ComponentByComponent) {
  EXPECT_TRUE(same_parent_folder("C:\\A\\B\\x.exe", "C:/A/B/y.exe"));
  EXPECT_TRUE(same_parent_folder("C:\\A\\\\B\\x.exe", "C:\\A\\B\\y.exe"));
  EXPECT_FALSE(same_parent_folder("C:\\A\\B\\x.exe", "C:\\A\\b\\x.exe"));
  EXPECT_FALSE(same_parent_folder("C:\\A\\x.exe", "C:\\A\\B\\x.exe"));
  EXPECT_FALSE(same_parent_folder("\\\\server\\A\\x.exe", "\\server\\A\\x.exe"));
  EXPECT_FALSE(same_parent_folder("x.exe", "x.exe"));
  EXPECT_TRUE(same_parent_folder("\\x.exe", "/y.exe"));
}

}  // namespace
}  // namespace tarnwick
