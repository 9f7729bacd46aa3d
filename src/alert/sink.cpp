#include "alert/sink.h"

#include <algorithm>

namespace tarnwick {

namespace {

constexpr std::chrono::seconds kRepeatWindow{60};
constexpr std::chrono::seconds kToastWindow{20};
constexpr size_t kPruneAbove = 4096;

// Whole seconds between two instants, as the timing rules count them.
long long whole_seconds(std::chrono::steady_clock::duration d) {
  return std::chrono::duration_cast<std::chrono::seconds>(d).count();
}

}  // namespace

double risk_weight(Severity severity) {
  switch (severity) {
    case Severity::Info: return 0.0;
    case Severity::Low: return 3.0;
    case Severity::Medium: return 10.0;
    case Severity::High: return 25.0;
    case Severity::Critical: return 45.0;
  }
  return 0.0;
}

AlertSink::AlertSink(Parts parts, ClockFn clock, Clock::time_point started)
    : parts_(std::move(parts)), clock_(std::move(clock)), previous_(started) {}

bool AlertSink::is_repeat(const std::string& key, Clock::time_point now) {
  auto found = index_.find(key);
  if (found == index_.end()) {
    seen_.push_back({key, now});
    auto node = std::prev(seen_.end());
    index_.emplace(node->key, node);
    return false;
  }
  auto node = found->second;
  const bool repeat = whole_seconds(now - node->at) < kRepeatWindow.count();
  node->at = now;
  seen_.splice(seen_.end(), seen_, node);
  return repeat;
}

void AlertSink::prune(Clock::time_point now) {
  if (index_.size() <= kPruneAbove) return;
  while (!seen_.empty() && whole_seconds(now - seen_.front().at) >= kRepeatWindow.count()) {
    index_.erase(seen_.front().key);
    seen_.pop_front();
  }
}

void AlertSink::update_risk(const Alert& alert, Clock::time_point now) {
  const double elapsed = std::chrono::duration<double>(now - previous_).count();
  risk_ = std::max(0.0, risk_ - elapsed);
  if (alert.source != AlertSource::System) {
    risk_ = std::min(100.0, risk_ + risk_weight(alert.severity));
  }
}

void AlertSink::log(const Alert& alert) {
  line_.clear();
  serialise_into(alert, line_);
  line_ += '\n';
  parts_.log.append(line_);
  const std::string_view line(line_.data(), line_.size() - 1);
  for (AlertOutput* output : parts_.outputs) output->write(alert, line);
}

bool AlertSink::toast_window_open(Clock::time_point now) const {
  return !last_toast_ || whole_seconds(now - *last_toast_) >= kToastWindow.count();
}

bool AlertSink::response_gate(const Alert& alert) const {
  const Config& c = parts_.config;
  if (!c.auto_response_enabled || alert.severity < c.auto_response_min_severity) return false;
  switch (alert.source) {
    case AlertSource::Network:
    case AlertSource::Process:
    case AlertSource::Dns: return c.auto_stop_network_threat;
    case AlertSource::Persistence: return c.auto_remove_persistence;
    case AlertSource::Files: return c.auto_stop_ransomware;
    case AlertSource::System: return false;
  }
  return false;
}

void AlertSink::report(Alert report, Clock::time_point now) {
  parts_.stats.add_action();
  if (report.title.find("quarantined") != std::string::npos) parts_.stats.add_quarantined();
  if (parts_.after_action) parts_.after_action();
  log(report);
  // The window is judged at the alert's instant like every other step; the
  // toast itself is shown after the response, so that is the instant stored.
  if (report.severity >= parts_.config.toast_min_severity && toast_window_open(now)) {
    parts_.notifier.show_toast(report);
    last_toast_ = clock_();
  }
}

void AlertSink::handle(Alert alert, Clock::time_point now) {
  const Config& config = parts_.config;
  const bool repeat = is_repeat(alert.dedup_key, now);
  prune(now);
  update_risk(alert, now);

  parts_.stats.raise_peak_risk(static_cast<uint64_t>(risk_));
  parts_.stats.add_alert();
  const bool non_system = alert.source != AlertSource::System;
  if (alert.severity >= Severity::High && non_system) parts_.stats.add_threat();

  if (!repeat) {
    log(alert);
    if (alert.severity >= config.toast_min_severity) {
      if (alert.severity == Severity::Critical || toast_window_open(now)) {
        parts_.notifier.show_toast(alert);
        last_toast_ = now;
      }
      if (alert.severity == Severity::Critical && !config.ntfy_topic.empty() && non_system) {
        parts_.notifier.push(alert, config);
      }
    }
  }

  // A lasting condition (an established reverse shell, a running burst)
  // arrives again on every poll; answering each arrival would suspend the
  // same process over and over and flood the log with reports. The repeat is
  // counted above, but only the first arrival of a key is answered.
  if (!repeat && response_gate(alert)) {
    if (auto outcome = parts_.responder.respond(alert, config)) report(std::move(*outcome), now);
  }
  previous_ = now;
  for (AlertOutput* output : parts_.outputs) {
    if (auto notice = output->take_notice(now)) handle(std::move(*notice), now);
  }
}

void run_alert_sink(AlertQueue& queue, const EngineFlags& flags, AlertSink& sink,
                    const AlertSink::ClockFn& clock) {
  while (auto alert = queue.pop()) {
    if (flags.stopping()) return;
    sink.handle(std::move(*alert), clock());
  }
}

}  // namespace tarnwick
