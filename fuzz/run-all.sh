#!/usr/bin/env bash
# Configures and builds the fuzz preset, then runs every fuzz target for a
# fixed number of inputs, starting from its checked-in seeds. A crash, leak
# or sanitizer report fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${MIRROW_FUZZ_BUILD:-build/fuzz}
runs=${MIRROW_FUZZ_RUNS:-200000}
targets=(decode_fuzz:decode change_buffer_fuzz:change_buffer)

cmake --preset fuzz -B "$build" >/dev/null
for entry in "${targets[@]}"; do
  cmake --build "$build" --target "${entry%%:*}"
done

status=0
for entry in "${targets[@]}"; do
  target=${entry%%:*}
  seeds=fuzz/corpus/${entry#*:}
  work=$(mktemp -d)
  cp "$seeds"/* "$work"/
  echo "== $target: $runs inputs"
  if ! "$build/fuzz/$target" -runs="$runs" -max_total_time=50 -max_len=512 -rss_limit_mb=1024 -print_final_stats=1 "$work" \
      >"$work.log" 2>&1; then
    tail -n 60 "$work.log"
    status=1
  else
    grep -E "stat::number_of_executed_units|Done" "$work.log" | tail -n 2
  fi
  rm -rf "$work" "$work.log"
done
exit $status
