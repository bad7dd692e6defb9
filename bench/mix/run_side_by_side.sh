#!/usr/bin/env bash
# Runs the build-like mix side by side: this tree against BASE_REF (default
# 802c50e), built the same way, in one run. The base is checked out with
# `git worktree add` into a temporary folder and gets this tree's bench/mix
# sources (and bench/thread_cpu.h), which use only the replay surface both
# trees share.
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
git -C "$here" worktree add --detach "$base/tree" "$base_ref" >/dev/null 2>&1
# The bench sources of this tree, hooked into the base's bench folder.
rm -rf "$base/tree/bench/mix"
cp -r "$here/bench/mix" "$base/tree/bench/mix"
cp "$here/bench/thread_cpu.h" "$base/tree/bench/thread_cpu.h"
# The older tree may keep the engine core and the test payloads elsewhere.
for header in engine/core/configuration.h:engine/activity/configuration.h \
    engine/core/engine_core.h:engine/api/engine_core.h \
    tests/support/event_payloads.h:tests/engine/event_payloads.h; do
  now=${header%%:*} then=${header##*:}
  if [ ! -f "$base/tree/$now" ] && [ -f "$base/tree/$then" ]; then
    sed -i "s|\"$now\"|\"$then\"|" "$base/tree/bench/mix/"*.cpp "$base/tree/bench/mix/"*.h
  fi
done
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
