#!/usr/bin/env bash
# Installs what is missing, builds the Windows products and the native
# sanitizer build, and runs every test (Windows tests under Wine).
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh
for preset in native windows-x64; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
done
status=0
# The Windows CI workflow must at least be valid YAML.
/usr/bin/python3 -c 'import sys, yaml; yaml.safe_load(open(sys.argv[1]))' .github/workflows/windows.yml || status=1
ctest --preset native || status=1
ctest --preset windows-x64 || status=1
# The engine core's concurrency test under ThreadSanitizer: its preset builds that one target.
cmake --preset tsan >/dev/null && cmake --build --preset tsan && ctest --preset tsan || status=1
if [ -f fuzz/run-all.sh ]; then bash fuzz/run-all.sh || status=1; fi
exit $status
