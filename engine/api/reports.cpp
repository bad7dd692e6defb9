#include "engine/api/reports.h"

#include <algorithm>
#include <stdexcept>
#include <string_view>

#include "common/clock.h"
#include "common/json_writer.h"
#include "engine/api/engine_core.h"

namespace mirrow {
namespace {

void append_counters(JsonWriter& json, const Counters& c) {
  json.key("io_total").u64(c.get(Counter::io_total));
  json.key("initial_missing").u64(c.get(Counter::initial_missing));
  json.key("late_recovered").u64(c.get(Counter::late_recovered));
  json.key("no_identity").u64(c.get(Counter::no_identity));
  json.key("name_not_seen").u64(c.get(Counter::name_not_seen));
  json.key("pending_limit").u64(c.get(Counter::pending_limit));
  json.key("pending_names").u64(c.get(Counter::pending_names));
  json.key("mapping_evictions").u64(c.get(Counter::mapping_evictions));
  json.key("unsupported").u64(c.get(Counter::unsupported));
  json.key("malformed").u64(c.get(Counter::malformed));
  json.key("newer_binding").u64(c.get(Counter::newer_binding));
}

void append_name_and_event_figures(JsonWriter& json, const EngineCore& engine) {
  const Counters& c = engine.counters;
  json.key("name_bytes").u64(engine.names.budget->bytes.load(std::memory_order_relaxed));
  json.key("own_reads").u64(c.get(Counter::own_reads));
  json.key("own_writes").u64(c.get(Counter::own_writes));
  json.key("manifest_names").u64(c.get(Counter::manifest_names));
  json.key("classic_names").u64(c.get(Counter::classic_names));
  json.key("helper_events").u64(c.get(Counter::helper_events));
}

void append_startup_figures(JsonWriter& json, const StartupFigures& s) {
  json.key("system_names_enabled").boolean(s.system_names_enabled);
  json.key("system_names_error").u64(s.names_session_status);
  json.key("capture_state_error").u64(s.capture_state_status);
  json.key("startup_name_losses").u64(s.startup_name_losses);
  json.key("startup_name_seconds").g17(s.startup_name_seconds);
}

// Size of the activity queue and the age of its oldest first time. Only the
// head of the ready queue is looked at: it was drained first.
void append_queue_figures(JsonWriter& json, ActivityStore& store) {
  std::lock_guard lock(store.activity_lock);
  double oldest = now_unix_seconds();
  for (const auto& entry : store.groups) oldest = std::min(oldest, entry.second.first);
  if (!store.ready_groups.empty()) oldest = std::min(oldest, store.ready_groups.front().first);
  json.key("queued_groups").u64(store.groups.size() + store.ready_groups.size());
  json.key("queue_age").g17(std::max(0.0, now_unix_seconds() - oldest));
}

void append_unknown_samples(JsonWriter& json, BindingState& bindings) {
  const std::vector<UnknownSample> samples = unknown_samples_snapshot(bindings);
  json.key("unknown_samples").begin_array();
  for (const UnknownSample& sample : samples) append_unknown_sample(json, sample);
  json.end_array();
}

}  // namespace

StatisticsValues statistics_values(EngineCore& engine, const LiveFigures& live) {
  expire_due_pending(engine.bindings, engine.counters);
  if (live.live_query_failed) throw std::runtime_error("ControlTrace query failed");
  const Counters& c = engine.counters;
  StatisticsValues values{};
  for (std::size_t i = 0; i < 8; ++i) values[i] = c.get(static_cast<Counter>(i));
  values[8] = live.capture_live ? 1 : 0;
  values[9] = live.watchers_healthy ? 1 : 0;
  values[10] = engine.probe.probe_seen.load() ? 1 : 0;
  values[11] = live.live_losses_known ? live.events_lost : engine.startup.events_lost;
  values[12] = live.live_losses_known ? live.buffers_lost : engine.startup.buffers_lost;
  return values;
}

void append_unknown_sample(JsonWriter& json, const UnknownSample& sample) {
  json.begin_object()
      .key("pid").u64(sample.process_id)
      .key("kind").u64(sample.kind)
      .key("count").u64(sample.count)
      .key("timestamp").g17(sample.last)
      .key("has_object").boolean(sample.file_object != 0)
      .key("has_key").boolean(sample.file_key != 0)
      .key("reason").word(sample.reason)
      .end_object();
}

std::string diagnostics_document(EngineCore& engine, const LiveFigures& live) {
  expire_due_pending(engine.bindings, engine.counters);
  std::string out;
  out.reserve(1024);
  JsonWriter json(out);
  json.begin_object();
  append_counters(json, engine.counters);
  append_name_and_event_figures(json, engine);
  append_startup_figures(json, engine.startup);
  append_queue_figures(json, engine.activity);
  json.key("etw_cpu_seconds").g17(live.etw_cpu_seconds);
  json.key("watch_cpu_seconds").g17(live.watch_cpu_seconds);
  append_unknown_samples(json, engine.bindings);
  json.end_object();
  return out;
}

}  // namespace mirrow
