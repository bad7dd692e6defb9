#!/bin/sh
# Usage: bench/scan/run_scan_bench.sh BUILD_DIR [RUNS]
# Builds (once) a tree of 200000 files in 2000 directories on the build's
# Wine drive C: (the Z: drive root reads as a reparse point under Wine, so a
# walk below it is refused), then times full walks of it: find on the Linux
# side and the scanner's exports under Wine, best of RUNS each, and prints
# both times and their ratio (goal: <= 1.5).
set -e
build=$(cd "$1" && pwd)
runs=${2:-3}
tree_name=scn-bench-tree
tree="$build/wineprefix/drive_c/$tree_name"
here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(cd "$here/../.." && pwd)
bench_exe="$build/bench/scan/scan_bench.exe"
[ -f "$bench_exe" ] || { echo "build the scan_bench target first" >&2; exit 1; }

if [ ! -f "$tree.complete" ]; then
  rm -rf "$tree"
  mkdir -p "$tree"
  for d in $(seq -w 0 1999); do
    mkdir "$tree/d$d"
    (cd "$tree/d$d" && seq -f 'f%03g.dat' 0 99 | xargs touch)
  done
  touch "$tree.complete"
fi
echo "tree: $tree ($(find "$tree" -type f | wc -l) files, $(find "$tree" -mindepth 1 -type d | wc -l) directories)"

now_ns() { date +%s%N; }
find "$tree" -printf '%s %T@ %C@\n' >/dev/null  # warm the caches
# find runs before and after the Wine walks, so that both see the same
# machine load; the best of all counts.
best_find=""
time_find() {
  i=1
  while [ "$i" -le "$runs" ]; do
    start=$(now_ns)
    find "$tree" -printf '%s %T@ %C@\n' >/dev/null
    elapsed=$(( $(now_ns) - start ))
    echo "find: $(awk "BEGIN{printf \"%.3f\", $elapsed/1e9}") s"
    if [ -z "$best_find" ] || [ "$elapsed" -lt "$best_find" ]; then best_find=$elapsed; fi
    i=$((i + 1))
  done
}
time_find

windows_tree="C:\\$tree_name"
output=$("$source_dir/cmake/wine-run.sh" "$build/wineprefix" "$bench_exe" "$windows_tree" "$runs")
echo "$output"
time_find
find_seconds=$(awk "BEGIN{printf \"%.3f\", $best_find/1e9}")
scanner_seconds=$(printf '%s\n' "$output" | sed -n 's/^scanner_seconds=\([0-9.]*\).*/\1/p')
listing_seconds=$(printf '%s\n' "$output" | sed -n 's/^listing_seconds=\([0-9.]*\).*/\1/p')
ratio() { awk "BEGIN{printf \"%.2f\", $1/$2}"; }
echo "find_seconds=$find_seconds scanner_seconds=$scanner_seconds ratio=$(ratio "$scanner_seconds" "$find_seconds") (goal <= 1.5)"
echo "bare Wine listing: listing_seconds=$listing_seconds ratio_to_find=$(ratio "$listing_seconds" "$find_seconds"), scanner/listing=$(ratio "$scanner_seconds" "$listing_seconds")"
