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
