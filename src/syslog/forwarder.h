#pragma once
// The syslog sending thread and its bounded queue. The alert sink enqueues
// one frame per logged alert and never waits on the network: when the queue
// is full the oldest frame is dropped and counted. The thread sends frames
// in order, each whole: a frame cut off by a broken connection is sent again
// from its start on the next one. Connections are retried with back-off.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include "alert/sink.h"
#include "syslog/syslog.h"

namespace tarnwick {

// One TCP connection to the collector. Used by the sending thread only.
// Every wait is bounded by its argument, so the thread notices `stop` soon.
class SyslogConnection {
 public:
  using Ms = std::chrono::milliseconds;
  virtual ~SyslogConnection() = default;
  // Opens a new connection, closing any old one. Gives up after `timeout`,
  // or as soon as `stopping()` returns true (asked at least every 250 ms).
  virtual bool connect(const SyslogServer& server, Ms timeout,
                       const std::function<bool()>& stopping) = 0;
  // True when the collector closed its side or the connection failed.
  // A collector never sends anything, so anything readable means closed.
  virtual bool peer_closed() = 0;
  // Sends a leading part of `bytes`, waiting at most `wait` for room: the
  // number of bytes sent (0 when there was no room), or nothing when the
  // connection broke.
  virtual std::optional<size_t> send(std::string_view bytes, Ms wait) = 0;
  virtual void close() = 0;
};

struct SyslogTiming {
  std::chrono::milliseconds connect_timeout{5000};
  std::chrono::milliseconds first_retry{1000};
  std::chrono::milliseconds most_retry{60000};
  // The longest a send waits before looking at `stop` again.
  std::chrono::milliseconds slice{250};
  // After a frame the thread looks for the next one every `poll` for
  // `linger` before it sleeps until woken: during a burst of alerts the sink
  // then never pays for waking it, which costs more than formatting a frame.
  std::chrono::milliseconds poll{20};
  std::chrono::milliseconds linger{1000};
};

class SyslogForwarder {
 public:
  static constexpr size_t kCapacity = 10000;

  SyslogForwarder(SyslogServer server, std::unique_ptr<SyslogConnection> connection,
                  SyslogTiming timing = {}, size_t capacity = kCapacity);
  ~SyslogForwarder();  // stops
  SyslogForwarder(const SyslogForwarder&) = delete;
  SyslogForwarder& operator=(const SyslogForwarder&) = delete;

  void start();
  // Queues one frame; drops the oldest waiting one when the queue is full.
  void enqueue(std::string frame);
  // Frames dropped since the last call.
  uint64_t take_dropped();
  // Ends the thread (within a slice or so of the call); what is still
  // queued is given up: the alert log has it.
  void stop();

  const SyslogServer& server() const { return server_; }
  size_t waiting();

 private:
  void run();
  // Waits up to `d`; false when stop was asked.
  bool wait_unless_stopped(std::chrono::milliseconds d);
  std::optional<std::string> next_frame();
  enum class Sent { Whole, Broken, Stopped };
  Sent send_whole(std::string_view frame);

  const SyslogServer server_;
  const std::unique_ptr<SyslogConnection> connection_;
  const SyslogTiming timing_;
  const size_t capacity_;

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::string> queue_;
  uint64_t dropped_ = 0;
  bool stop_ = false;
  bool sleeping_ = false;  // waiting without a time limit: must be woken
  std::atomic<bool> stopping_{false};
  std::thread thread_;
};

// The sink's syslog output: formats each logged alert's frame on the sink
// thread and hands it to the forwarder; reports drops at most once a minute.
class SyslogOutput final : public AlertOutput {
 public:
  SyslogOutput(SyslogForwarder& forwarder, SyslogIdentity identity)
      : forwarder_(forwarder), identity_(std::move(identity)) {}
  void write(const Alert& alert, std::string_view line) override;
  std::optional<Alert> take_notice(std::chrono::steady_clock::time_point now) override;

 private:
  SyslogForwarder& forwarder_;
  SyslogIdentity identity_;
  uint64_t pending_dropped_ = 0;
  std::optional<std::chrono::steady_clock::time_point> last_notice_;
};

// A syslog output that owns its forwarder, started now and stopped when the
// output is destroyed (after the sink has ended).
std::unique_ptr<AlertOutput> make_syslog_output(SyslogServer server,
                                                std::unique_ptr<SyslogConnection> connection,
                                                SyslogIdentity identity);

}  // namespace tarnwick
