#!/usr/bin/env bash
# Runs the build-like mix side by side: this tree against BASE_REF (default
# 802c50e), built the same way, in one run. The base is checked out with
# `git worktree add` into a temporary folder and gets this tree's bench/mix
# sources (and bench/thread_cpu.h). They reach the engine only through the
# narrow entry engine/api/native_engine.h; a base without it gets that header
# and an implementation written against its own internals (below), and the
# test-support headers the sources name are looked up where the base keeps
# them.
#
#   bench/mix/run_side_by_side.sh [BASE_REF] [--native-only] [--events N] [--rounds N]
#
# Natively each tree gets a RelWithDebInfo build without sanitizers; with
# Wine, the windows-x64 preset builds Vantrel.dll and mix_bench_win.exe.
# Each round runs the base, then this tree; the best round of each is
# compared, which keeps the noise of a shared machine out of the ratio.
set -euo pipefail
here="$(cd "$(dirname "$0")/../.." && pwd)"
base_ref=802c50e
native_only=0
events=""
rounds=3
while [ $# -gt 0 ]; do
  case "$1" in
    --native-only) native_only=1 ;;
    --events) events="$2"; shift ;;
    --rounds) rounds="$2"; shift ;;
    -*) echo "usage: $0 [BASE_REF] [--native-only] [--events N] [--rounds N]" >&2; exit 2 ;;
    *) base_ref="$1" ;;
  esac
  shift
done

base="$(mktemp -d /tmp/mix-base.XXXXXX)"
cleanup() { git -C "$here" worktree remove --force "$base/tree" >/dev/null 2>&1 || true; rm -rf "$base"; }
trap cleanup EXIT

# The narrow entry for a base that predates it: this tree's header, and the
# part of it the mix uses implemented on 802c50e's engine core (its internals
# then lived under engine/api and engine/activity).
# This repeats part of engine/api/native_engine.cpp on purpose, and stays:
# it is written against the old tree's internals, which this tree no longer
# has, so it can neither include nor share this tree's implementation. Only
# a base without engine/api/native_engine.h uses it (802c50e and older).
supply_native_entry() {
  cp "$here/engine/api/native_engine.h" "$base/tree/engine/api/native_engine.h"
  {
    printf '#include "%s"\n' engine/api/native_engine.h
    echo
    printf '#include <%s>\n' stdexcept string
    echo
    # The base's own headers, where 802c50e keeps them.
    printf '#include "%s"\n' engine/activity/configuration.h engine/activity/drain_format.h \
      engine/api/engine_core.h engine/capture/decoder.h
    cat <<'EOF'

namespace mirrow {

std::uint64_t counter_by_key(const EngineCore& core, std::string_view key) {
  if (key == "io_total") return core.counters.get(Counter::io_total);
  if (key == "errors") return core.counters.get(Counter::errors);
  if (key == "unattributed") return core.counters.get(Counter::unattributed);
  if (key == "dropped") return core.counters.get(Counter::dropped);
  throw std::invalid_argument("no engine counter is named " + std::string(key));
}

NativeEngine::NativeEngine() : core_(std::make_unique<EngineCore>()) {}
NativeEngine::~NativeEngine() = default;

void NativeEngine::set_own_pid(std::uint32_t pid) { core_->own_pid = pid; }

void NativeEngine::map_device(std::u16string_view device, std::u16string_view drive) {
  core_->device_map.push_back(DeviceMapping{std::u16string(device), std::u16string(drive)});
  sort_device_map(core_->device_map);
}

std::uint32_t NativeEngine::add_root(std::int64_t id, std::u16string_view path, bool recursive) {
  return mirrow::add_root(*core_, id, std::u16string(path).c_str(), recursive);
}

void NativeEngine::set_probe(std::u16string_view path) { mirrow::set_probe(*core_, std::u16string(path).c_str()); }

void NativeEngine::replay(std::uint16_t id, std::uint8_t version, std::uint32_t pid, double unix_seconds,
                          const std::uint8_t* payload, std::uint64_t length) noexcept {
  decode_event(*core_, id, version, 8, pid, unix_seconds, payload, length);
}

std::string_view NativeEngine::drain() { return drain_activity(*core_); }

std::uint64_t NativeEngine::counter(std::string_view key) const { return counter_by_key(*core_, key); }

}  // namespace mirrow
EOF
  } >"$base/tree/engine/api/native_engine.cpp"
  cat >>"$base/tree/engine/CMakeLists.txt" <<'EOF'

add_library(vantrel_native_entry STATIC api/native_engine.cpp)
target_link_libraries(vantrel_native_entry PRIVATE vantrel_core)
target_include_directories(vantrel_native_entry PUBLIC ${CMAKE_SOURCE_DIR})
EOF
}
git -C "$here" worktree add --detach "$base/tree" "$base_ref" >/dev/null 2>&1
# The bench sources of this tree, hooked into the base's bench folder.
rm -rf "$base/tree/bench/mix"
cp -r "$here/bench/mix" "$base/tree/bench/mix"
cp "$here/bench/thread_cpu.h" "$base/tree/bench/thread_cpu.h"
# The base's copies name its test-support headers by their full paths: an
# older tree may lack the tests folder as an include root, or keep a header
# among the engine tests.
for header in $(grep -ho '#include "support/[^"]*"' "$here/bench/mix/"*.cpp "$here/bench/mix/"*.h | sort -u |
    sed 's|#include "support/\(.*\)"|\1|'); do
  for then in tests/support tests/engine; do
    if [ -f "$base/tree/$then/$header" ]; then
      sed -i "s|\"support/$header\"|\"$then/$header\"|" "$base/tree/bench/mix/"*.cpp "$base/tree/bench/mix/"*.h
      break
    fi
  done
done
if [ ! -f "$base/tree/engine/api/native_engine.h" ]; then
  supply_native_entry
fi
grep -q 'add_subdirectory(mix)' "$base/tree/bench/CMakeLists.txt" ||
  echo 'add_subdirectory(mix)' >>"$base/tree/bench/CMakeLists.txt"

build_native() {  # tree build-dir
  cmake -S "$1" -B "$2" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build "$2" --target mix_bench >/dev/null
}
build_windows() {  # tree
  (cd "$1" && cmake --preset windows-x64 >/dev/null && cmake --build --preset windows-x64 --target mix_bench_win >/dev/null)
}

# The figures line of one run, and the round with the smallest total.
# Programs under Wine end their lines with CR LF.
figure() { tr -d '\r' | sed -n 's/^MIX replay_ns=\([0-9.]*\) total_ns=\([0-9.]*\)$/\1 \2/p'; }
best() { sort -n -k2 | head -1; }

compare() {  # label base-command this-command
  local label="$1" base_cmd="$2" this_cmd="$3" base_runs="" this_runs=""
  for ((i = 1; i <= rounds; i++)); do
    base_runs+="$(eval "$base_cmd" | figure)"$'\n'
    this_runs+="$(eval "$this_cmd" | figure)"$'\n'
  done
  local b t
  b="$(printf '%s' "$base_runs" | grep . | best)"
  t="$(printf '%s' "$this_runs" | grep . | best)"
  awk -v label="$label" -v ref="$base_ref" -v b="$b" -v t="$t" 'BEGIN {
    split(b, bb, " "); split(t, tt, " ");
    printf "%s, best of the rounds (cpu ns/event):\n", label;
    printf "  %-12s replays %8.1f   with drains %8.1f\n", ref, bb[1], bb[2];
    printf "  %-12s replays %8.1f   with drains %8.1f\n", "this tree", tt[1], tt[2];
    printf "  ratio        replays %8.3f   with drains %8.3f   (goal: at most 0.35)\n", tt[1] / bb[1], tt[2] / bb[2];
  }'
}

events_arg=""
[ -n "$events" ] && events_arg="--events $events"

echo "building the native mix bench ($base_ref and this tree)..."
build_native "$base/tree" "$base/native"
build_native "$here" "$here/build/mix-native"
compare "native decoder" "'$base/native/bench/mix/mix_bench' $events_arg" \
  "'$here/build/mix-native/bench/mix/mix_bench' $events_arg"

if [ "$native_only" = 0 ]; then
  echo "building Vantrel.dll and the Wine mix bench ($base_ref and this tree)..."
  build_windows "$base/tree"
  build_windows "$here"
  run_wine() {
    "$here/cmake/wine-run.sh" "$1/build/windows-x64/wineprefix" \
      "$1/build/windows-x64/bench/mix/mix_bench_win.exe" $events_arg
  }
  compare "vt_replay under Wine" "run_wine '$base/tree'" "run_wine '$here'"
fi
