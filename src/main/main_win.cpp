// tarnwick.exe: reads the command word and installs, removes, runs as, or runs
// in the foreground of, the Tarnwick service. The exit code is always 0.
#include <windows.h>
#include <shellapi.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <iostream>

#include "engine/engine.h"
#include "main/commands.h"
#include "main/platform_win.h"
#include "main/service_manager_win.h"
#include "main/service_win.h"
#include "win/wide_win.h"

namespace {

std::string command_word() {
  int argc = 0;
  LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (argv == nullptr) return {};
  std::string word = argc > 1 ? tarnwick::win::narrow(argv[1]) : std::string();
  LocalFree(argv);
  return word;
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
  };
  tarnwick::run_command(command_word(), env);
  return 0;
}
