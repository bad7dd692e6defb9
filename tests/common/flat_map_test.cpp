// The open-addressing map behind the engine's name table, activity groups
// and missing set, checked against std::unordered_map under growth, erasure
// and emptying, with a hash that crowds keys together so that probe runs and
// backward shifts are exercised.
#include "common/flat_map.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <unordered_map>

namespace mirrow {
namespace {

// Eight distinct hashes for all keys: long probe runs that wrap around.
struct CrowdedHash {
  std::size_t operator()(std::uint64_t key) const noexcept { return key % 8; }
};

using Crowded = FlatMap<std::uint64_t, int, CrowdedHash>;

TEST(FlatMap, keeps_the_first_value_of_a_key_and_finds_every_key_inserted) {
  Crowded map;
  EXPECT_EQ(map.find(std::uint64_t{1}), nullptr);
  EXPECT_EQ(map.emplace(1, 10), 10);
  EXPECT_EQ(map.emplace(1, 11), 10);
  for (std::uint64_t k = 2; k < 200; ++k) map.emplace(k, static_cast<int>(k * 10));
  ASSERT_EQ(map.size(), 199u);
  for (std::uint64_t k = 1; k < 200; ++k) {
    const int* value = map.find(k);
    ASSERT_NE(value, nullptr) << k;
    EXPECT_EQ(*value, static_cast<int>(k * 10));
  }
  EXPECT_EQ(map.find(std::uint64_t{200}), nullptr);
}

TEST(FlatMap, agrees_with_a_standard_map_through_inserts_erasures_and_emptying) {
  Crowded map;
  std::unordered_map<std::uint64_t, int> reference;
  std::mt19937_64 random(7);
  for (int round = 0; round < 20000; ++round) {
    const std::uint64_t key = random() % 300;
    switch (random() % 8) {
      case 0: {
        const std::uint64_t below = random() % 300;
        const std::size_t removed = map.erase_if([&](const auto& entry) { return entry.first < below; });
        EXPECT_EQ(removed, std::erase_if(reference, [&](const auto& entry) { return entry.first < below; }));
        break;
      }
      case 1:
        if (random() % 50 == 0) {
          map.clear();
          reference.clear();
        }
        break;
      default:
        map.emplace(key, round);
        reference.emplace(key, round);
    }
    ASSERT_EQ(map.size(), reference.size());
    const int* found = random() % 2 ? map.find(key) : map.find_hinted(key);
    const auto expected = reference.find(key);
    ASSERT_EQ(found != nullptr, expected != reference.end()) << "key " << key << " round " << round;
    if (found != nullptr) {
      EXPECT_EQ(*found, expected->second);
    }
  }
  std::size_t walked = 0;
  for (const auto& [key, value] : map) {
    ++walked;
    EXPECT_EQ(reference.at(key), value);
  }
  EXPECT_EQ(walked, reference.size());
}

TEST(FlatMap, a_hinted_look_up_never_answers_for_an_entry_that_moved_or_went) {
  Crowded map;
  map.emplace(1, 1);
  map.emplace(2, 2);
  map.emplace(3, 3);
  ASSERT_EQ(*map.find_hinted(std::uint64_t{3}), 3);
  // Erasing 1 moves the last entry (3) into its place.
  map.erase_if([](const auto& entry) { return entry.first == 1; });
  EXPECT_EQ(map.find_hinted(std::uint64_t{1}), nullptr);
  EXPECT_EQ(*map.find_hinted(std::uint64_t{3}), 3);
  map.clear();
  EXPECT_EQ(map.find_hinted(std::uint64_t{3}), nullptr);
  map.emplace(9, 90);
  EXPECT_EQ(*map.find_hinted(std::uint64_t{9}), 90);
}

TEST(FlatMap, looks_up_text_keys_by_view_with_a_known_hash) {
  struct TextHash {
    std::size_t operator()(std::string_view s) const noexcept { return std::hash<std::string_view>{}(s); }
  };
  FlatMap<std::string, int, TextHash> map;
  map.emplace("alpha", 1);
  const std::string_view key = "alpha";
  ASSERT_NE(map.find(key, TextHash{}(key)), nullptr);
  EXPECT_EQ(*map.find(key, TextHash{}(key)), 1);
  EXPECT_EQ(map.find(std::string_view("alphabet")), nullptr);
}

}  // namespace
}  // namespace mirrow
