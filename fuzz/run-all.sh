#!/usr/bin/env bash
# Configures and builds the fuzz preset, then runs every fuzz target for a
# fixed number of inputs, starting from its checked-in seeds. A crash, leak,
# sanitizer report or broken check fails the run; the failing input is kept
# under <build>/fuzz/artifacts/.
#
# Each target runs a fixed number of inputs; its time limit is only a guard
# for a slow machine (the seven single-event targets together take about a
# minute and a half of processor time; the sequence fuzzer, whose every
# input is a whole run of an engine, about half a minute more).
# MIRROW_FUZZ_BUILD: build folder (build/fuzz); MIRROW_FUZZ_RUNS and
# MIRROW_FUZZ_TIME: inputs and seconds for every target instead of the table
# (MIRROW_FUZZ_RUNS alone lifts the guard: MIRROW_FUZZ_RUNS=10000000 runs ten
# million inputs however long they take); MIRROW_FUZZ_TARGETS: the targets
# to run, separated by spaces, instead of all; MIRROW_FUZZ_JOBS: processes
# that share each target's inputs (1), each from its own copy of the seeds.
#
# MIRROW_FUZZ_CAMPAIGN: a folder that keeps a long run across invocations,
# for runs longer than one sitting. Each target's processes keep their
# corpora there, and the inputs executed so far are added up in
# <folder>/<target>/executed; an invocation runs what is left of
# MIRROW_FUZZ_RUNS, and MIRROW_FUZZ_TIME ends it cleanly, its inputs
# counted. A campaign belongs to one build of a target: after a rebuild that
# changed the target it refuses to go on (remove the folder to start again).
# A failing process counts nothing.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${MIRROW_FUZZ_BUILD:-build/fuzz}
# target:seed folder:inputs:guard seconds[:longest input, 512 unless given]
targets=(
  decode_fuzz:decode:200000:25
  change_buffer_fuzz:change_buffer:200000:25
  paths_fuzz:paths:200000:25
  classic_name_fuzz:classic_name:200000:15
  cim_datetime_fuzz:cim_datetime:200000:15
  trace_file_fuzz:trace_file:200000:60:2048
  ntfs_record_fuzz:ntfs_record:200000:25:4400
  sequence_fuzz:sequence:10000:60:1024
)
if [ -n "${MIRROW_FUZZ_TARGETS:-}" ]; then
  chosen=()
  for entry in "${targets[@]}"; do
    case " $MIRROW_FUZZ_TARGETS " in *" ${entry%%:*} "*) chosen+=("$entry") ;; esac
  done
  targets=("${chosen[@]}")
fi

cmake --preset fuzz -B "$build" >/dev/null
names=()
for entry in "${targets[@]}"; do names+=("${entry%%:*}"); done
cmake --build "$build" --target "${names[@]}"

artifacts=$build/fuzz/artifacts
mkdir -p "$artifacts"
jobs=${MIRROW_FUZZ_JOBS:-1}
campaign=${MIRROW_FUZZ_CAMPAIGN:-}

# One process of a target: its own copy of the seeds (or, in a campaign, the
# corpus it left), its share of the inputs. Returns the process's status.
run_share() {
  local target=$1 seeds=$2 share=$3 guard=$4 max_len=$5 work=$6
  if [ ! -d "$work" ]; then
    mkdir -p "$work"
    cp "fuzz/corpus/$seeds"/* "$work"/
  fi
  "$build/fuzz/$target" -runs="$share" -max_total_time="$guard" -max_len="$max_len" -rss_limit_mb=1024 \
      -print_final_stats=1 -artifact_prefix="$artifacts/$target-" "$work" >"$work.log" 2>&1
}

# In a campaign: the folder of a target's run, or nothing (with the reason
# printed) when the campaign was run by another build of the target.
campaign_folder() {
  local target=$1 folder=$campaign/$1 sum
  sum=$(sha256sum "$build/fuzz/$target" | cut -d' ' -f1)
  mkdir -p "$folder"
  if [ -f "$folder/binary" ] && [ "$(cat "$folder/binary")" != "$sum" ]; then
    echo "== $target: $folder was run by another build of the target; remove it to start again" >&2
    return 1
  fi
  echo "$sum" >"$folder/binary"
  echo "$folder"
}

status=0
for entry in "${targets[@]}"; do
  IFS=: read -r target seeds runs guard max_len <<<"$entry"
  if [ -n "${MIRROW_FUZZ_RUNS:-}" ] && [ -z "${MIRROW_FUZZ_TIME:-}" ]; then guard=0; fi  # 0: no time limit
  runs=${MIRROW_FUZZ_RUNS:-$runs}
  guard=${MIRROW_FUZZ_TIME:-$guard}
  before=0
  if [ -n "$campaign" ]; then
    if ! work=$(campaign_folder "$target"); then
      status=1
      continue
    fi
    before=$(cat "$work/executed" 2>/dev/null || echo 0)
    if [ "$before" -ge "$runs" ]; then
      echo "== $target: the campaign is complete, $before inputs executed"
      continue
    fi
  else
    work=$(mktemp -d)
  fi
  left=$(( runs - before ))
  if [ "$jobs" -gt 1 ]; then echo "== $target: $left inputs in $jobs processes"; else echo "== $target: $left inputs"; fi
  pids=()
  for ((j = 1; j <= jobs; j++)); do
    share=$(( left / jobs + (j <= left % jobs ? 1 : 0) ))
    run_share "$target" "$seeds" "$share" "$guard" "${max_len:-512}" "$work/$j" &
    pids+=($!)
  done
  failed=0
  for ((j = 1; j <= jobs; j++)); do
    if ! wait "${pids[j - 1]}"; then
      tail -n 60 "$work/$j.log"
      failed=1
    fi
  done
  if [ "$failed" = 1 ]; then
    status=1
  else
    executed=0
    for ((j = 1; j <= jobs; j++)); do
      grep -E "Done" "$work/$j.log" | tail -n 1
      executed=$(( executed + $(sed -n 's/^stat::number_of_executed_units: *//p' "$work/$j.log") ))
    done
    echo "   $executed inputs executed"
    if [ -n "$campaign" ]; then
      echo $(( before + executed )) >"$work/executed"
      for ((j = 1; j <= jobs; j++)); do cat "$work/$j.log" >>"$work/$j.history"; done
      echo "   the campaign in $work: $(( before + executed )) of $runs inputs executed"
    elif [ "$executed" -lt "$left" ]; then
      echo "   stopped by the ${guard} s guard before ${runs} inputs"
    fi
  fi
  if [ -z "$campaign" ]; then rm -rf "$work"; fi
done
exit $status
