#pragma once
// The alert sink: the one consumer of the alert queue. For each alert, in
// arrival order, it tests for repeats, keeps the risk score and the counters,
// appends the log line, decides on toast and push, and runs the automatic
// response with its report. Its state is private to the sink thread.

#include <chrono>
#include <filesystem>
#include <functional>
#include <list>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "alert/alert.h"
#include "config/config.h"
#include "engine/alert_queue.h"
#include "engine/flags.h"
#include "stats/stats.h"

namespace tarnwick {

// Shows toasts and sends pushes. Both are fire-and-forget: failures are
// swallowed by the implementation.
class Notifier {
 public:
  virtual ~Notifier() = default;
  virtual void show_toast(const Alert& alert) = 0;
  virtual void push(const Alert& alert, const Config& config) = 0;
};

// Carries out the automatic response for an alert that passed the gate and
// returns its report, or nothing when no action was attempted.
class Responder {
 public:
  virtual ~Responder() = default;
  virtual std::optional<Alert> respond(const Alert& alert, const Config& config) = 0;
};

// Where log lines go; the engine appends to "Tarnwick.log.jsonl" (log_file.h).
class AlertLog {
 public:
  virtual ~AlertLog() = default;
  // `line` ends with its line feed and is written in one piece.
  virtual bool append(std::string_view line) = 0;
};

// A further place each logged alert goes, after its log line: the Event Log
// or a syslog collector. Called on the sink thread; must not block on I/O
// that can stall, since the next alert waits.
class AlertOutput {
 public:
  virtual ~AlertOutput() = default;
  // `line` is the log line without its line feed.
  virtual void write(const Alert& alert, std::string_view line) = 0;
  // An alert the output raises about itself, when one is due at `now`.
  virtual std::optional<Alert> take_notice(std::chrono::steady_clock::time_point) {
    return std::nullopt;
  }
};

class NoNotifier final : public Notifier {
 public:
  void show_toast(const Alert&) override {}
  void push(const Alert&, const Config&) override {}
};

class NoResponder final : public Responder {
 public:
  std::optional<Alert> respond(const Alert&, const Config&) override { return std::nullopt; }
};

// Risk weight of a severity: 0, 3, 10, 25, 45.
double risk_weight(Severity severity);

class AlertSink {
 public:
  using Clock = std::chrono::steady_clock;
  using ClockFn = std::function<Clock::time_point()>;

  struct Parts {
    const Config& config;
    StatsCounters& stats;
    AlertLog& log;
    Notifier& notifier;
    Responder& responder;
    // Called after an action was carried out; the engine writes the snapshot.
    std::function<void()> after_action;
    // Where each logged alert goes besides the log, in this order.
    std::vector<AlertOutput*> outputs = {};
  };

  // `clock` gives the fresh reading stored when a report is toasted.
  AlertSink(Parts parts, ClockFn clock, Clock::time_point started);

  // Steps 2 to 12 of one alert taken from the queue at `now`.
  void handle(Alert alert, Clock::time_point now);

  double risk() const { return risk_; }
  size_t tracked_keys() const { return index_.size(); }

 private:
  bool is_repeat(const std::string& key, Clock::time_point now);
  void prune(Clock::time_point now);
  void update_risk(const Alert& alert, Clock::time_point now);
  void log(const Alert& alert);
  bool toast_window_open(Clock::time_point now) const;
  bool response_gate(const Alert& alert) const;
  void report(Alert report, Clock::time_point now);

  Parts parts_;
  ClockFn clock_;
  // Keys with the instant each was last seen, least recently seen first, so
  // that pruning stops at the first key younger than 60 s.
  struct Seen {
    std::string key;
    Clock::time_point at;
  };
  std::list<Seen> seen_;
  std::unordered_map<std::string_view, std::list<Seen>::iterator> index_;
  double risk_ = 0.0;
  Clock::time_point previous_;
  std::optional<Clock::time_point> last_toast_;
  std::string line_;
};

// The sink thread: pops until end-of-stream, and ends at once, discarding the
// alert taken, when `stop` is set.
void run_alert_sink(AlertQueue& queue, const EngineFlags& flags, AlertSink& sink,
                    const AlertSink::ClockFn& clock);

}  // namespace tarnwick
