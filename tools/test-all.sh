#!/usr/bin/env bash
# Installs what is missing, builds the Windows products and the native
# sanitizer build, and runs every test (Windows tests under Wine).
set -euo pipefail
cd "$(dirname "$0")/.."
# Each phase says when it starts, so that a slow CI run shows where its time went.
phase() { echo "== test-all: $1 at ${SECONDS} s"; }
phase "installing what is missing"
bash tools/install-deps.sh
for preset in native windows-x64; do
  phase "building $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
done
status=0
# The Windows CI workflow must at least be valid YAML.
/usr/bin/python3 -c 'import sys, yaml; yaml.safe_load(open(sys.argv[1]))' .github/workflows/windows.yml || status=1
phase "native tests"
ctest --preset native || status=1
# Wine's first start in the test prefix sets the prefix up; start it once and
# let its server end before the tests, so that none of them races the set-up.
sh cmake/wine-run.sh build/windows-x64/wineprefix cmd /c exit 0 >/dev/null 2>&1 || true
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver)
WINEPREFIX="$PWD/build/windows-x64/wineprefix" timeout 120 "$wineserver" -w 2>/dev/null || true
phase "Windows tests under Wine"
ctest --preset windows-x64 || status=1
# The threaded tests (engine core, table reader) under ThreadSanitizer: its preset builds those targets.
phase "ThreadSanitizer build and tests"
cmake --preset tsan >/dev/null && cmake --build --preset tsan && ctest --preset tsan || status=1
phase "fuzz targets"
if [ -f fuzz/run-all.sh ]; then bash fuzz/run-all.sh || status=1; fi
phase "done, status $status"
exit $status
