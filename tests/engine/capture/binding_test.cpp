// Binding maps, resolution, parking of unnamed reads and writes, and the
// unknown samples they end as.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <future>
#include <limits>
#include <mutex>
#include <thread>

#include "decode_fixture.h"
#include "engine/core/names.h"

namespace mirrow::test {
namespace {

Binding named(double start) { return Binding{nullptr, start, open_end}; }

TEST(BindingMapOrder, evicts_the_oldest_insertion_first_and_replacing_makes_an_entry_newest) {
  BindingMap map;
  map.put(1, named(1));
  map.put(2, named(2));
  map.put(3, named(3));
  map.put(1, named(4));  // replaced: now the newest
  EXPECT_TRUE(map.evict_oldest());
  EXPECT_EQ(map.find(2), nullptr);
  EXPECT_EQ(map.oldest(), 3u);
  map.erase(3);
  EXPECT_EQ(map.oldest(), 1u);
  EXPECT_TRUE(map.evict_oldest());
  EXPECT_FALSE(map.evict_oldest());
  EXPECT_TRUE(map.empty());
}

TEST(BindingMapLookup, the_entry_found_last_never_answers_for_an_identity_that_left) {
  BindingMap map;
  map.put(5, named(5));
  ASSERT_NE(map.find(5), nullptr);  // now the entry found last
  map.erase(5);
  EXPECT_EQ(map.find(5), nullptr);
  map.put(6, named(6));  // takes the freed entry
  EXPECT_EQ(map.find(5), nullptr);
  ASSERT_NE(map.find(6), nullptr);
  EXPECT_EQ(map.find(6)->start, 6.0);
  EXPECT_EQ(map.find(0), nullptr);
}

TEST(BindingMapOrder, erase_if_keeps_the_order_of_the_survivors) {
  BindingMap map;
  for (std::uint64_t id = 1; id <= 6; ++id) map.put(id, named(static_cast<double>(id)));
  EXPECT_EQ(map.erase_if([](const Binding& b) { return static_cast<int>(b.start) % 2 == 0; }), 3u);
  std::vector<std::uint64_t> order;
  while (!map.empty()) {
    order.push_back(map.oldest());
    map.evict_oldest();
  }
  EXPECT_EQ(order, (std::vector<std::uint64_t>{1, 3, 5}));
}

// Random puts, erases and evictions against a plain model: an ordered list
// of identities with their start times.
TEST(BindingMapOrder, agrees_with_a_simple_model_under_random_operations) {
  BindingMap map;
  std::vector<std::pair<std::uint64_t, double>> model;  // oldest first
  std::uint64_t state = 12345;
  auto next = [&state] {
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    return state >> 33;
  };
  auto in_model = [&model](std::uint64_t id) {
    return std::find_if(model.begin(), model.end(), [id](const auto& e) { return e.first == id; });
  };
  for (int step = 0; step < 100000; ++step) {
    // Small identities collide often; multiples of 4096 share low bits.
    const std::uint64_t id = next() % 3 == 0 ? (next() % 64 + 1) * 4096 : next() % 500 + 1;
    const auto op = next() % 10;
    if (op < 6) {
      const double start = static_cast<double>(step);
      map.put(id, Binding{nullptr, start, open_end});
      if (auto it = in_model(id); it != model.end()) model.erase(it);
      model.emplace_back(id, start);
    } else if (op < 9) {
      const auto it = in_model(id);
      ASSERT_EQ(map.erase(id), it != model.end());
      if (it != model.end()) model.erase(it);
    } else {
      ASSERT_EQ(map.evict_oldest(), !model.empty());
      if (!model.empty()) model.erase(model.begin());
    }
    ASSERT_EQ(map.size(), model.size());
    ASSERT_EQ(map.oldest(), model.empty() ? 0 : model.front().first);
    const Binding* found = map.find(id);
    const auto it = in_model(id);
    ASSERT_EQ(found != nullptr, it != model.end());
    if (found != nullptr) {
      ASSERT_EQ(found->start, it->second);
    }
  }
  for (const auto& [id, start] : model) ASSERT_EQ(map.find(id)->start, start);
}

// The identity whose hash in the binding map is hash: the hash multiplies
// by an odd constant, whose inverse modulo 2^64 Newton's iteration finds.
std::uint64_t identity_with_hash(std::uint64_t hash) {
  constexpr std::uint64_t multiplier = 0x9E3779B97F4A7C15ULL;
  std::uint64_t inverse = multiplier;
  for (int i = 0; i < 6; ++i) inverse *= 2 - multiplier * inverse;
  return hash * inverse;
}

TEST(BindingMapLookup, identities_whose_hashes_share_the_upper_half_stay_apart) {
  // Same upper half: the same slot tag and home, so only the pool's full
  // identity tells these apart, through erasures and batch evictions.
  BindingMap map;
  std::vector<std::uint64_t> ids;
  for (std::uint64_t upper : {7u, 8u}) {
    for (std::uint64_t low = 1; low <= 60; ++low) ids.push_back(identity_with_hash((upper << 32) | low));
  }
  for (std::size_t i = 0; i < ids.size(); ++i) map.put(ids[i], Binding{nullptr, double(i), open_end});
  for (std::size_t i = 0; i < ids.size(); i += 3) ASSERT_TRUE(map.erase(ids[i]));
  ASSERT_EQ(map.evict_oldest(10), 10u);  // the ten oldest that the erasures left
  std::size_t survivors = 0;
  for (std::size_t i = 0; i < ids.size(); ++i) {
    const bool erased = i % 3 == 0;
    const bool evicted = !erased && survivors++ < 10;
    const Binding* found = map.find(ids[i]);
    ASSERT_EQ(found != nullptr, !erased && !evicted) << i;
    if (found != nullptr) {
      ASSERT_EQ(found->start, double(i)) << i;
    }
  }
  EXPECT_EQ(map.size(), ids.size() - ids.size() / 3 - 10);
}

class BindingTest : public DecodeTest {
 protected:
  NameRef a = intern_name(engine.names, engine.counters, u"c:\\data\\a");
  NameRef b = intern_name(engine.names, engine.counters, u"c:\\data\\b");
  BindingMap& objects() { return engine.bindings.object_bindings; }
  std::string resolved(std::uint64_t object, std::uint64_t key, double t) {
    const Resolution r = resolve(engine.bindings, object, key, t);
    return r.name ? utf8_from_utf16((*r.name)->path) : "";
  }
};

TEST_F(BindingTest, an_older_name_never_overrides_a_newer_binding) {
  bind_name(engine.bindings, engine.counters, BindingMapId::objects, 7, a, 5);
  bind_name(engine.bindings, engine.counters, BindingMapId::objects, 7, b, 3);
  EXPECT_EQ(objects().find(7)->name, a);
  EXPECT_EQ(engine.bindings.previous_object_bindings.size(), 0u);
}

TEST_F(BindingTest, a_replaced_binding_moves_to_history_and_still_resolves_its_span) {
  bind_name(engine.bindings, engine.counters, BindingMapId::objects, 7, a, 5);
  bind_name(engine.bindings, engine.counters, BindingMapId::objects, 7, b, 8);
  EXPECT_EQ(objects().find(7)->name, b);
  const Binding* old = engine.bindings.previous_object_bindings.find(7);
  ASSERT_NE(old, nullptr);
  EXPECT_EQ(old->start, 5);
  EXPECT_EQ(old->end, 8);
  EXPECT_EQ(resolved(7, 0, 6), "c:\\data\\a");
  EXPECT_EQ(resolved(7, 0, 9), "c:\\data\\b");
  EXPECT_EQ(resolved(7, 0, 4), "");
}

TEST_F(BindingTest, binding_the_same_name_earlier_moves_the_start_back) {
  bind_name(engine.bindings, engine.counters, BindingMapId::objects, 7, a, 5);
  EXPECT_FALSE(bind_name(engine.bindings, engine.counters, BindingMapId::objects, 7, a, 2));
  EXPECT_EQ(objects().find(7)->start, 2);
}

TEST_F(BindingTest, identity_zero_and_empty_names_are_never_stored) {
  bind_name(engine.bindings, engine.counters, BindingMapId::objects, 0, a, 1);
  bind_name(engine.bindings, engine.counters, BindingMapId::objects, 9, NameRef{}, 1);
  EXPECT_TRUE(objects().empty());
}

TEST_F(BindingTest, close_narrows_only_a_binding_that_started_before_it) {
  bind_name(engine.bindings, engine.counters, BindingMapId::keys, 3, a, 10);
  close_binding(engine.bindings, BindingMapId::keys, 3, 9);
  EXPECT_EQ(engine.bindings.key_bindings.find(3)->end, open_end);
  close_binding(engine.bindings, BindingMapId::keys, 3, 12);
  EXPECT_EQ(engine.bindings.key_bindings.find(3)->end, 12);
  EXPECT_EQ(resolved(0, 3, 13), "");
}

TEST_F(BindingTest, the_object_binding_wins_over_the_key_binding) {
  bind_name(engine.bindings, engine.counters, BindingMapId::objects, 7, a, 1);
  bind_name(engine.bindings, engine.counters, BindingMapId::keys, 8, b, 1);
  EXPECT_EQ(resolved(7, 8, 2), "c:\\data\\a");
  EXPECT_EQ(resolved(6, 8, 2), "c:\\data\\b");
}

TEST_F(BindingTest, a_full_map_accepts_its_last_entry_then_evicts_a_tenth_for_the_next) {
  for (std::uint64_t id = 1; id <= binding_map_cap; ++id) bind_name(engine.bindings, engine.counters, BindingMapId::objects, id, a, 1);
  EXPECT_EQ(objects().size(), binding_map_cap);
  EXPECT_EQ(counter(Counter::mapping_evictions), 0u);
  bind_name(engine.bindings, engine.counters, BindingMapId::objects, binding_map_cap + 1, a, 1);
  EXPECT_EQ(counter(Counter::mapping_evictions), binding_eviction_batch);
  EXPECT_EQ(objects().size(), binding_map_cap - binding_eviction_batch + 1);
  EXPECT_EQ(objects().find(binding_eviction_batch), nullptr);
  EXPECT_NE(objects().find(binding_eviction_batch + 1), nullptr);
}

TEST_F(BindingTest, a_full_history_map_gives_up_one_entry_per_replacement) {
  for (std::uint64_t id = 1; id <= binding_map_cap; ++id) engine.bindings.previous_key_bindings.put(id, Binding{a, 0, 1});
  bind_name(engine.bindings, engine.counters, BindingMapId::keys, 5'000'000, a, 1);
  bind_name(engine.bindings, engine.counters, BindingMapId::keys, 5'000'000, b, 2);
  EXPECT_EQ(counter(Counter::mapping_evictions), 1u);
  EXPECT_EQ(engine.bindings.previous_key_bindings.size(), binding_map_cap);
  EXPECT_EQ(engine.bindings.previous_key_bindings.find(1), nullptr);
}

TEST_F(BindingTest, reads_in_one_two_second_bucket_merge_and_the_next_bucket_starts_a_new_entry) {
  attribute_io(engine.decoding, 7, 0, kind_read, pid, 100.2);
  attribute_io(engine.decoding, 7, 0, kind_read, pid, 101.9);
  ASSERT_EQ(engine.bindings.pending_io.size(), 1u);
  EXPECT_EQ(engine.bindings.pending_io.begin()->second.count, 2u);
  attribute_io(engine.decoding, 7, 0, kind_read, pid, 102.1);
  EXPECT_EQ(engine.bindings.pending_io.size(), 2u);
  EXPECT_EQ(counter(Counter::pending_names), 2u);
  EXPECT_EQ(counter(Counter::initial_missing), 3u);
}

TEST_F(BindingTest, the_entry_beyond_the_pending_cap_becomes_a_pending_limit_sample) {
  for (std::uint64_t id = 1; id <= pending_io_cap + 1; ++id) attribute_io(engine.decoding, id, 0, kind_write, pid, 50);
  EXPECT_EQ(engine.bindings.pending_io.size(), pending_io_cap);
  EXPECT_EQ(counter(Counter::pending_limit), 1u);
  EXPECT_EQ(counter(Counter::unattributed), 1u);
  EXPECT_EQ(sample_reasons(), std::vector<std::string>{"pending_limit"});
}

TEST_F(BindingTest, an_io_without_identities_is_never_parked) {
  attribute_io(engine.decoding, 0, 0, kind_read, pid, 50);
  EXPECT_TRUE(engine.bindings.pending_io.empty());
  EXPECT_EQ(counter(Counter::no_identity), 1u);
  EXPECT_EQ(sample_reasons(), std::vector<std::string>{"no_identity"});
}

TEST_F(BindingTest, recovery_attributes_a_parked_read_once_a_covering_name_arrives) {
  attribute_io(engine.decoding, 7, 0, kind_read, pid, 20);
  attribute_io(engine.decoding, 7, 0, kind_read, pid, 20.5);
  bind_name(engine.bindings, engine.counters, BindingMapId::objects, 7, a, 19);
  recover_pending(engine.bindings, engine.counters, engine.recorder, true);
  EXPECT_EQ(counter(Counter::late_recovered), 2u);
  EXPECT_EQ(counter(Counter::pending_names), 0u);
  const auto got = activities();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].count, 2u);
  EXPECT_EQ(got[0].first, 20);
  EXPECT_EQ(got[0].last, 20.5);
}

TEST_F(BindingTest, unforced_recovery_runs_at_most_every_quarter_second_and_gives_up_after_two_seconds) {
  attribute_io(engine.decoding, 7, 0, kind_read, pid, 20);
  advance_ms(1999);
  recover_pending(engine.bindings, engine.counters, engine.recorder, false);
  EXPECT_EQ(engine.bindings.pending_io.size(), 1u);
  advance_ms(1);
  recover_pending(engine.bindings, engine.counters, engine.recorder, false);  // within 250 ms of the last pass
  EXPECT_EQ(engine.bindings.pending_io.size(), 1u);
  advance_ms(250);
  recover_pending(engine.bindings, engine.counters, engine.recorder, false);
  EXPECT_TRUE(engine.bindings.pending_io.empty());
  EXPECT_EQ(sample_reasons(), std::vector<std::string>{"name_not_seen"});
}

TEST_F(BindingTest, a_read_before_its_binding_expires_as_newer_binding) {
  bind_name(engine.bindings, engine.counters, BindingMapId::objects, 7, a, 10);
  attribute_io(engine.decoding, 7, 0, kind_read, pid, 9);
  expire_due_pending(engine.bindings, engine.counters);
  EXPECT_EQ(engine.bindings.pending_io.size(), 1u);
  advance_ms(pending_give_up_ms);
  expire_due_pending(engine.bindings, engine.counters);
  EXPECT_EQ(counter(Counter::newer_binding), 1u);
  EXPECT_EQ(counter(Counter::unattributed), 1u);
  EXPECT_EQ(sample_reasons(), std::vector<std::string>{"newer_binding"});
}

// A host thread's expiry beside the decoding thread's parking. The scripted
// clock, when the host reads it, first lets the decoding thread park a read
// one millisecond later, then answers with the host's own, earlier time.
class ExpiryBesideParking : public BindingTest {
 protected:
  ExpiryBesideParking() {
    racing = this;
    engine.bindings.ticks = host_reading_lets_a_read_park_first;
  }
  ~ExpiryBesideParking() override {
    if (decoding.joinable()) decoding.join();
    racing = nullptr;
    decoding_thread = std::thread::id{};
  }

  static std::uint64_t host_reading_lets_a_read_park_first() {
    if (std::this_thread::get_id() == decoding_thread.load()) return scripted_now_ms + 1;
    if (racing->park_on_next_reading.exchange(false)) racing->park_on_decoding_thread();
    return scripted_now_ms;
  }

  // The read goes through the real parking path. While the host holds
  // pending_lock it cannot be parked yet: the host then goes on at once and
  // the read is parked when the host lets go.
  void park_on_decoding_thread() {
    decoding = std::thread([this] {
      decoding_thread = std::this_thread::get_id();
      std::mutex& lock = engine.bindings.pending_lock;
      const bool lock_free = lock.try_lock();
      if (lock_free) lock.unlock();
      else host_may_go_on.set_value();
      attribute_io(engine.decoding, 7, 0, kind_read, pid, 20);
      if (lock_free) host_may_go_on.set_value();
    });
    host_may_go_on.get_future().wait();
  }

  static inline ExpiryBesideParking* racing = nullptr;
  // Which thread reads the clock; the Windows build cannot describe
  // emulated thread-local data in its symbols, so no thread_local.
  static inline std::atomic<std::thread::id> decoding_thread{};
  std::atomic<bool> park_on_next_reading{false};
  std::promise<void> host_may_go_on;
  std::thread decoding;
};

TEST_F(ExpiryBesideParking, a_read_parked_after_the_host_read_the_clock_still_waits_its_two_seconds) {
  park_on_next_reading = true;
  expire_due_pending(engine.bindings, engine.counters);
  decoding.join();
  EXPECT_EQ(engine.bindings.pending_io.size(), 1u);
  EXPECT_EQ(counter(Counter::unattributed), 0u);
  EXPECT_TRUE(sample_reasons().empty());
  // Its two seconds count from its own tick count, a millisecond past the host's.
  advance_ms(pending_give_up_ms);
  expire_due_pending(engine.bindings, engine.counters);
  EXPECT_EQ(engine.bindings.pending_io.size(), 1u);
  advance_ms(1);
  expire_due_pending(engine.bindings, engine.counters);
  EXPECT_EQ(sample_reasons(), std::vector<std::string>{"name_not_seen"});
}

TEST_F(BindingTest, the_sample_ring_keeps_the_sixteen_newest_oldest_first) {
  for (std::uint32_t i = 0; i < 20; ++i) attribute_io(engine.decoding, 0, 0, kind_read, i + 1, 50);
  const auto samples = unknown_samples_snapshot(engine.bindings);
  ASSERT_EQ(samples.size(), unknown_sample_cap);
  EXPECT_EQ(samples.front().process_id, 5u);
  EXPECT_EQ(samples.back().process_id, 20u);
}

TEST_F(BindingTest, pruning_drops_long_ended_bindings_but_never_open_ones) {
  bind_name(engine.bindings, engine.counters, BindingMapId::objects, 7, a, 10);
  close_binding(engine.bindings, BindingMapId::objects, 7, 11);
  bind_name(engine.bindings, engine.counters, BindingMapId::keys, 8, b, 10);
  engine.bindings.last_prune_ticks = 0;
  prune_bindings(engine.bindings, engine.names);
  EXPECT_EQ(objects().find(7), nullptr);
  EXPECT_NE(engine.bindings.key_bindings.find(8), nullptr);
}

TEST(PendingBucket, huge_times_saturate_instead_of_overflowing) {
  EXPECT_EQ(pending_bucket(101.9), 50u);
  EXPECT_EQ(pending_bucket(1e300), std::numeric_limits<std::uint64_t>::max());
}

}  // namespace
}  // namespace mirrow::test
