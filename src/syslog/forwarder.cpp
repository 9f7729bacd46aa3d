#include "syslog/forwarder.h"

#include <utility>

#include "sysenv/sysenv.h"

namespace tarnwick {

SyslogForwarder::SyslogForwarder(SyslogServer server, std::unique_ptr<SyslogConnection> connection,
                                 SyslogTiming timing, size_t capacity)
    : server_(std::move(server)),
      connection_(std::move(connection)),
      timing_(timing),
      capacity_(capacity) {}

SyslogForwarder::~SyslogForwarder() { stop(); }

void SyslogForwarder::start() {
  if (!thread_.joinable()) {
    thread_ = std::thread([this] {
      name_current_thread("syslog");
      run();
    });
  }
}

void SyslogForwarder::enqueue(std::string frame) {
  bool wake = false;
  {
    std::lock_guard lock(mutex_);
    if (stop_) return;
    if (queue_.size() >= capacity_) {
      queue_.pop_front();
      ++dropped_;
    }
    queue_.push_back(std::move(frame));
    wake = std::exchange(sleeping_, false);
  }
  if (wake) wake_.notify_one();
}

uint64_t SyslogForwarder::take_dropped() {
  std::lock_guard lock(mutex_);
  return std::exchange(dropped_, 0);
}

size_t SyslogForwarder::waiting() {
  std::lock_guard lock(mutex_);
  return queue_.size();
}

void SyslogForwarder::stop() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
    stopping_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

bool SyslogForwarder::wait_unless_stopped(std::chrono::milliseconds d) {
  std::unique_lock lock(mutex_);
  return !wake_.wait_for(lock, d, [this] { return stop_; });
}

std::optional<std::string> SyslogForwarder::next_frame() {
  std::unique_lock lock(mutex_);
  const auto linger_until = std::chrono::steady_clock::now() + timing_.linger;
  while (!stop_ && queue_.empty()) {
    if (std::chrono::steady_clock::now() < linger_until) {
      wake_.wait_for(lock, timing_.poll);
    } else {
      sleeping_ = true;
      wake_.wait(lock, [this] { return stop_ || !queue_.empty(); });
      sleeping_ = false;
    }
  }
  if (stop_) return std::nullopt;
  std::string frame = std::move(queue_.front());
  queue_.pop_front();
  return frame;
}

SyslogForwarder::Sent SyslogForwarder::send_whole(std::string_view frame) {
  size_t offset = 0;
  while (offset < frame.size()) {
    if (stopping_) return Sent::Stopped;
    const auto n = connection_->send(frame.substr(offset), timing_.slice);
    if (!n) return Sent::Broken;
    offset += *n;
  }
  return Sent::Whole;
}

void SyslogForwarder::run() {
  SyslogBackoff backoff(timing_.first_retry, timing_.most_retry);
  const std::function<bool()> stopping = [this] { return stopping_.load(); };
  bool connected = false;
  // The frame being sent is held here, outside the queue, so that dropping
  // the oldest waiting frame can never cut one that is half on the wire.
  std::optional<std::string> frame;
  while (!stopping_) {
    if (!frame) {
      frame = next_frame();
      if (!frame) break;
    }
    // A collector that went away since the last frame is noticed before a
    // frame is written into a connection that can no longer deliver it.
    if (connected && connection_->peer_closed()) {
      connection_->close();
      connected = false;
      if (!wait_unless_stopped(backoff.next())) break;
      continue;
    }
    if (!connected) {
      if (!connection_->connect(server_, timing_.connect_timeout, stopping)) {
        if (!wait_unless_stopped(backoff.next())) break;
        continue;
      }
      connected = true;
      backoff.reset();
    }
    switch (send_whole(*frame)) {
      case Sent::Whole: frame.reset(); break;
      case Sent::Stopped: break;
      case Sent::Broken:
        connection_->close();
        connected = false;
        wait_unless_stopped(backoff.next());
        break;
    }
  }
  connection_->close();
}

void SyslogOutput::write(const Alert& alert, std::string_view line) {
  std::string frame;
  frame.reserve(line.size() + 96);
  append_syslog_frame(alert, line, identity_, frame);
  forwarder_.enqueue(std::move(frame));
}

std::optional<Alert> SyslogOutput::take_notice(std::chrono::steady_clock::time_point now) {
  pending_dropped_ += forwarder_.take_dropped();
  if (pending_dropped_ == 0) return std::nullopt;
  if (last_notice_ && now - *last_notice_ < std::chrono::minutes(1)) return std::nullopt;
  last_notice_ = now;
  return syslog_behind_alert(std::exchange(pending_dropped_, 0), forwarder_.server().text);
}

namespace {

class OwningSyslogOutput final : public AlertOutput {
 public:
  OwningSyslogOutput(SyslogServer server, std::unique_ptr<SyslogConnection> connection,
                     SyslogIdentity identity)
      : forwarder_(std::move(server), std::move(connection)), output_(forwarder_, std::move(identity)) {
    forwarder_.start();
  }
  void write(const Alert& alert, std::string_view line) override { output_.write(alert, line); }
  std::optional<Alert> take_notice(std::chrono::steady_clock::time_point now) override {
    return output_.take_notice(now);
  }

 private:
  SyslogForwarder forwarder_;
  SyslogOutput output_;
};

}  // namespace

std::unique_ptr<AlertOutput> make_syslog_output(SyslogServer server,
                                                std::unique_ptr<SyslogConnection> connection,
                                                SyslogIdentity identity) {
  return std::make_unique<OwningSyslogOutput>(std::move(server), std::move(connection),
                                              std::move(identity));
}

}  // namespace tarnwick
