#include "notify/notify.h"

#include "notify/push.h"
#include "notify/toast.h"
#include "text/text.h"

namespace tarnwick {

std::string shorten(std::string_view text, size_t n) {
  size_t pos = 0;
  size_t count = 0;
  while (pos < text.size() && count < n) {
    decode_utf8(text, pos);
    ++count;
  }
  if (pos == text.size()) return std::string(text);
  std::string out(text.substr(0, pos));
  out += "\u2026";
  return out;
}

void SystemNotifier::show_toast(const Alert& alert) {
  toasts_.show(kToastAppId, toast_xml(alert, version_.major_version()));
}

void SystemNotifier::push(const Alert& alert, const Config& config) {
  if (config.ntfy_topic.empty()) return;
  // curl would take a URL starting with "-" for an option ("-K" reads a
  // configuration file), with the rights of the engine.
  if (push_url(config.ntfy_server, config.ntfy_topic).starts_with('-')) return;
  launcher_.launch_detached(push_command_line(alert, config));
}

}  // namespace tarnwick
