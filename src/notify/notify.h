#pragma once
// Telling the user about an alert at once: a toast on the local desktop and a
// push to an ntfy topic through an external curl. The platform pieces (toast
// presenter, detached process launcher, system version) sit behind narrow
// interfaces; SystemNotifier composes them. Called on the alert sink thread
// only; failures are swallowed, nothing is kept between calls.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "alert/sink.h"
#include "notify/toast.h"
#include "sessions/sessions.h"

namespace tarnwick {

// The text unchanged if it has at most `n` code points, else its first `n`
// followed by "…". An ill-formed byte sequence counts as the one U+FFFD it
// will be shown as; the cut never falls inside a sequence.
std::string shorten(std::string_view text, size_t n);

// The sender identity toasts are shown under: an application id the system
// already knows, so the engine needs no registration of its own.
inline constexpr std::string_view kToastAppId =
    "{1AC14E77-02E7-4E5D-B744-2EB1AE5198B7}\\WindowsPowerShell\\v1.0\\powershell.exe";

class ToastPresenter {
 public:
  virtual ~ToastPresenter() = default;
  // Hands the toast document `xml` to the notification platform under
  // `app_id`; false when any step failed.
  virtual bool show(std::string_view app_id, std::string_view xml) = 0;
};

class ProcessLauncher {
 public:
  virtual ~ProcessLauncher() = default;
  // Starts `command_line` (program found by the ordinary search) with its
  // output and errors discarded and standard input inherited, and returns
  // without waiting; false when it could not be started.
  virtual bool launch_detached(std::string_view command_line) = 0;
};

class SystemVersion {
 public:
  virtual ~SystemVersion() = default;
  // The operating system's major version (10 for Windows 10 and 11).
  virtual uint32_t major_version() const = 0;
};

class SystemNotifier final : public Notifier {
 public:
  SystemNotifier(ToastPresenter& toasts, ProcessLauncher& launcher, const SystemVersion& version)
      : toasts_(toasts), launcher_(launcher), version_(version) {}

  void show_toast(const Alert& alert) override;
  // Does nothing when `config.ntfy_topic` is empty or the URL would start
  // with "-".
  void push(const Alert& alert, const Config& config) override;

 private:
  ToastPresenter& toasts_;
  ProcessLauncher& launcher_;
  const SystemVersion& version_;
};

// Each text a toast child is given is cut to this many bytes, at a character
// boundary. A toast's heading and body are far shorter (the detail is shown
// to 160 characters), and two such texts quoted (each byte at most one
// UTF-16 unit, at most doubled by escaping) stay far below the 32,767 units
// a command line may hold, whatever the executable's path.
inline constexpr size_t kToastArgumentMaxBytes = 2048;

// `"{exe}" toast {heading} {body}`, each text cut to kToastArgumentMaxBytes
// and quoted so that the child's CommandLineToArgvW gives it back exactly.
std::string toast_command_line(std::string_view exe, const ToastTexts& texts);

// The notifier of an engine run as the service: a toast is shown by starting
// the engine's own executable with the "toast" word once in every active
// session (a failure in one does not keep the others from theirs); pushes go
// to `pushes` unchanged. With no active session, or no known executable,
// nothing is shown.
class SessionToastNotifier final : public Notifier {
 public:
  SessionToastNotifier(UserSessions& sessions, std::optional<std::string> exe, Notifier& pushes)
      : sessions_(sessions), exe_(std::move(exe)), pushes_(pushes) {}

  void show_toast(const Alert& alert) override;
  void push(const Alert& alert, const Config& config) override { pushes_.push(alert, config); }

 private:
  UserSessions& sessions_;
  std::optional<std::string> exe_;
  Notifier& pushes_;
};

}  // namespace tarnwick
