#!/bin/sh
# Usage: bench/scan/run_table_bench.sh WINDOWS_BUILD PERF_BUILD [IMAGE_DIR] [RUNS]
# Builds once, in IMAGE_DIR (/var/tmp/mirrow-scan-bench, outside the build
# trees), an NTFS image of 1,000,000 files in nested folders and a copy of
# the same tree in a local folder (make_bench_image.py, as root with FUSE),
# then prints:
# - table_bench over the image natively, the image in the page cache
#   (PERF_BUILD: a RelWithDebInfo build with the table_bench target; goals
#   at least 3 million table records a second and at most 64 bytes per
#   in-use record beside the names' text);
# - scan_bench --table under Wine in one run: the table of the image through
#   Vantrel.dll against the walk of the copied tree through the same DLL,
#   alternately (goal: at least 10 times faster). The copy gets a drive
#   letter of its own (M:), the way a host would see a local volume.
set -e
windows_build=$(cd "$1" && pwd)
perf_build=$(cd "$2" && pwd)
images=${3:-/var/tmp/mirrow-scan-bench}
runs=${4:-3}
here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(cd "$here/../.." && pwd)
python3 "$here/make_bench_image.py" "$images"
image="$images/bench.img"
cat "$image" >/dev/null  # into the page cache
"$perf_build/bench/scan/table_bench" "$image" "$runs"
prefix="$windows_build/wineprefix"
mkdir -p "$prefix/dosdevices"
ln -sfn "$images/tree" "$prefix/dosdevices/m:"
trap 'rm -f "$prefix/dosdevices/m:"' EXIT
windows_image="Z:$(printf '%s' "$image" | tr / '\\')"
"$source_dir/cmake/wine-run.sh" "$prefix" "$windows_build/bench/scan/scan_bench.exe" --table "$windows_image" 'M:\' "$runs"
