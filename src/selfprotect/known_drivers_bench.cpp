// The cost of looking up one driver digest in the shipped table, for listed
// and unlisted digests alike, and of a signature verdict the trust cache
// already holds (the platform's file-metadata query left out).
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "procmeta/trust_cache.h"
#include "selfprotect/known_drivers.h"

namespace tarnwick {
namespace {

void BM_KnownDriverLookup(benchmark::State& state) {
  const auto table = known_bad_drivers();
  std::vector<Sha256> digests;
  for (size_t i = 0; i < table.size(); i += 7) {
    digests.push_back(table[i].sha256);
    Sha256 other = table[i].sha256;
    other[31] ^= 0x5A;  // almost certainly not listed
    digests.push_back(other);
  }
  size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(find_known_driver(table, digests[i]));
    i = (i + 1) % digests.size();
  }
}
BENCHMARK(BM_KnownDriverLookup);

class FixedTrust final : public FileTrust {
 public:
  std::optional<FileStamp> stamp(std::string_view) const override { return FileStamp{4096, 1}; }
  bool embedded_signature(std::string_view) const override { return true; }
  bool catalog_signature(std::string_view) const override { return false; }
};

void BM_TrustCacheHit(benchmark::State& state) {
  FixedTrust trust;
  CachedSignatureCheck check(trust);
  std::vector<std::string> paths;
  for (int i = 0; i < 1000; ++i) {
    paths.push_back("C:\\Windows\\System32\\drivers\\driver" + std::to_string(i) + ".sys");
    check.is_file_signed(paths.back());
  }
  size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(check.is_file_signed(paths[i]));
    i = (i + 1) % paths.size();
  }
}
BENCHMARK(BM_TrustCacheHit);

}  // namespace
}  // namespace tarnwick
