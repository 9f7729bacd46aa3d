#pragma once
// The push of one alert to an ntfy topic: the URL, the curl arguments and the
// command line that starts curl. Pure functions.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "alert/alert.h"
#include "config/config.h"

namespace tarnwick {

inline constexpr size_t kPushBodyLimit = 240;
inline constexpr std::string_view kPushProgram = "curl";

// `server` without its trailing slashes, one "/", then `topic`.
std::string push_url(std::string_view server, std::string_view topic);

// The twelve curl arguments, in order. The body goes after "--data-raw",
// not "-d": with "-d" curl would read a file when the text starts with "@",
// and details carry text an attacker chose.
std::vector<std::string> push_arguments(const Alert& alert, const Config& config);

// `program` (by default "curl") and the twelve arguments, quoted.
std::string push_command_line(const Alert& alert, const Config& config,
                              std::string_view program = kPushProgram);

}  // namespace tarnwick
