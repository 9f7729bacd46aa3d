#include "notify/notify.h"

#include "notify/cmdline.h"
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

std::string toast_command_line(std::string_view exe, const ToastTexts& texts) {
  // A Windows path holds no quote, so plain quotes keep any blank in it.
  std::string line = "\"" + std::string(exe) + "\" toast ";
  append_quoted_argument(utf8_prefix(texts.heading, kToastArgumentMaxBytes), line);
  line += ' ';
  append_quoted_argument(utf8_prefix(texts.body, kToastArgumentMaxBytes), line);
  return line;
}

void SessionToastNotifier::show_toast(const Alert& alert) {
  if (!exe_) return;
  const std::string line = toast_command_line(*exe_, toast_texts(alert));
  for (const uint32_t session : sessions_.active_sessions()) {
    sessions_.start_in_session(session, line);
  }
}

void SystemNotifier::push(const Alert& alert, const Config& config) {
  if (config.ntfy_topic.empty()) return;
  // curl would take a URL starting with "-" for an option ("-K" reads a
  // configuration file), with the rights of the engine.
  if (push_url(config.ntfy_server, config.ntfy_topic).starts_with('-')) return;
  launcher_.launch_detached(push_command_line(alert, config));
}

}  // namespace tarnwick
