#include "net/dns.h"

#include <gtest/gtest.h>

#include "alert/sink.h"
#include "etw/trace_fake.h"
#include "testsupport/alert_collector.h"

namespace tarnwick {
namespace {

using Collect = testing::AlertCollector;

TEST(ClassifyDomain, Cases) {
  struct Case {
    const char* query;
    DomainKind kind;
    const char* domain;
  };
  using K = DomainKind;
  const Case cases[] = {
      // Listed services, by containment, after trimming and lower-casing.
      {"API.Build-42.NGROK-FREE.APP.", K::Tunnel, "api.build-42.ngrok-free.app"},
      {"x.ngrok.io...", K::Tunnel, "x.ngrok.io"},
      {"home.duckdns.org", K::Tunnel, "home.duckdns.org"},
      {"a.b.trycloudflare.com.evil.example", K::Tunnel, "a.b.trycloudflare.com.evil.example"},
      {"trycloudflare.com", K::Tunnel, "trycloudflare.com"},
      {"mytrycloudflare.com", K::Tunnel, "mytrycloudflare.com"},
      {"x.ngrok.iox.net", K::Tunnel, "x.ngrok.iox.net"},
      {"\u0130ZM\u0130R.NGROK.IO", K::Tunnel, "i\u0307zmi\u0307r.ngrok.io"},  // full lower-casing
      // The bare name of a service holds no dotted entry; its label is short.
      {"ngrok-free.app", K::Clean, "ngrok-free.app"},
      {"duckdns.org", K::Clean, "duckdns.org"},
      {"localhost", K::Clean, "localhost"},
      {"", K::Clean, ""},
      {"...", K::Clean, ""},
      // Generated-looking second-to-last labels.
      {"bcdfghjklmn.com", K::Clean, "bcdfghjklmn.com"},                // 11 bytes
      {"bcdfghjklmnp.com", K::Clean, "bcdfghjklmnp.com"},              // 12 distinct: 3.585 bits
      {"bcdfghjklmnpq.com", K::Generated, "bcdfghjklmnpq.com"},        // 13 distinct: 3.70 bits
      {"bcdfghjk12345678.net", K::Generated, "bcdfghjk12345678.net"},  // 16 distinct: 4.0
      {"XKCDQWRTZPLMNB.ORG..", K::Generated, "xkcdqwrtzplmnb.org"},
      {"www.bcdfghjklmnpq.com", K::Generated, "www.bcdfghjklmnpq.com"},
      {"bcdfghjklmnpq.example.com", K::Clean, "bcdfghjklmnpq.example.com"},
      {"bcdfghjklmnpq..com", K::Clean, "bcdfghjklmnpq..com"},  // an empty label is examined
      {".bcdfghjklmnpq", K::Clean, ".bcdfghjklmnpq"},  // the examined label is the empty one
      {"bcdfghjklmnpq.", K::Clean, "bcdfghjklmnpq"},   // one label once the dot is gone
      {"a1b2c3d4e5f6.info", K::Generated, "a1b2c3d4e5f6.info"},          // digits 0.5, 12 distinct
      {"112233445566778899.info", K::Clean, "112233445566778899.info"},  // 9 values: 3.17
      {"01234567890123456789.info", K::Generated, "01234567890123456789.info"},  // 10: 3.32
      {"bcdfghjkl0123.info", K::Generated, "bcdfghjkl0123.info"},
      {"aeiobcdfghjkl.com", K::Clean, "aeiobcdfghjkl.com"},  // vowels 4/13
      {"login.microsoftonline.com", K::Clean, "login.microsoftonline.com"},
      {"BÜCHER.example.DE", K::Clean, "b\u00fccher.example.de"},
  };
  std::string scratch = "left over";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.query);
    const DomainVerdict v = classify_domain(c.query, scratch);
    EXPECT_EQ(v.kind, c.kind);
    EXPECT_EQ(v.domain, c.domain);
  }
}

TEST(DomainAlert, TextsAndKeys) {
  std::string scratch;
  EXPECT_FALSE(domain_alert(classify_domain("www.example.com", scratch)));

  const auto bad = domain_alert(classify_domain("Shop.NGROK-FREE.app.", scratch));
  ASSERT_TRUE(bad);
  EXPECT_EQ(bad->source, AlertSource::Dns);
  EXPECT_EQ(bad->severity, Severity::High);
  EXPECT_EQ(bad->title, "Lookup of tunnel / C2-linked domain");
  EXPECT_EQ(bad->detail, "Resolved shop.ngrok-free.app");
  EXPECT_EQ(bad->dedup_key, "dns-bad:.ngrok-free.app");
  EXPECT_FALSE(bad->pid);

  const auto dga = domain_alert(classify_domain("bcdfghjk12345678.net", scratch));
  ASSERT_TRUE(dga);
  EXPECT_EQ(dga->source, AlertSource::Dns);
  EXPECT_EQ(dga->severity, Severity::Medium);
  EXPECT_EQ(dga->title, "Algorithmically-generated domain (DGA-like)");
  EXPECT_EQ(dga->detail, "High-entropy domain resolved: bcdfghjk12345678.net");
  EXPECT_EQ(dga->dedup_key, "dns-dga:bcdfghjk12345678.net");
  EXPECT_FALSE(dga->pid);
}

TEST(DnsEvent, OnlyQueriesWithANameAreJudged) {
  struct Case {
    const char* name;
    uint16_t id;
    bool schema;
    bool has_name;
    size_t alerts;
  };
  const Case cases[] = {
      {"query", 3006, true, true, 1},
      {"another event", 3008, true, true, 0},
      {"unknown schema", 3006, false, true, 0},
      {"no QueryName", 3006, true, false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    testing::FakeTraceEvent e;
    e.event_id = c.id;
    e.schema = c.schema;
    if (c.has_name) e.strings["QueryName"] = "x.loca.lt";
    Collect out;
    std::string scratch;
    handle_dns_event(e, scratch, out);
    EXPECT_EQ(out.alerts.size(), c.alerts);
  }
}

// The key names the first entry of the list the domain contains, in list
// order, not in the order the name spells them.
TEST(DomainAlert, TunnelKeyIsTheFirstListedServiceContained) {
  const struct {
    const char* query;
    const char* key;
  } cases[] = {
      {"a.b.trycloudflare.com.evil.example", "dns-bad:trycloudflare.com"},
      {"mytrycloudflare.com", "dns-bad:trycloudflare.com"},
      {"x.duckdns.org.ngrok.io", "dns-bad:.ngrok.io"},
      {"x.serveo.net.trycloudflare.com", "dns-bad:trycloudflare.com"},
      {"x.ngrok.app.ngrok-free.app", "dns-bad:.ngrok-free.app"},
      {"c2.MYFTP.org", "dns-bad:.myftp.org"},
      {"bcdfghjklmnpq.com", "dns-dga:bcdfghjklmnpq.com"},  // generated names keep theirs
  };
  std::string scratch;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.query);
    const auto alert = domain_alert(classify_domain(c.query, scratch));
    ASSERT_TRUE(alert);
    EXPECT_EQ(alert->dedup_key, c.key);
  }
}

// A DNS tunnel asks for a fresh subdomain with every query: 5,000 of them
// through the pipeline are one logged alert, each still naming its domain.
TEST(DomainAlert, FiveThousandTunnelSubdomainsAreOneLoggedAlert) {
  struct Lines final : AlertLog {
    std::vector<std::string> lines;
    bool append(std::string_view line) override {
      lines.emplace_back(line);
      return true;
    }
  } log;
  const Config config;
  StatsCounters stats{"unused.json", {}, std::chrono::steady_clock::time_point{}};
  NoNotifier notifier;
  NoResponder responder;
  const auto t0 = std::chrono::steady_clock::time_point{} + std::chrono::hours(1);
  AlertSink sink({config, stats, log, notifier, responder, {}}, [&] { return t0; }, t0);
  std::string scratch;
  for (int i = 0; i < 5000; ++i) {
    const std::string name = "q" + std::to_string(i) + "x7f3.t.ngrok-free.app";
    auto alert = domain_alert(classify_domain(name, scratch));
    ASSERT_TRUE(alert);
    EXPECT_EQ(alert->detail, "Resolved " + name);
    sink.handle(std::move(*alert), t0 + std::chrono::milliseconds(10 * i));
  }
  ASSERT_EQ(log.lines.size(), 1u);
  EXPECT_NE(log.lines[0].find("\"detail\":\"Resolved q0x7f3.t.ngrok-free.app\""), std::string::npos);
}

TEST(DnsDetector, WithoutTheSessionSaysSoOnceAndIdles) {
  testing::FakeTraceFactory traces;
  traces.failure = TraceStartError{"OpenTraceW", 5};
  EngineFlags flags;
  Collect out;
  int waits = 0;
  DnsDetectorParts parts{traces, out, flags, [&](std::chrono::milliseconds d) {
                           EXPECT_EQ(d.count(), 500);
                           return ++waits < 20;
                         }};
  run_dns_detector(parts);
  EXPECT_EQ(waits, 20);
  ASSERT_EQ(out.alerts.size(), 1u);
  const Alert& a = out.alerts[0];
  EXPECT_EQ(a.source, AlertSource::System);
  EXPECT_EQ(a.severity, Severity::Low);
  EXPECT_EQ(a.title, "DNS ETW unavailable");
  EXPECT_EQ(a.detail,
            "DNS monitoring off (OpenTraceW failed (error 5)). Run as Administrator to enable.");
  EXPECT_EQ(a.dedup_key, "SYS:DNS ETW unavailable");
  EXPECT_FALSE(a.pid);
}

TEST(DnsDetector, WatchesTheSessionUntilStop) {
  testing::FakeTraceFactory traces;
  EngineFlags flags;
  Collect out;
  int waits = 0;
  DnsDetectorParts parts{traces, out, flags, [&](std::chrono::milliseconds) {
                           if (++waits == 1) {
                             testing::FakeTraceEvent e;
                             e.event_id = 3006;
                             e.strings["QueryName"] = "c2.duckdns.org";
                             traces.callback(e);
                           }
                           EXPECT_EQ(traces.stops, 0);
                           return waits < 3;
                         }};
  run_dns_detector(parts);
  EXPECT_EQ(traces.session_name, "Tarnwick-dns");
  EXPECT_EQ(traces.provider.guid, "1C95126E-7EEA-49A9-A3FE-A378B03DDB4D");
  EXPECT_EQ(traces.provider.match_any_keyword, 0xFFFFFFFFFFFFFFFFull);
  EXPECT_EQ(traces.provider.match_all_keyword, 0u);
  EXPECT_EQ(traces.provider.level, 5);
  EXPECT_EQ(traces.stops, 1);
  ASSERT_EQ(out.alerts.size(), 1u);
  EXPECT_EQ(out.alerts[0].dedup_key, "dns-bad:.duckdns.org");
}

TEST(DnsDetector, ASessionEndedFromOutsideIsReportedAndTheRunEnds) {
  testing::FakeTraceFactory traces;
  EngineFlags flags;
  Collect out;
  int waits = 0;
  DnsDetectorParts parts{traces, out, flags, [&](std::chrono::milliseconds) {
                           // Someone stops the session by name during the second wait.
                           if (++waits == 2) traces.ended = true;
                           return waits < 20;
                         }};
  run_dns_detector(parts);
  EXPECT_EQ(waits, 2);
  EXPECT_EQ(traces.stops, 1);
  ASSERT_EQ(out.alerts.size(), 1u);
  const Alert& a = out.alerts[0];
  EXPECT_EQ(a.source, AlertSource::System);
  EXPECT_EQ(a.severity, Severity::High);
  EXPECT_EQ(a.title, "Real-time trace stopped unexpectedly");
  EXPECT_EQ(a.detail,
            "The Tarnwick-dns trace session ended while Tarnwick was running (possible tampering); "
            "restarting it.");
  EXPECT_EQ(a.dedup_key, "SYS:Real-time trace stopped unexpectedly");
}

}  // namespace
}  // namespace tarnwick
