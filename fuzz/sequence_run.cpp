#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "common/paths.h"
#include "common/utf16.h"
#include "engine/api/native_engine.h"
#include "engine/core/caps.h"
#include "fuzz/sequence_drain.h"
#include "fuzz/sequence_model.h"
#include "fuzz/sequence_run.h"
#include "fuzz/sequence_script.h"

namespace mirrow::fuzz {
namespace {

std::uint64_t clock_ms = first_tick_ms;
std::uint64_t scripted_ticks() { return clock_ms; }

// Most batches a drain-until-empty may take: every group the cap allows,
// one at a time, and the empty one.
constexpr std::size_t most_drains_until_empty = caps::group_cap + 2;

// Which caps an input reached.
enum Reached : unsigned {
  reached_binding_cap = 1,     // an eviction
  reached_pending_cap = 2,     // a read or write refused
  reached_dropped = 4,         // a name or a group refused
  reached_name_table_cap = 8,  // the table full
  reached_pending_open_cap = 16,
};

struct Figures {
  std::uint64_t inputs = 0;
  std::uint64_t capped_inputs = 0;
  std::uint64_t by_cap[5] = {};
  std::uint64_t steps = 0;
  std::uint64_t steps_compared = 0;
  std::uint64_t drains = 0;
  std::uint64_t drains_compared = 0;
  std::uint64_t records = 0;
  std::uint64_t records_compared = 0;
};
Figures figures;

}  // namespace

void print_sequence_figures() {
  std::fprintf(stderr,
               "sequence_fuzz figures: %llu inputs (%llu reached a cap), %llu steps (%llu compared), %llu drains "
               "(%llu compared), %llu records (%llu compared)\n",
               static_cast<unsigned long long>(figures.inputs), static_cast<unsigned long long>(figures.capped_inputs),
               static_cast<unsigned long long>(figures.steps), static_cast<unsigned long long>(figures.steps_compared),
               static_cast<unsigned long long>(figures.drains), static_cast<unsigned long long>(figures.drains_compared),
               static_cast<unsigned long long>(figures.records),
               static_cast<unsigned long long>(figures.records_compared));
  std::fprintf(stderr,
               "sequence_fuzz caps reached: binding %llu, pending %llu, name or group refused %llu, name table %llu, "
               "pending opens %llu inputs\n",
               static_cast<unsigned long long>(figures.by_cap[0]), static_cast<unsigned long long>(figures.by_cap[1]),
               static_cast<unsigned long long>(figures.by_cap[2]), static_cast<unsigned long long>(figures.by_cap[3]),
               static_cast<unsigned long long>(figures.by_cap[4]));
}

namespace {

[[noreturn]] void fail(std::size_t step, const std::string& what) {
  std::fprintf(stderr, "sequence_fuzz: step %zu: %s\n", step, what.c_str());
  std::fflush(stderr);
  std::abort();
}

bool activity_event(std::uint16_t id) {
  return id == event_id::read || id == event_id::write || id == event_id::create_new_file ||
         id == event_id::delete_path || id == event_id::rename_path || id == event_id::operation_end;
}

bool normalised(std::u16string_view path) {
  for (const char16_t unit : path) {
    if (unit == u'/' || (unit >= u'A' && unit <= u'Z')) return false;
  }
  return path.size() <= 3 || path.back() != u'\\';
}

struct RootSeen {
  std::int64_t id;
  std::u16string path;
};

class SequenceRun {
 public:
  SequenceRun() : engine_(std::make_unique<NativeEngine>()), model_(&clock_ms) {
    clock_ms = first_tick_ms;
    engine_->set_own_pid(own_pid);
    engine_->set_tick_source(&scripted_ticks);
    engine_->map_device(mapped_device, mapped_drive);
    engine_->add_root(1, first_root, false);
    engine_->add_missing(first_missing);
    engine_->set_probe(first_probe);
    model_.set_own_pid(own_pid);
    model_.map_device(mapped_device, mapped_drive);
    model_.add_root(1, first_root, false);
    model_.add_missing(first_missing);
    roots_.push_back(RootSeen{1, normalize_path(first_root)});
  }

  void run(const std::vector<Step>& steps) {
    for (step_ = 0; step_ < steps.size(); ++step_) {
      perform(steps[step_]);
      check_after_step();
    }
    destroy();
    ++figures.inputs;
    figures.capped_inputs += capped_ ? 1 : 0;
    for (unsigned bit = 0; bit < 5; ++bit) figures.by_cap[bit] += (reached_ >> bit) & 1u;
  }

 private:
  void perform(const Step& s) {
    switch (s.op) {
      case Op::kernel_event: return kernel_event(s);
      case Op::classic_name: return classic_name(s);
      case Op::drain: return (void)drain_once();
      case Op::drain_until_empty: return drain_until_empty();
      case Op::advance_clock: clock_ms += s.amount; return;
      case Op::skip_events: return skip_events(s.amount);
      case Op::expire_due:
        engine_->expire_due_pending();
        return model_.expire_due();
      case Op::test_recovery: return same_status("vt_test_recovery", engine_->test_recovery(s.flag), model_.test_recovery(s.flag));
      case Op::start_or_stop: return start_or_stop(s.flag);
      case Op::add_root: return add_root(s);
      case Op::add_exclusion: return add_exclusion(s);
      case Op::missing: return missing(s.choice);
      case Op::probe:
        // No output tells whether the probe was seen; the step only moves
        // the engine's probe between other steps.
        return engine_->set_probe(probe_choices[s.choice] != nullptr ? probe_choices[s.choice] : u"");
      case Op::test_emit: return test_emit(s);
    }
  }

  // ---- kernel and classic events ---------------------------------------------

  static double replay_time(const Step& s) {
    if (s.damage != Damage::bad_time) return SequenceModel::unix_seconds(s.filetime);
    return s.not_a_number ? std::numeric_limits<double>::quiet_NaN() : -1.0;
  }

  void fed(const Step& s, std::uint64_t times) {
    events_fed_ += times;
    if (activity_event(s.id)) activity_fed_ += times;
  }

  void kernel_event(const Step& s) {
    const test::Bytes payload = payload_of(s);
    if (engine_->running()) {
      if (s.plain_decoder) refused_replay(s, payload);
      LiveEvent live;
      live.id = s.id;
      live.version = s.version;
      live.pid = s.pid;
      live.filetime = s.damage == Damage::bad_time ? 0 : s.filetime;
      live.payload = payload.data();
      live.length = static_cast<std::uint16_t>(payload.size());
      engine_->deliver(live);
      model_.decode(s, SequenceModel::unix_seconds(live.filetime));
      return fed(s, 1);
    }
    const double t = replay_time(s);
    if (s.repeat > 1) {
      same_status("vt_replay_many",
                  engine_->replay_many(s.id, s.version, s.pid, t, payload.data(), payload.size(), s.repeat), 0);
      for (std::uint32_t i = 0; i < s.repeat; ++i) model_.decode(s, t);
      return fed(s, s.repeat);
    }
    if (s.plain_decoder) {
      engine_->replay(s.id, s.version, s.pid, t, payload.data(), payload.size());
      model_.decode(s, t);
      return fed(s, 1);
    }
    same_status("vt_replay", engine_->host_replay(s.id, s.version, s.pid, t, payload.data(), payload.size()),
                model_.host_replay(s, t));
    fed(s, 1);
  }

  // vt_replay while running is refused and changes nothing.
  void refused_replay(const Step& s, const test::Bytes& payload) {
    const std::uint64_t events = engine_->counter("events");
    const std::uint32_t status =
        engine_->host_replay(s.id, s.version, s.pid, replay_time(s), payload.data(), payload.size());
    if (status != 87 || engine_->counter("events") != events) fail(step_, "vt_replay was not refused while running");
    same_status("vt_replay", status, model_.host_replay(s, replay_time(s)));
  }

  void classic_name(const Step& s) {
    const test::Bytes payload = payload_of(s);
    LiveEvent live;
    live.provider = LiveProvider::classic_file_io;
    live.opcode = s.opcode;
    live.pid = s.pid;
    live.filetime = s.damage == Damage::bad_time ? 0 : s.filetime;
    live.payload = payload.data();
    live.length = static_cast<std::uint16_t>(payload.size());
    engine_->deliver(live);
    model_.classic(s);
  }

  // Ignored events up to the next multiple of the count: the prune and the
  // recovery pass run by the event count.
  void skip_events(std::uint64_t multiple) {
    const std::uint64_t count = multiple - engine_->counter("events") % multiple;
    Step ignored;
    ignored.op = Op::kernel_event;
    ignored.id = event_id::ignored;
    const double t = SequenceModel::unix_seconds(first_event_filetime);
    if (engine_->running()) {
      LiveEvent live;
      live.id = event_id::ignored;
      live.pid = 700;
      live.filetime = first_event_filetime;
      for (std::uint64_t i = 0; i < count; ++i) engine_->deliver(live);
    } else {
      same_status("vt_replay_many",
                  engine_->replay_many(event_id::ignored, 0, 700, t, nullptr, 0, static_cast<std::uint32_t>(count)), 0);
    }
    for (std::uint64_t i = 0; i < count; ++i) model_.decode(ignored, t);
    events_fed_ += count;
  }

  // ---- host steps -------------------------------------------------------------

  void start_or_stop(bool again) {
    if (!engine_->running()) {
      return same_status("vt_start", engine_->start(again), model_.start(again));
    }
    if (again) same_status("a second vt_start", engine_->start(false), model_.start(false));
    engine_->stop();
    model_.stop();
  }

  void add_root(const Step& s) {
    const RootChoice& root = root_choices[s.choice];
    const std::uint32_t status = engine_->add_root(root.id, root.path, s.flag);
    same_status("vt_root", status, model_.add_root(root.id, root.path, s.flag));
    if (status == 0) roots_.push_back(RootSeen{root.id, normalize_path(root.path)});
  }

  void add_exclusion(const Step& s) {
    const char16_t* path = exclusion_choices[s.choice];
    const std::uint32_t status = engine_->add_exclusion(path);
    same_status("vt_exclude", status, model_.add_exclusion(path));
    if (status == 0) exclusions_.push_back(normalize_path(path));
  }

  void missing(std::size_t choice) {
    if (choice < std::size(missing_choices)) {
      engine_->add_missing(missing_choices[choice]);
      return model_.add_missing(missing_choices[choice]);
    }
    engine_->clear_missing();
    model_.clear_missing();
  }

  void test_emit(const Step& s) {
    const double t = s.not_a_number ? std::numeric_limits<double>::quiet_NaN() : SequenceModel::unix_seconds(s.filetime);
    const std::uint32_t status = engine_->test_emit(s.path, s.emit_kind, s.pid, t);
    same_status("vt_test_emit", status, model_.test_emit(s.path, s.emit_kind, s.pid, t));
    if (status == 0) ++activity_fed_;
  }

  void same_status(const char* what, std::uint32_t engine, std::uint32_t model) {
    if (engine != model) {
      fail(step_, std::string(what) + " returned " + std::to_string(engine) + ", the model " + std::to_string(model));
    }
  }

  // ---- drains ------------------------------------------------------------------

  // One batch; how many records it held.
  std::size_t drain_once() {
    const std::string text(engine_->drain());
    std::string why;
    const std::vector<DrainRecord> records = read_drain(text, why);
    if (!why.empty()) fail(step_, why + ": " + text.substr(0, 400));
    for (const DrainRecord& record : records) check_record(record);
    ++figures.drains;
    figures.records += records.size();
    if (!capped_) {
      const std::string differs = model_.take_drain(records);
      if (!differs.empty()) fail(step_, "the drain differs from the model's: " + differs);
      ++figures.drains_compared;
      figures.records_compared += records.size();
    }
    for (const DrainRecord& record : records) drained_ += record.count;
    if (drained_ > activity_fed_) {
      fail(step_, "drains handed out " + std::to_string(drained_) + " counts for " + std::to_string(activity_fed_) +
                      " events and emits that make activity");
    }
    return records.size();
  }

  void drain_until_empty() {
    for (std::size_t i = 0; i < most_drains_until_empty; ++i) {
      if (drain_once() == 0) return;
    }
    fail(step_, "the drain did not come back empty after every group the cap allows");
  }

  void check_record(const DrainRecord& r) {
    const std::string shown = describe(r);
    if (r.kind < 1 || r.kind > 10 || r.count == 0 || r.pid == own_pid || !r.second.empty()) {
      fail(step_, "a drained record has an impossible kind, count, process or second path: " + shown);
    }
    if (!std::isfinite(r.first) || !std::isfinite(r.last) || r.first > r.last) {
      fail(step_, "a drained record's times are out of order: " + shown);
    }
    if (!normalised(r.name)) fail(step_, "a drained path is not in the normal form: " + shown);
    bool inside = false;
    for (const RootSeen& root : roots_) inside = inside || (root.id == r.root && is_under(r.name, root.path));
    if (!inside) fail(step_, "a drained path is not inside a root of its root id: " + shown);
    for (std::size_t i = 0; i < exclusions_in_force_; ++i) {
      if (is_under(r.name, exclusions_[i])) fail(step_, "a drained path is inside an exclusion: " + shown);
    }
  }

  // ---- after every step ------------------------------------------------------

  void check_after_step() {
    const auto all = engine_->counters();
    if (all.size() != counter_count) fail(step_, "the engine has " + std::to_string(all.size()) + " counters");
    ModelCounters now{};
    for (std::size_t i = 0; i < counter_count; ++i) {
      if (all[i].first != model_counter_keys[i]) fail(step_, "the counters come in another order");
      now[i] = all[i].second;
      if (i != at(Count::pending_names) && now[i] < previous_[i]) {
        fail(step_, std::string("the counter ") + model_counter_keys[i] + " went down from " +
                        std::to_string(previous_[i]) + " to " + std::to_string(now[i]));
      }
    }
    previous_ = now;
    if (now[0] != events_fed_) {
      fail(step_, "events is " + std::to_string(now[0]) + " after " + std::to_string(events_fed_) + " events fed");
    }
    const NativeEngineSizes sizes = engine_->sizes();
    check_caps(sizes);
    note_caps_reached(now, sizes);
    // Every group held now was made after the engine last held none: it
    // must lie outside every exclusion of that moment.
    if (sizes.open_groups + sizes.ready_groups == 0) exclusions_in_force_ = exclusions_.size();
    ++figures.steps;
    if (capped_) return;
    compare_with_model(now, sizes);
    ++figures.steps_compared;
  }

  void check_caps(const NativeEngineSizes& s) {
    const bool within = s.object_bindings <= caps::binding_map_cap && s.key_bindings <= caps::binding_map_cap &&
                        s.previous_object_bindings <= caps::binding_map_cap &&
                        s.previous_key_bindings <= caps::binding_map_cap && s.pending_io <= caps::pending_io_cap &&
                        s.pending_opens <= caps::pending_open_cap && s.names <= caps::name_table_capacity &&
                        s.open_groups + s.ready_groups <= caps::group_cap &&
                        s.names_held_by_table_alone <= s.names &&
                        s.name_bytes <= caps::name_budget_limit + 64;
    if (!within) fail(step_, "a container is beyond its cap");
  }

  void note_caps_reached(const ModelCounters& counters, const NativeEngineSizes& s) {
    if (counters[at(Count::mapping_evictions)] != 0) reached_ |= reached_binding_cap;
    if (counters[at(Count::pending_limit)] != 0) reached_ |= reached_pending_cap;
    if (counters[at(Count::dropped)] != 0) reached_ |= reached_dropped;
    // The next new name or pending open may empty a table that is full now.
    if (s.names >= caps::name_table_capacity) reached_ |= reached_name_table_cap;
    if (s.pending_opens >= caps::pending_open_cap) reached_ |= reached_pending_open_cap;
    capped_ = reached_ != 0;
  }

  void compare_with_model(const ModelCounters& counters, const NativeEngineSizes& s) {
    const ModelCounters& expected = model_.counters();
    for (std::size_t i = 0; i < counter_count; ++i) {
      const std::uint64_t want = expected[i];
      if (counters[i] != want) {
        fail(step_, std::string("the counter ") + model_counter_keys[i] + " is " + std::to_string(counters[i]) +
                        ", the model's " + std::to_string(want));
      }
    }
    const ModelSizes m = model_.sizes();
    const std::pair<const char*, std::pair<std::size_t, std::size_t>> sizes[] = {
        {"object bindings", {s.object_bindings, m.object_bindings}},
        {"key bindings", {s.key_bindings, m.key_bindings}},
        {"previous object bindings", {s.previous_object_bindings, m.previous_object_bindings}},
        {"previous key bindings", {s.previous_key_bindings, m.previous_key_bindings}},
        {"pending reads and writes", {s.pending_io, m.pending_io}},
        {"pending opens", {s.pending_opens, m.pending_opens}},
        {"open groups", {s.open_groups, m.open_groups}},
        {"ready groups", {s.ready_groups, m.ready_groups}},
    };
    for (const auto& [what, pair] : sizes) {
      if (pair.first != pair.second) {
        fail(step_, std::string("the engine holds ") + std::to_string(pair.first) + " " + what + ", the model " +
                        std::to_string(pair.second));
      }
    }
  }

  // vt_destroy: the stop sequence, then the engine goes. Every name it made
  // must be gone with it.
  void destroy() {
    engine_->stop();
    const NameMemoryWatch names = engine_->watch_name_memory();
    engine_.reset();
    if (names.other_holders() != 0 || names.charged_bytes() != 0) {
      fail(step_, "after the engine's end " + std::to_string(names.other_holders()) + " holders keep the name budget, " +
                      std::to_string(names.charged_bytes()) + " bytes still charged");
    }
  }

  std::unique_ptr<NativeEngine> engine_;
  SequenceModel model_;
  std::size_t step_ = 0;
  bool capped_ = false;
  unsigned reached_ = 0;  // Reached bits
  std::uint64_t events_fed_ = 0;
  std::uint64_t activity_fed_ = 0;  // events and emits that can make one count of activity
  std::uint64_t drained_ = 0;
  ModelCounters previous_{};
  std::vector<RootSeen> roots_;
  std::vector<std::u16string> exclusions_;
  std::size_t exclusions_in_force_ = 0;
};

}  // namespace

void run_sequence(const std::vector<Step>& steps) {
  SequenceRun run;
  run.run(steps);
}

}  // namespace mirrow::fuzz
