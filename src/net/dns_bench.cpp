// The cost of judging one queried name, over a mix like a desktop's resolver
// sees: mostly popular names (CDNs, cloud services, telemetry), some with
// trailing dots or capitals, a few listed tunnel services and generated names.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "net/dns.h"

namespace tarnwick {
namespace {

const std::vector<std::string>& name_mix() {
  static const std::vector<std::string> names = {
      "www.google.com",
      "fonts.gstatic.com",
      "login.microsoftonline.com",
      "settings-win.data.microsoft.com",
      "v10.events.data.microsoft.com",
      "ctldl.windowsupdate.com",
      "officeclient.microsoft.com.",
      "edge.microsoft.com",
      "www.bing.com",
      "outlook.office365.com",
      "graph.microsoft.com",
      "github.com",
      "api.github.com",
      "objects.githubusercontent.com",
      "registry.npmjs.org",
      "pypi.org",
      "files.pythonhosted.org",
      "d3c33hcgiwev3.cloudfront.net",
      "s3.us-east-1.amazonaws.com",
      "dynamodb.eu-central-1.amazonaws.com",
      "r3---sn-4g5ednsz.googlevideo.com",
      "i.ytimg.com",
      "static.xx.fbcdn.net",
      "www.wikipedia.org",
      "upload.wikimedia.org",
      "cdn.jsdelivr.net",
      "ajax.googleapis.com",
      "WPAD.corp.example.COM.",
      "_ldap._tcp.dc._msdcs.corp.example.com",
      "time.windows.com",
      "slscr.update.microsoft.com",
      "ocsp.digicert.com",
      "accounts.spotify.com",
      "discord.com",
      "gateway.discord.gg",
      "teams.microsoft.com",
      "dns.msftncsi.com",
      "localhost",
      // Listed services.
      "a1b2-203-0-113-7.ngrok-free.app",
      "quiet-river-1234.trycloudflare.com",
      "myhome.duckdns.org",
      // Generated-looking names.
      "xkqjzvbnrtplwmhd.com",
      "bq7x9k2mz4t8w1vr.net",
      "a93jf02kd81nx7q4.info",
  };
  return names;
}

void BM_ClassifyDomainMix(benchmark::State& state) {
  const auto& names = name_mix();
  std::string scratch;
  size_t flagged = 0;
  for (auto _ : state) {
    for (const std::string& name : names) {
      const DomainVerdict v = classify_domain(name, scratch);
      flagged += v.kind != DomainKind::Clean;
      benchmark::DoNotOptimize(v.domain.data());
    }
  }
  const auto count = static_cast<double>(state.iterations() * names.size());
  state.counters["ns_per_name"] =
      benchmark::Counter(count, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  state.counters["flagged_share"] = static_cast<double>(flagged) / count;
}
BENCHMARK(BM_ClassifyDomainMix)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace tarnwick
