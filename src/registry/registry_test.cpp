#include <gtest/gtest.h>

#include "registry/registry_contract.h"
#include "registry/registry_fake.h"

namespace tarnwick {
namespace {

class FakeArranger final : public testing::RegistryArranger {
 public:
  explicit FakeArranger(testing::FakeRegistry& registry) : registry_(registry) {}
  void create_key(const std::string& subkey) override {
    registry_.create_key(Hive::CurrentUser, subkey);
  }
  void set_raw(const std::string& subkey, const std::string& name, const std::string& bytes,
               testing::RegType) override {
    registry_.set_value(Hive::CurrentUser, subkey, name, bytes);
  }

 private:
  testing::FakeRegistry& registry_;
};

constexpr const char* kRoot = "Software\\TarnwickTest\\Registry";

class FakeRegistryContract : public ::testing::Test {
 protected:
  testing::FakeRegistry registry;
  FakeArranger arrange{registry};
};

TEST_F(FakeRegistryContract, Listing) {
  testing::check_listing(registry, arrange, kRoot);
}
TEST_F(FakeRegistryContract, TextValues) {
  testing::check_text_values(registry, arrange, kRoot);
}
TEST_F(FakeRegistryContract, NumberValues) {
  testing::check_u32_values(registry, arrange, kRoot);
}
TEST_F(FakeRegistryContract, NumberWrite) {
  testing::check_u32_write(registry, registry, arrange, kRoot);
}
TEST_F(FakeRegistryContract, ChangeWatch) {
  testing::check_change_watch(registry, arrange, kRoot);
}

}  // namespace
}  // namespace tarnwick

namespace tarnwick {
namespace {

TEST(RegistryPlace, HiveTextsOfRemediations) {
  const std::string sid = "S-1-5-21-1-2-3-1001";
  const std::string run = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
  struct Case {
    std::string hive;
    std::optional<RegistryPlace> place;
  } cases[] = {
      {"HKLM", RegistryPlace{Hive::LocalMachine, run}},
      {"HKCU", RegistryPlace{Hive::CurrentUser, run}},
      {"HKU\\" + sid, RegistryPlace{Hive::Users, sid + "\\" + run}},
      {"HKU\\S-1-12-1-9-8-7-6", RegistryPlace{Hive::Users, "S-1-12-1-9-8-7-6\\" + run}},
      // Never another hive for a malformed HKU text.
      {"HKU", std::nullopt},
      {"HKU\\", std::nullopt},
      {"HKU\\S-1-5-18", std::nullopt},
      {"HKU\\" + sid + "_Classes", std::nullopt},
      {"HKU\\" + sid + "\\Software", std::nullopt},
      {"HKU\\..\\" + sid, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.hive);
    EXPECT_EQ(registry_place(c.hive, run), c.place);
  }
  EXPECT_EQ(registry_place("HKU\\" + sid, ""), std::nullopt) << "never the hive's root";
}

}  // namespace
}  // namespace tarnwick
