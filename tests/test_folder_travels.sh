#!/bin/sh
# Usage: test_folder_travels.sh BUILD_DIR WINE_RUN PREFIX OBJCOPY CMAKE
# Installs the `tests` component into a temporary folder, moves the folder
# elsewhere and runs a few of its programs there under Wine. Before that it
# checks that the folder holds every test program of the build with the
# products and helpers, and that no program keeps a path of the build tree
# in its read-only data (a compiled-in path would still work here, where
# the build tree exists, but not on another machine).
set -eu
build=$1 wine_run=$2 prefix=$3 objcopy=$4 cmake=$5
gtest_run="$(dirname "$wine_run")/gtest-under-wine.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$cmake" --install "$build" --component tests --prefix "$work/installed" --strip >/dev/null
mv "$work/installed" "$work/moved"
folder="$work/moved"

missing=0
for program in $(cat "$build/test-programs.txt") \
    Vantrel.dll Telvyn.dll FreezeGuard.exe mirrowctl.exe run-tests.ps1 \
    Vantrel.pdb Telvyn.pdb FreezeGuard.pdb mirrowctl.pdb \
    guard_test_child.exe guard_confirming.exe live_test_child.exe mark_holder_child.exe; do
  if [ ! -f "$folder/$program" ]; then echo "the test folder lacks $program"; missing=1; fi
done
[ "$missing" -eq 0 ]
if [ -n "$(find "$folder" -mindepth 1 -type d)" ]; then echo "the test folder is not flat"; exit 1; fi

for program in "$folder"/*.exe "$folder"/*.dll; do
  "$objcopy" -O binary --only-section=.rdata "$program" "$work/rdata"
  if grep -q -F "$build" "$work/rdata"; then
    echo "$(basename "$program") keeps a path of the build tree"
    exit 1
  fi
done

echo "== moved to $folder"
sh "$gtest_run" "$prefix" "$folder/vantrel_frame_exports_tests.exe"
sh "$gtest_run" "$prefix" "$folder/guard_shipped_tests.exe"
sh "$gtest_run" "$prefix" "$folder/host_end_to_end_tests.exe" \
  '--gtest_filter=*selftest*:*check*:*without_the_libraries*'
sh "$gtest_run" "$prefix" "$folder/live_windows_tests.exe"
sh "$wine_run" "$prefix" "$folder/mirrowctl.exe" check >"$work/check.txt" 2>&1 || {
  cat "$work/check.txt"
  echo "mirrowctl check failed in the moved folder"
  exit 1
}
cat "$work/check.txt"
grep -q 'capture and attribution  unavailable  no real-time tracing on Wine' "$work/check.txt"
