#include "net/dns.h"

#include <cmath>
#include <cstring>

#include "alert/alert.h"
#include "text/text.h"

namespace tarnwick {

namespace {

// The tunnel and dynamic-DNS list, in order. Every entry but one starts with
// a dot; "trycloudflare.com" has none.
constexpr std::string_view kServices[] = {
    ".ngrok.io",      ".ngrok-free.app", ".ngrok.app",   "trycloudflare.com", ".serveo.net",
    ".localtonet.com", ".loca.lt",       ".telebit.io",  ".pagekite.me",      ".portmap.io",
    ".tunnelto.dev",  ".localhost.run",  ".bore.pub",    ".duckdns.org",      ".no-ip.com",
    ".ddns.net",      ".hopto.org",      ".zapto.org",   ".sytes.net",        ".myftp.org"};
constexpr size_t kTryCloudflare = 3;
constexpr size_t kTryCloudflareDot = 13;  // where its own dot sits

constexpr size_t kMinGeneratedLabel = 12;

// The first entry of the list, in list order, that the domain contains
// anywhere; empty when none. Every occurrence of an entry puts one of its
// dots on a dot of the domain, so only the dots are visited.
std::string_view listed_service(std::string_view d) {
  size_t best = std::size(kServices);
  for (size_t p = d.find('.'); p != std::string_view::npos && best > 0; p = d.find('.', p + 1)) {
    const std::string_view rest = d.substr(p);
    if (rest.size() >= 2) {
      for (size_t i = 0; i < best; ++i) {
        const std::string_view entry = kServices[i];
        if (i != kTryCloudflare && rest.size() >= entry.size() && rest[1] == entry[1] &&
            std::memcmp(rest.data(), entry.data(), entry.size()) == 0) {
          best = i;
          break;
        }
      }
    }
    if (kTryCloudflare < best && p >= kTryCloudflareDot &&
        d.substr(p - kTryCloudflareDot).starts_with(kServices[kTryCloudflare])) {
      best = kTryCloudflare;
    }
  }
  return best < std::size(kServices) ? kServices[best] : std::string_view();
}

// Shannon entropy of the label's byte values, in bits per byte.
double byte_entropy(std::string_view label) {
  uint32_t counts[256] = {};
  unsigned char distinct[256];
  size_t n_distinct = 0;
  for (char c : label) {
    const auto b = static_cast<unsigned char>(c);
    if (counts[b]++ == 0) distinct[n_distinct++] = b;
  }
  const double len = static_cast<double>(label.size());
  double entropy = 0;
  for (size_t i = 0; i < n_distinct; ++i) {
    const double p = counts[distinct[i]] / len;
    entropy -= p * std::log2(p);
  }
  return entropy;
}

// The second-to-last label: long, few vowels or many digits, and varied.
bool looks_generated(std::string_view d) {
  const size_t last = d.rfind('.');
  if (last == std::string_view::npos || last == 0) return false;
  const size_t prev = d.rfind('.', last - 1);
  const size_t start = prev == std::string_view::npos ? 0 : prev + 1;
  const std::string_view label = d.substr(start, last - start);
  if (label.size() < kMinGeneratedLabel) return false;
  size_t vowels = 0;
  size_t digits = 0;
  for (char c : label) {
    vowels += (c == 'a' || c == 'e' || c == 'i' || c == 'o' || c == 'u');
    digits += (c >= '0' && c <= '9');
  }
  const double len = static_cast<double>(label.size());
  const bool few_vowels = vowels / len < 0.2;
  const bool many_digits = digits / len > 0.45;
  // The entropy is worked out only for labels that can still qualify.
  if (!few_vowels && !many_digits) return false;
  const double entropy = byte_entropy(label);
  return (few_vowels && entropy > 3.6) || (many_digits && entropy > 3.2);
}

}  // namespace

TraceProvider dns_client_provider() {
  return {"1C95126E-7EEA-49A9-A3FE-A378B03DDB4D", 0xFFFFFFFFFFFFFFFFull, 0, 5};
}

DomainVerdict classify_domain(std::string_view query_name, std::string& scratch) {
  while (!query_name.empty() && query_name.back() == '.') query_name.remove_suffix(1);
  scratch.clear();
  append_lower(query_name, scratch);
  DomainVerdict verdict;
  verdict.domain = scratch;
  if (verdict.domain.empty()) return verdict;
  verdict.service = listed_service(verdict.domain);
  if (!verdict.service.empty()) {
    verdict.kind = DomainKind::Tunnel;
  } else if (looks_generated(verdict.domain)) {
    verdict.kind = DomainKind::Generated;
  }
  return verdict;
}

std::optional<Alert> domain_alert(const DomainVerdict& verdict) {
  const std::string domain(verdict.domain);
  switch (verdict.kind) {
    case DomainKind::Clean: return std::nullopt;
    case DomainKind::Tunnel: {
      Alert a = make_alert(AlertSource::Dns, Severity::High, "Lookup of tunnel / C2-linked domain",
                           "Resolved " + domain);
      // Keyed by the service, not the name: a tunnel asks for a fresh
      // subdomain with every query, and each would otherwise be a new alert.
      a.dedup_key = "dns-bad:" + std::string(verdict.service);
      return a;
    }
    case DomainKind::Generated: {
      Alert a = make_alert(AlertSource::Dns, Severity::Medium,
                           "Algorithmically-generated domain (DGA-like)",
                           "High-entropy domain resolved: " + domain);
      a.dedup_key = "dns-dga:" + domain;
      return a;
    }
  }
  return std::nullopt;
}

void handle_dns_event(const TraceEventView& event, std::string& scratch, AlertOut& out) {
  if (event.id() != kDnsQueryEventId || !event.has_schema()) return;
  const std::optional<std::string> name = event.string_value("QueryName");
  if (!name) return;
  if (auto alert = domain_alert(classify_domain(*name, scratch))) out.push(std::move(*alert));
}

Alert dns_unavailable_alert(const TraceStartError& error) {
  return make_alert(AlertSource::System, Severity::Low, kDnsUnavailableTitle,
                    "DNS monitoring off (" + error.text() + "). Run as Administrator to enable.");
}

void run_dns_detector(DnsDetectorParts& p) {
  TraceStart started =
      p.traces.start(kDnsSessionName, dns_client_provider(),
                     [&out = p.out, scratch = std::string()](const TraceEventView& event) mutable {
                       handle_dns_event(event, scratch, out);
                     });
  if (auto* session = std::get_if<std::unique_ptr<TraceSession>>(&started)) {
    watch_trace_session(**session, kDnsSessionName, p.out, p.sleep);
    return;
  }
  p.out.push(dns_unavailable_alert(std::get<TraceStartError>(started)));
  // There is no fallback: without the session the detector only waits.
  while (p.sleep(std::chrono::milliseconds(500))) {
  }
}

}  // namespace tarnwick
