#include "procmeta/trust_cache.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace tarnwick {
namespace {

// Files by path, each with a stamp and which signatures it carries; every
// verification is counted.
class FakeFileTrust final : public FileTrust {
 public:
  struct File {
    FileStamp stamp;
    bool embedded = false;
    bool catalog = false;
  };
  std::map<std::string, File> files;
  mutable std::vector<std::string> verified;

  std::optional<FileStamp> stamp(std::string_view path) const override {
    auto it = files.find(std::string(path));
    if (it == files.end()) return std::nullopt;
    return it->second.stamp;
  }
  bool embedded_signature(std::string_view path) const override {
    verified.push_back("embedded " + std::string(path));
    return files.at(std::string(path)).embedded;
  }
  bool catalog_signature(std::string_view path) const override {
    verified.push_back("catalog " + std::string(path));
    return files.at(std::string(path)).catalog;
  }
};

TEST(TrustCache, EmbeddedOrCatalogSignatureCounts) {
  FakeFileTrust trust;
  trust.files["embedded.exe"] = {{1, 1}, true, false};
  trust.files["catalog.sys"] = {{2, 2}, false, true};
  trust.files["unsigned.exe"] = {{3, 3}, false, false};
  CachedSignatureCheck check(trust);
  EXPECT_TRUE(check.is_file_signed("embedded.exe"));
  EXPECT_TRUE(check.is_file_signed("catalog.sys"));
  EXPECT_FALSE(check.is_file_signed("unsigned.exe"));
  EXPECT_FALSE(check.is_file_signed("missing.exe"));
  EXPECT_FALSE(check.is_file_signed(""));
  // The catalog is only looked at when the embedded signature does not verify.
  EXPECT_EQ(trust.verified,
            (std::vector<std::string>{"embedded embedded.exe", "embedded catalog.sys",
                                      "catalog catalog.sys", "embedded unsigned.exe",
                                      "catalog unsigned.exe"}));
}

TEST(TrustCache, AVerdictHoldsUntilTheFileChanges) {
  FakeFileTrust trust;
  trust.files["a.exe"] = {{10, 100}, true, false};
  CachedSignatureCheck check(trust);
  EXPECT_TRUE(check.is_file_signed("a.exe"));
  EXPECT_TRUE(check.is_file_signed("a.exe"));
  EXPECT_EQ(trust.verified.size(), 1u);

  // Replaced by an unsigned file: a new size or a new write time is a new file.
  trust.files["a.exe"] = {{10, 101}, false, false};
  EXPECT_FALSE(check.is_file_signed("a.exe"));
  trust.files["a.exe"] = {{11, 101}, true, false};
  EXPECT_TRUE(check.is_file_signed("a.exe"));
  EXPECT_EQ(trust.verified.size(), 4u);
  EXPECT_EQ(check.cached(), 1u);
}

TEST(TrustCache, IsBoundedAndForgetsTheOldestFirst) {
  FakeFileTrust trust;
  for (int i = 0; i < 5; ++i) trust.files["f" + std::to_string(i)] = {{1, 1}, true, false};
  CachedSignatureCheck check(trust, 3);
  for (int i = 0; i < 5; ++i) check.is_file_signed("f" + std::to_string(i));
  EXPECT_EQ(check.cached(), 3u);
  trust.verified.clear();
  check.is_file_signed("f4");
  check.is_file_signed("f2");
  EXPECT_TRUE(trust.verified.empty());
  check.is_file_signed("f0");
  EXPECT_EQ(trust.verified, std::vector<std::string>{"embedded f0"});
  EXPECT_EQ(check.cached(), 3u);

  CachedSignatureCheck full(trust);
  for (int i = 0; i < 5000; ++i) {
    const std::string path = "p" + std::to_string(i);
    trust.files[path] = {{1, 1}, false, false};
    full.is_file_signed(path);
  }
  EXPECT_EQ(full.cached(), kTrustCacheEntries);
}

}  // namespace
}  // namespace tarnwick
