// The curl command line of a push, and command lines in general: split by
// the system's rules they give back exactly the intended arguments, so no
// alert text can add, drop or merge one.
#include <vector>

#include "config/config.h"
#include "fuzz_support.h"
#include "notify/cmdline.h"
#include "notify/push.h"
#include "testsupport/argv_split.h"

using namespace tarnwick;

namespace {

// A command line cannot carry NUL: each is written as U+FFFD.
std::string as_passed(std::string arg) {
  for (size_t at; (at = arg.find('\0')) != std::string::npos;) arg.replace(at, 1, "\xEF\xBF\xBD");
  return arg;
}

void check_splits_back(const std::string& line, const std::vector<std::string>& args) {
  const auto argv = tarnwick::testing::split_command_line(line);
  FUZZ_CHECK(argv.size() == args.size() + 1, line);
  FUZZ_CHECK(argv[0] == "curl", line);
  for (size_t i = 0; i < args.size(); ++i) FUZZ_CHECK(argv[i + 1] == as_passed(args[i]), line);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  if (in.ConsumeBool()) {
    Config config;
    config.ntfy_server = in.ConsumeRandomLengthString(256);
    config.ntfy_topic = in.ConsumeRandomLengthString(64);
    const Alert a = fuzz::alert_from(in);
    const auto args = push_arguments(a, config);
    FUZZ_CHECK(args.size() == 12);
    check_splits_back(push_command_line(a, config), args);
  } else {
    std::vector<std::string> args;
    while (in.remaining_bytes() > 0 && args.size() < 16) args.push_back(in.ConsumeRandomLengthString(128));
    check_splits_back(command_line("curl", args), args);
  }
  return 0;
}
