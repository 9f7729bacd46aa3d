// The DNS judgement: any queried name is judged on its lower-cased form
// without trailing dots, a listed service always wins over the generated-name
// test, and every alert it raises is one valid log line, keyed by the listed
// service the domain contains or by the generated-looking domain.
#include "fuzz_support.h"
#include "net/dns.h"
#include "text/text.h"

using namespace tarnwick;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view name(reinterpret_cast<const char*>(data), size);
  std::string scratch = "left over from an earlier name";
  const DomainVerdict verdict = classify_domain(name, scratch);

  std::string_view trimmed = name;
  while (!trimmed.empty() && trimmed.back() == '.') trimmed.remove_suffix(1);
  FUZZ_CHECK(verdict.domain == to_lower(trimmed), verdict.domain);
  if (verdict.domain.find(".duckdns.org") != std::string_view::npos ||
      verdict.domain.find("trycloudflare.com") != std::string_view::npos) {
    FUZZ_CHECK(verdict.kind == DomainKind::Tunnel, verdict.domain);
  }
  // The generated-name test looks only at a second-to-last label of 12 bytes or more.
  if (verdict.kind == DomainKind::Generated) {
    const std::string_view d = verdict.domain;
    const size_t last = d.rfind('.');
    FUZZ_CHECK(last != std::string_view::npos, d);
    const size_t before = d.rfind('.', last - 1);
    const size_t start = before == std::string_view::npos ? 0 : before + 1;
    FUZZ_CHECK(last - start >= 12, d);
  }

  const std::optional<Alert> alert = domain_alert(verdict);
  FUZZ_CHECK(alert.has_value() == (verdict.kind != DomainKind::Clean));
  if (alert) {
    const std::string domain(verdict.domain);
    const std::string expected = verdict.kind == DomainKind::Tunnel
                                     ? "dns-bad:" + std::string(verdict.service)
                                     : "dns-dga:" + domain;
    FUZZ_CHECK(alert->dedup_key == expected, alert->dedup_key);
    if (verdict.kind == DomainKind::Tunnel) {
      FUZZ_CHECK(domain.find(verdict.service) != std::string::npos, domain);
    }
    const auto doc = fuzz::read_log_line(serialise(*alert));
    fuzz::check_same_text(doc["dedup_key"].get<std::string>(), alert->dedup_key);
  }
  return 0;
}
