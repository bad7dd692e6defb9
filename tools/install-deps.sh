#!/usr/bin/env bash
# Installs the build and test tools with apt-get when any is missing.
set -euo pipefail
need=()
command -v cmake >/dev/null || need+=(cmake)
command -v ninja >/dev/null || need+=(ninja-build)
command -v x86_64-w64-mingw32-g++-posix >/dev/null || need+=(g++-mingw-w64-x86-64-posix)
# The Windows build: clang and lld 16 over the cross GCC's libstdc++; llvm
# brings llvm-windres, llvm-ar, llvm-readobj and llvm-pdbutil.
[ -x /usr/lib/llvm-16/bin/clang++ ] || need+=(clang-16)
[ -x /usr/lib/llvm-16/bin/ld.lld ] || need+=(lld-16)
[ -x /usr/lib/llvm-16/bin/llvm-pdbutil ] || need+=(llvm-16)
command -v wine >/dev/null || command -v wine-stable >/dev/null || [ -x /usr/lib/wine/wine64 ] || need+=(wine64)
[ -f /usr/src/googletest/CMakeLists.txt ] || need+=(googletest)
command -v g++ >/dev/null || need+=(g++)
command -v clang++ >/dev/null || need+=(clang)
dpkg -s libclang-rt-14-dev >/dev/null 2>&1 || dpkg -s libclang-rt-dev >/dev/null 2>&1 || need+=(libclang-rt-14-dev)
command -v flock >/dev/null || need+=(util-linux)
# The scanner's image tests: NTFS images made with mkntfs and the ntfs-3g
# FUSE driver, streams and attributes set with setfattr, read by sleuthkit.
command -v mkntfs >/dev/null && command -v ntfs-3g >/dev/null || need+=(ntfs-3g)
command -v setfattr >/dev/null || need+=(attr)
command -v fls >/dev/null || need+=(sleuthkit)
# Debian's own Python reads the workflow file; a python3 earlier on PATH
# (pyenv, say) may lack the yaml module that its package brings.
[ -x /usr/bin/python3 ] && /usr/bin/python3 -c 'import yaml' 2>/dev/null || need+=(python3 python3-yaml)
if [ ${#need[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${need[@]}"
fi
