// tarnwick-replay: runs recorded process starts, DNS queries and outbound
// connections (JSON lines from standard input or from the one file named)
// through the detectors' rules and prints each alert as the alert log would
// hold it. Exit code 0, 1 when lines were skipped, 2
// when the input could not be read or the output written.
#include <exception>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#ifdef _WIN32
// clang-format off
#include <windows.h>  // before every other system header
#include <shellapi.h>
// clang-format on

#include <fcntl.h>
#include <io.h>

#include "procmeta/procmeta_win.h"
#include "win/wide_win.h"
#endif

#include "replay/replay.h"

namespace {

constexpr const char* kUsage =
    "usage: tarnwick-replay [FILE]\n"
    "Reads JSON lines (standard input when no FILE is given) and prints the alerts.\n";

struct Argument {
  std::filesystem::path path;
  std::string shown;  // UTF-8, for messages
};

std::vector<Argument> arguments([[maybe_unused]] int argc, [[maybe_unused]] char** argv) {
  std::vector<Argument> out;
#ifdef _WIN32
  // The narrow argv is in the ANSI code page; file names outside it survive
  // only in the UTF-16 command line.
  int count = 0;
  LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide == nullptr) return out;
  for (int i = 1; i < count; ++i) out.push_back({wide[i], tarnwick::win::narrow(wide[i])});
  LocalFree(wide);
#else
  for (int i = 1; i < argc; ++i) out.push_back({argv[i], argv[i]});
#endif
  return out;
}

int replay(int argc, char** argv) {
#ifdef _WIN32
  // Alert lines end in a bare line feed, as in the log, and input bytes pass
  // unchanged: text mode would add carriage returns and stop reading at a
  // Ctrl+Z byte.
  _setmode(_fileno(stdin), _O_BINARY);
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
  const tarnwick::WindowsSignatureCheck platform_check;
  const tarnwick::SignatureCheck* trust = &platform_check;
#else
  const tarnwick::SignatureCheck* trust = nullptr;
#endif
  std::ios::sync_with_stdio(false);

  const std::vector<Argument> args = arguments(argc, argv);
  if (args.size() > 1) {
    std::cerr << kUsage;
    return 2;
  }
  if (args.empty()) return tarnwick::run_replay(std::cin, std::cout, std::cerr, trust);

  std::ifstream file(args[0].path, std::ios::binary);
  if (!file) {
    std::cerr << "cannot open " << args[0].shown << '\n';
    return 2;
  }
  return tarnwick::run_replay(file, std::cout, std::cerr, trust);
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return replay(argc, argv);
  } catch (const std::exception& e) {
    std::cerr << "tarnwick-replay: " << e.what() << '\n';
  } catch (...) {
    std::cerr << "tarnwick-replay: internal error\n";
  }
  return 2;
}
