#include <gtest/gtest.h>

#include <chrono>
#include <mutex>

#include "syslog/forwarder.h"

namespace tarnwick {
namespace {

using namespace std::chrono_literals;

// A collector in memory: records what each connection received, and can be
// told to refuse connections, break after some bytes, or take nothing.
struct FakeCollector {
  std::mutex mutex;
  std::vector<std::string> connections;  // bytes received, one entry per connection
  int refuse_next = 0;
  size_t break_after = SIZE_MAX;        // bytes this connection takes before it breaks
  bool stall = false;                   // sends find no room
  bool hang_connect = false;            // connect waits out its timeout
  bool closed_by_peer = false;
  std::vector<std::chrono::steady_clock::time_point> attempts;

  std::string all() {
    std::lock_guard lock(mutex);
    std::string out;
    for (const auto& c : connections) out += c;
    return out;
  }
};

class FakeConnection final : public SyslogConnection {
 public:
  explicit FakeConnection(FakeCollector& c) : c_(c) {}
  bool connect(const SyslogServer&, Ms timeout, const std::function<bool()>& stopping) override {
    {
      std::lock_guard lock(c_.mutex);
      c_.attempts.push_back(std::chrono::steady_clock::now());
      if (c_.refuse_next > 0) {
        --c_.refuse_next;
        return false;
      }
    }
    if (c_.hang_connect) {
      const auto end = std::chrono::steady_clock::now() + timeout;
      while (std::chrono::steady_clock::now() < end) {
        if (stopping()) return false;
        std::this_thread::sleep_for(std::min<Ms>(timeout, 250ms));
      }
      return false;
    }
    std::lock_guard lock(c_.mutex);
    c_.connections.emplace_back();
    c_.closed_by_peer = false;
    open_ = true;
    return true;
  }
  bool peer_closed() override {
    std::lock_guard lock(c_.mutex);
    return c_.closed_by_peer;
  }
  std::optional<size_t> send(std::string_view bytes, Ms wait) override {
    std::unique_lock lock(c_.mutex);
    if (!open_) return std::nullopt;
    if (c_.stall) {
      lock.unlock();
      std::this_thread::sleep_for(wait);
      return 0;
    }
    // Takes at most 7 bytes a call, so frames cross several sends.
    size_t n = std::min<size_t>({bytes.size(), 7, c_.break_after});
    c_.connections.back().append(bytes.substr(0, n));
    c_.break_after -= c_.break_after == SIZE_MAX ? 0 : n;
    if (n == 0) {
      c_.break_after = SIZE_MAX;
      open_ = false;
      return std::nullopt;
    }
    return n;
  }
  void close() override { open_ = false; }

 private:
  FakeCollector& c_;
  bool open_ = false;
};

SyslogServer server() { return *parse_syslog_server("collector:514"); }

SyslogTiming fast() {
  SyslogTiming t;
  t.first_retry = 1ms;
  t.most_retry = 8ms;
  t.slice = 20ms;
  // Short, so that most frames find the thread asleep and must wake it.
  t.poll = 2ms;
  t.linger = 5ms;
  return t;
}

template <typename Pred>
bool eventually(Pred pred) {
  for (int i = 0; i < 500; ++i) {
    if (pred()) return true;
    std::this_thread::sleep_for(5ms);
  }
  return pred();
}

TEST(SyslogForwarder, FullQueueDropsTheOldestAndCounts) {
  FakeCollector c;
  SyslogForwarder f(server(), std::make_unique<FakeConnection>(c), fast(), 3);
  // Not started: nothing leaves the queue.
  for (int i = 1; i <= 5; ++i) f.enqueue("frame" + std::to_string(i) + ";");
  EXPECT_EQ(f.take_dropped(), 2u);
  EXPECT_EQ(f.take_dropped(), 0u);
  f.start();
  ASSERT_TRUE(eventually([&] { return c.all() == "frame3;frame4;frame5;"; })) << c.all();
}

TEST(SyslogForwarder, FrameCutByABrokenConnectionIsSentAgainWhole) {
  FakeCollector c;
  c.break_after = 10;
  c.refuse_next = 0;
  SyslogForwarder f(server(), std::make_unique<FakeConnection>(c), fast());
  f.start();
  f.enqueue("first-frame-is-long;");
  f.enqueue("second;");
  ASSERT_TRUE(eventually([&] {
    std::lock_guard lock(c.mutex);
    return c.connections.size() == 2 && c.connections[1] == "first-frame-is-long;second;";
  })) << c.all();
  std::lock_guard lock(c.mutex);
  EXPECT_EQ(c.connections[0], "first-fram");
}

TEST(SyslogForwarder, RefusedConnectionsAreRetriedWithBackoff) {
  FakeCollector c;
  c.refuse_next = 4;
  SyslogTiming t = fast();
  t.first_retry = 10ms;
  t.most_retry = 40ms;
  SyslogForwarder f(server(), std::make_unique<FakeConnection>(c), t);
  f.start();
  f.enqueue("x;");
  ASSERT_TRUE(eventually([&] { return c.all() == "x;"; }));
  std::lock_guard lock(c.mutex);
  ASSERT_EQ(c.attempts.size(), 5u);
  // Waits of 10, 20, 40, 40 ms between the five attempts.
  const std::chrono::milliseconds expected[] = {10ms, 20ms, 40ms, 40ms};
  for (size_t i = 0; i < 4; ++i) {
    const auto gap = c.attempts[i + 1] - c.attempts[i];
    EXPECT_GE(gap, expected[i]) << i;
    EXPECT_LT(gap, expected[i] + 200ms) << i;
  }
}

TEST(SyslogForwarder, CollectorThatClosedIsReconnectedBeforeTheNextFrame) {
  FakeCollector c;
  SyslogForwarder f(server(), std::make_unique<FakeConnection>(c), fast());
  f.start();
  f.enqueue("a;");
  ASSERT_TRUE(eventually([&] { return c.all() == "a;"; }));
  std::this_thread::sleep_for(50ms);  // long past lingering: asleep
  {
    std::lock_guard lock(c.mutex);
    c.closed_by_peer = true;
  }
  f.enqueue("b;");
  ASSERT_TRUE(eventually([&] { return c.all() == "a;b;"; }));
  std::lock_guard lock(c.mutex);
  ASSERT_EQ(c.connections.size(), 2u);
  EXPECT_EQ(c.connections[1], "b;");
}

TEST(SyslogForwarder, StopEndsTheThreadWithinTwoSeconds) {
  struct Case {
    const char* name;
    bool stall;
    bool hang_connect;
    int refuse;
  };
  const Case cases[] = {
      {"while a send finds no room", true, false, 0},
      {"while connecting", false, true, 0},
      {"while waiting to retry", false, false, 1000},
      {"while idle", false, false, 0},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.name);
    FakeCollector c;
    c.stall = k.stall;
    c.hang_connect = k.hang_connect;
    c.refuse_next = k.refuse;
    SyslogTiming t;  // the real timing: 5 s connect, up to 60 s between attempts
    SyslogForwarder f(server(), std::make_unique<FakeConnection>(c), t);
    f.start();
    if (!std::string_view(k.name).ends_with("idle")) {
      for (int i = 0; i < 100; ++i) f.enqueue(std::string(100, 'x'));
    }
    std::this_thread::sleep_for(300ms);
    const auto before = std::chrono::steady_clock::now();
    f.stop();
    EXPECT_LT(std::chrono::steady_clock::now() - before, 2s);
  }
}

TEST(SyslogOutput, DropsAreReportedAtMostOnceAMinute) {
  FakeCollector c;
  SyslogForwarder f(server(), std::make_unique<FakeConnection>(c), fast(), 2);
  SyslogOutput out(f, SyslogIdentity{"h", 1});
  const Alert a = make_alert(AlertSource::Network, Severity::High, "t", std::string("d"));
  const auto t0 = std::chrono::steady_clock::time_point{} + 1h;
  EXPECT_FALSE(out.take_notice(t0));
  for (int i = 0; i < 5; ++i) out.write(a, "{}");
  const auto first = out.take_notice(t0);
  ASSERT_TRUE(first);
  EXPECT_EQ(first->title, "Syslog forwarding fell behind");
  EXPECT_EQ(first->severity, Severity::Low);
  EXPECT_EQ(first->source, AlertSource::System);
  EXPECT_EQ(first->detail,
            "3 alert lines were dropped before they could be sent to the syslog server "
            "collector:514; the alert log has them.");
  out.write(a, "{}");
  EXPECT_FALSE(out.take_notice(t0 + 59s));
  out.write(a, "{}");
  const auto second = out.take_notice(t0 + 60s);
  ASSERT_TRUE(second);
  EXPECT_EQ(second->detail.substr(0, 2), "2 ");
  EXPECT_FALSE(out.take_notice(t0 + 200s));
}

}  // namespace
}  // namespace tarnwick
