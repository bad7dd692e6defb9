#!/usr/bin/env bash
# Builds the deliverables and mirrowctl when needed (installing the tools
# when missing) and shows all three at work under Wine through mirrowctl,
# the reference host: Vantrel scans a folder and watches one while files
# appear in it, Telvyn lists the processes, FreezeGuard runs its self-test.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh
out=build/windows-x64
[ -f "$out/build.ninja" ] || cmake --preset windows-x64 >/dev/null
cmake --build --preset windows-x64 --target mirrowctl
prefix="$PWD/$out/wineprefix"
mirrowctl() { cmake/wine-run.sh "$prefix" "$out/host/mirrowctl.exe" "$@"; }
mirrowctl --help >/dev/null  # creates the Wine prefix on first use

# The repository as Wine sees it, under drive Z: (the Linux root); the build
# trees and git's store are left out.
repository="Z:$(pwd | sed 's#/#\\#g')"
demo="$prefix/drive_c/mirrow-demo"
rm -rf "$demo"
mkdir -p "$demo/watched"

echo "== mirrowctl scan $repository --exclude $repository\\build --exclude $repository\\.git --top 5"
mirrowctl scan "$repository" --exclude "$repository\\build" --exclude "$repository\\.git" --top 5

echo
echo "== mirrowctl watch C:\\mirrow-demo\\watched --seconds 5   (files appear in it meanwhile)"
(
  sleep 2
  for name in notes.txt report.csv; do echo "made by run.sh" >"$demo/watched/$name"; sleep 0.3; done
  mv "$demo/watched/notes.txt" "$demo/watched/notes-renamed.txt"
  rm "$demo/watched/report.csv"
) &
mirrowctl watch 'C:\mirrow-demo\watched' --seconds 5
wait

echo
echo "== mirrowctl ps"
mirrowctl ps

echo
echo "== mirrowctl selftest"
mirrowctl selftest
rm -rf "$demo"
