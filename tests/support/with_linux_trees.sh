#!/bin/sh
# Usage: with_linux_trees.sh RUNNER PREFIX PROGRAM [ARGS...]
# Builds on the Linux side the trees that Wine cannot make and runs the
# program through the shell script RUNNER (cmake/wine-run.sh or
# cmake/gtest-under-wine.sh) with their Windows paths:
#   --linked-tree=PATH  real/inside.txt and a symbolic link "link" -> real
#   --case-tree=PATH    names that differ only in case, which Wine itself
#                       would take for the same name:
#                         scan/A/one.txt, scan/a/two.txt, scan/A/Sub/x,
#                         scan/a/sub/y, scan/a/sub/Deep/z, scan/a/sub/deep/w
#                         and the empty directories watch/Mixed, watch/mixed
# The trees lie on the prefix's drive C: (Wine reports its Z: drive root,
# itself a link to /, as a reparse point). They are removed afterwards.
set -e
wine_run=$1
prefix=$2
shift 2
mkdir -p "$prefix/drive_c"
linked=$(mktemp -d "$prefix/drive_c/scn-linked-XXXXXX")
cased=$(mktemp -d "$prefix/drive_c/scn-case-XXXXXX")
trap 'rm -rf "$linked" "$cased"' EXIT
mkdir "$linked/real"
printf 'inside' > "$linked/real/inside.txt"
ln -s real "$linked/link"
mkdir -p "$cased/scan/A/Sub" "$cased/scan/a/sub/Deep" "$cased/scan/a/sub/deep" "$cased/watch/Mixed" "$cased/watch/mixed"
printf '1' > "$cased/scan/A/one.txt"
printf '22' > "$cased/scan/a/two.txt"
printf '4444' > "$cased/scan/A/Sub/x"
printf '88888888' > "$cased/scan/a/sub/y"
printf '1616161616161616' > "$cased/scan/a/sub/Deep/z"
printf '32323232323232323232323232323232' > "$cased/scan/a/sub/deep/w"
sh "$wine_run" "$prefix" "$@" "--linked-tree=C:\\$(basename "$linked")" "--case-tree=C:\\$(basename "$cased")"
