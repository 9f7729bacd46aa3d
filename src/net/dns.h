#pragma once
// The DNS monitor: every name the system's DNS client is asked to resolve,
// from a real-time trace of its provider, judged for tunnelling and dynamic
// DNS services and for algorithmically generated names. The judgement is one
// pure function of the name; the handler runs on the trace's event thread,
// the detector thread only waits for `stop`.

#include <optional>
#include <string>
#include <string_view>

#include "engine/alert_queue.h"
#include "engine/flags.h"
#include "etw/trace.h"

namespace tarnwick {

inline constexpr const char* kDnsSessionName = "Tarnwick-dns";
// Microsoft-Windows-DNS-Client, every keyword, verbose.
TraceProvider dns_client_provider();
inline constexpr uint16_t kDnsQueryEventId = 3006;

inline constexpr const char* kDnsUnavailableTitle = "DNS ETW unavailable";

enum class DomainKind { Clean, Tunnel, Generated };

struct DomainVerdict {
  DomainKind kind = DomainKind::Clean;
  // The judged domain: trailing dots removed, lower-cased. Points into the
  // scratch buffer given to classify_domain.
  std::string_view domain;
  // For a Tunnel, the first entry of the list the domain contains, as listed.
  std::string_view service;
};

// Judges a queried name. `scratch` holds the normalised domain afterwards;
// reusing one buffer keeps the call free of allocations.
DomainVerdict classify_domain(std::string_view query_name, std::string& scratch);

// The alert a verdict raises; nothing for a clean one.
std::optional<Alert> domain_alert(const DomainVerdict& verdict);

// Judges one trace event: a query being issued (Id 3006) with a readable
// "QueryName"; every other event is dropped. `scratch` is the caller's
// reused buffer (one per event thread).
void handle_dns_event(const TraceEventView& event, std::string& scratch, AlertOut& out);

// "DNS monitoring off ({error}). Run as Administrator to enable."
Alert dns_unavailable_alert(const TraceStartError& error);

struct DnsDetectorParts {
  TraceFactory& traces;
  AlertOut& out;
  const EngineFlags& flags;
  Sleeper sleep;
};

// The detector thread body: watches the trace, or after one alert stays idle,
// until `stop` is set.
void run_dns_detector(DnsDetectorParts& parts);

}  // namespace tarnwick
