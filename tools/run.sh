#!/usr/bin/env bash
# Builds the Windows deliverables (installing the tools when missing) and
# shows what each one offers a host: the exports of both libraries and the
# guard's self-test under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh
cmake --preset windows-x64 >/dev/null
cmake --build --preset windows-x64 --target Vantrel Telvyn FreezeGuard
out=build/windows-x64
for dll in engine/Vantrel.dll inspector/Telvyn.dll; do
  echo "== $dll exports"
  x86_64-w64-mingw32-objdump -p "$out/$dll" | awk '/\[Ordinal\/Name Pointer\] Table/{t=1;next} t&&NF==0{exit} t{print "  " $NF}'
done
echo "== FreezeGuard.exe --self-test (under Wine)"
cmake/wine-run.sh "$out/wineprefix" "$out/guard/FreezeGuard.exe" --self-test
