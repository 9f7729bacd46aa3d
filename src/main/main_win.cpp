// tarnwick.exe: reads the command word and installs, removes, runs as, runs
// in the foreground of, or shows the status of, the Tarnwick service, or
// shows one toast. The exit code is 0, except for a toast that was not shown.
#include <windows.h>
#include <shellapi.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "main/commands.h"
#include "main/platform_win.h"
#include "main/service_manager_win.h"
#include "main/service_win.h"
#include "notify/notify_win.h"
#include "notify/toast.h"
#include "status/status_win.h"
#include "win/wide_win.h"

namespace {

// The arguments after the program name.
std::vector<std::string> command_arguments() {
  int argc = 0;
  LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (argv == nullptr) return {};
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.push_back(tarnwick::win::narrow(argv[i]));
  LocalFree(argv);
  return args;
}

bool show_toast(std::string_view heading, std::string_view body) {
  tarnwick::WindowsToastPresenter presenter;
  const tarnwick::WindowsSystemVersion version;
  return presenter.show(tarnwick::kToastAppId,
                        tarnwick::toast_document(heading, body, version.major_version()));
}

}  // namespace

int main() {
  // Replies are UTF-8 (one holds an em dash), each ending in a bare line feed.
  SetConsoleOutputCP(CP_UTF8);
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
  tarnwick::WindowsServiceManager scm;
  tarnwick::CommandEnv env{
      scm,
      [] {
        tarnwick::WindowsPlatform platform;
        tarnwick::run_engine(platform);
      },
      [] { return tarnwick::dispatch_service(); },
      std::cout,
      std::cerr,
      {},
      show_toast,
      [](bool json) { tarnwick::print_status(std::cout, tarnwick::kServiceName, json); },
  };
  std::vector<std::string> args = command_arguments();
  const std::string word = args.empty() ? std::string() : args.front();
  if (!args.empty()) env.arguments.assign(args.begin() + 1, args.end());
  return tarnwick::run_command(word, env);
}
