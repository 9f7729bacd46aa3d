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

TEST(ListingCompleteness, ByTheCountsAroundTheWalk) {
  struct Case {
    const char* name;
    std::optional<uint32_t> before;
    std::optional<uint32_t> after;
    std::optional<uint64_t> written_after;  // written before is 7
    size_t reads;
    NameSet names;
    bool ended;
    bool complete;
  };
  const Case cases[] = {
      {"all read, nothing changed", 3, 3, 7, 3, {"a", "b", "c"}, true, true},
      {"empty key", 0, 0, 7, 0, {}, true, true},
      {"a name created during the walk", 3, 4, 7, 3, {"a", "b", "c"}, true, false},
      {"a name deleted during the walk", 3, 2, 7, 2, {"a", "c"}, true, false},
      {"one created and one deleted: a name read twice", 3, 3, 7, 3, {"a", "b"}, true, false},
      {"one skipped though the counts agree", 3, 3, 7, 2, {"a", "c"}, true, false},
      {"more read than counted", 2, 2, 7, 3, {"a", "b", "c"}, true, false},
      {"stopped by an error", 3, 3, 7, 3, {"a", "b", "c"}, false, false},
      {"count before unknown", std::nullopt, 3, 7, 3, {"a", "b", "c"}, true, false},
      {"a name made and removed again: same counts, new write time", 3, 3, 8, 3, {"0tmp", "b", "c"},
       true, false},
      {"write time unknown", 3, 3, std::nullopt, 3, {"a", "b", "c"}, true, false},
      {"count after unknown", 3, std::nullopt, 7, 3, {"a", "b", "c"}, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    NameWalk walk;
    walk.count_before = c.before;
    walk.count_after = c.after;
    walk.written_before = 7;
    walk.written_after = c.written_after;
    walk.names_read = c.reads;
    walk.names = c.names;
    walk.ended = c.ended;
    EXPECT_EQ(walk_is_complete(walk), c.complete);
  }
}

TEST(ListingCompleteness, WalksAgainUpToThreeTimesThenGivesNothing) {
  for (int incomplete = 0; incomplete <= kListingTries; ++incomplete) {
    SCOPED_TRACE(incomplete);
    int walks = 0;
    const auto listing = complete_listing([&] {
      NameWalk walk;
      walk.count_before = 1;
      walk.count_after = walks++ < incomplete ? 2 : 1;
      walk.written_before = walk.written_after = 1;
      walk.names = {"a"};
      walk.names_read = 1;
      walk.ended = true;
      return walk;
    });
    if (incomplete < kListingTries) {
      EXPECT_EQ(listing, NameSet{"a"});
      EXPECT_EQ(walks, incomplete + 1);
    } else {
      EXPECT_EQ(listing, std::nullopt);
      EXPECT_EQ(walks, kListingTries);
    }
  }
}

// The fake lists through the same check: a walk raced by a writer misses a
// name, and only a complete one counts. A key that is missing is empty; one
// that cannot be opened or walked to the end gives nothing.
TEST(FakeRegistryListing, TellsEmptyFromFailed) {
  testing::FakeRegistry registry;
  const std::string key = "Software\\T";
  registry.create_key(Hive::LocalMachine, key + "\\A");
  registry.create_key(Hive::LocalMachine, key + "\\B");
  registry.disturb_walks(Hive::LocalMachine, key, kListingTries - 1);
  EXPECT_EQ(registry.subkey_names(Hive::LocalMachine, key), (NameSet{"A", "B"}));
  registry.disturb_walks(Hive::LocalMachine, key, kListingTries);
  EXPECT_EQ(registry.subkey_names(Hive::LocalMachine, key), std::nullopt);
  EXPECT_EQ(registry.subkey_names(Hive::LocalMachine, key), (NameSet{"A", "B"}));

  EXPECT_EQ(registry.subkey_names(Hive::LocalMachine, "Software\\Missing"), NameSet{});
  registry.fail_open(Hive::LocalMachine, key);
  EXPECT_EQ(registry.subkey_names(Hive::LocalMachine, key), std::nullopt);
  registry.fail_open(Hive::LocalMachine, key, false);
  registry.fail_enumeration_at(Hive::LocalMachine, key, 1);
  EXPECT_EQ(registry.subkey_names(Hive::LocalMachine, key), std::nullopt);
}

TEST(ValueNames, ANulInsideANameIsShownAndNeverLost) {
  EXPECT_EQ(shown_value_name(std::string("Evil\0x", 6)), "Evil\\0x");
  EXPECT_EQ(shown_value_name(std::string("\0", 1)), "\\0");
  EXPECT_EQ(shown_value_name("Plain"), "Plain");
  EXPECT_TRUE(value_name_round_trips(std::string("Evil\0x", 6)));
  EXPECT_TRUE(value_name_round_trips("J\u00fcrgen \u2603"));
  EXPECT_FALSE(value_name_round_trips("a\uFFFDb"));
  EXPECT_FALSE(value_name_round_trips("\xC3"));
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
