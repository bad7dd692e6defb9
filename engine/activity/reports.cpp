#include "engine/activity/reports.h"

#include <algorithm>
#include <stdexcept>
#include <string_view>

#include "common/clock.h"
#include "common/number_format.h"
#include "engine/core/engine_core.h"

namespace mirrow {
namespace {

void append_member(std::string& out, std::string_view key) {
  out += '"';
  out += key;
  out += "\":";
}

void append_count(std::string& out, std::string_view key, std::uint64_t value) {
  append_member(out, key);
  append_u64(out, value);
  out += ',';
}

void append_number(std::string& out, std::string_view key, double value) {
  append_member(out, key);
  append_g17(out, value);
  out += ',';
}

void append_bool(std::string& out, std::string_view key, bool value) {
  append_member(out, key);
  out += value ? "true" : "false";
  out += ',';
}

void append_counters(std::string& out, const Counters& c) {
  append_count(out, "io_total", c.get(Counter::io_total));
  append_count(out, "initial_missing", c.get(Counter::initial_missing));
  append_count(out, "late_recovered", c.get(Counter::late_recovered));
  append_count(out, "no_identity", c.get(Counter::no_identity));
  append_count(out, "name_not_seen", c.get(Counter::name_not_seen));
  append_count(out, "pending_limit", c.get(Counter::pending_limit));
  append_count(out, "pending_names", c.get(Counter::pending_names));
  append_count(out, "mapping_evictions", c.get(Counter::mapping_evictions));
  append_count(out, "unsupported", c.get(Counter::unsupported));
  append_count(out, "malformed", c.get(Counter::malformed));
  append_count(out, "newer_binding", c.get(Counter::newer_binding));
}

void append_name_and_event_figures(std::string& out, const EngineCore& engine) {
  const Counters& c = engine.counters;
  append_count(out, "name_bytes", engine.names.budget->bytes.load(std::memory_order_relaxed));
  append_count(out, "own_reads", c.get(Counter::own_reads));
  append_count(out, "own_writes", c.get(Counter::own_writes));
  append_count(out, "manifest_names", c.get(Counter::manifest_names));
  append_count(out, "classic_names", c.get(Counter::classic_names));
  append_count(out, "helper_events", c.get(Counter::helper_events));
}

void append_startup_figures(std::string& out, const StartupFigures& s) {
  append_bool(out, "system_names_enabled", s.system_names_enabled);
  append_count(out, "system_names_error", s.names_session_status);
  append_count(out, "capture_state_error", s.capture_state_status);
  append_count(out, "startup_name_losses", s.startup_name_losses);
  append_number(out, "startup_name_seconds", s.startup_name_seconds);
}

// Size of the activity queue and the age of its oldest first time. Only the
// head of the ready queue is looked at: it was drained first.
void append_queue_figures(std::string& out, ActivityStore& store) {
  std::lock_guard lock(store.activity_lock);
  double oldest = now_unix_seconds();
  for (const auto& entry : store.groups) oldest = std::min(oldest, entry.second.first);
  if (!store.ready_groups.empty()) oldest = std::min(oldest, store.ready_groups.front().first);
  append_count(out, "queued_groups", store.groups.size() + store.ready_groups.size());
  append_number(out, "queue_age", std::max(0.0, now_unix_seconds() - oldest));
}

void append_unknown_samples(std::string& out, EngineCore& engine) {
  const std::vector<UnknownSample> samples = unknown_samples_snapshot(engine);
  append_member(out, "unknown_samples");
  out += '[';
  for (std::size_t i = 0; i < samples.size(); ++i) {
    if (i > 0) out += ',';
    append_unknown_sample(out, samples[i]);
  }
  out += ']';
}

}  // namespace

StatisticsValues statistics_values(EngineCore& engine, const LiveFigures& live) {
  expire_due_pending(engine);
  if (live.live_query_failed) throw std::runtime_error("ControlTrace query failed");
  const Counters& c = engine.counters;
  StatisticsValues values{};
  for (std::size_t i = 0; i < 8; ++i) values[i] = c.get(static_cast<Counter>(i));
  values[8] = live.capture_live ? 1 : 0;
  values[9] = live.watchers_healthy ? 1 : 0;
  values[10] = engine.probe_seen.load() ? 1 : 0;
  values[11] = live.live_losses_known ? live.events_lost : engine.startup.events_lost;
  values[12] = live.live_losses_known ? live.buffers_lost : engine.startup.buffers_lost;
  return values;
}

void append_unknown_sample(std::string& out, const UnknownSample& sample) {
  out += '{';
  append_count(out, "pid", sample.process_id);
  append_count(out, "kind", sample.kind);
  append_count(out, "count", sample.count);
  append_number(out, "timestamp", sample.last);
  append_bool(out, "has_object", sample.file_object != 0);
  append_bool(out, "has_key", sample.file_key != 0);
  append_member(out, "reason");
  out += '"';
  out += sample.reason;
  out += "\"}";
}

std::string diagnostics_document(EngineCore& engine, const LiveFigures& live) {
  expire_due_pending(engine);
  std::string out;
  out.reserve(1024);
  out += '{';
  append_counters(out, engine.counters);
  append_name_and_event_figures(out, engine);
  append_startup_figures(out, engine.startup);
  append_queue_figures(out, engine.activity);
  append_number(out, "etw_cpu_seconds", live.etw_cpu_seconds);
  append_number(out, "watch_cpu_seconds", live.watch_cpu_seconds);
  append_unknown_samples(out, engine);
  out += '}';
  return out;
}

}  // namespace mirrow
