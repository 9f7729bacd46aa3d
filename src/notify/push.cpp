#include "notify/push.h"

#include "notify/cmdline.h"
#include "notify/notify.h"

namespace tarnwick {

std::string push_url(std::string_view server, std::string_view topic) {
  while (!server.empty() && server.back() == '/') server.remove_suffix(1);
  std::string url(server);
  url += '/';
  url += topic;
  return url;
}

std::vector<std::string> push_arguments(const Alert& alert, const Config& config) {
  return {"-s",
          "--max-time",
          "8",
          "-H",
          "Title: Tarnwick: " + alert.title,
          "-H",
          "Priority: urgent",
          "-H",
          "Tags: rotating_light",
          "--data-raw",
          shorten(alert.detail, kPushBodyLimit),
          push_url(config.ntfy_server, config.ntfy_topic)};
}

std::string push_command_line(const Alert& alert, const Config& config,
                              std::string_view program) {
  return command_line(program, push_arguments(alert, config));
}

}  // namespace tarnwick
