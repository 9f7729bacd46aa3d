// tarnwick.exe: reads the command word and installs, removes, runs as, runs
// in the foreground of, or shows the status of, the Tarnwick service. The
// exit code is always 0.
#include <windows.h>
#include <shellapi.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <iostream>
#include <utility>

#include "engine/engine.h"
#include "main/commands.h"
#include "main/platform_win.h"
#include "main/service_manager_win.h"
#include "main/service_win.h"
#include "status/status_win.h"
#include "win/wide_win.h"

namespace {

// The command word and the word after it; empty when absent.
std::pair<std::string, std::string> command_words() {
  int argc = 0;
  LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (argv == nullptr) return {};
  std::pair<std::string, std::string> words;
  if (argc > 1) words.first = tarnwick::win::narrow(argv[1]);
  if (argc > 2) words.second = tarnwick::win::narrow(argv[2]);
  LocalFree(argv);
  return words;
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
      [](bool json) { tarnwick::print_status(std::cout, tarnwick::kServiceName, json); },
  };
  const auto [word, option] = command_words();
  tarnwick::run_command(word, env, option);
  return 0;
}
