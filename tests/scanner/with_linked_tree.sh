#!/bin/sh
# Usage: with_linked_tree.sh WINE_RUN PREFIX PROGRAM [ARGS...]
# Wine cannot make a symbolic link, so this driver builds a small tree with
# one on the Linux side (real/inside.txt and link -> real) and runs the
# program through WINE_RUN with --linked-tree= and the tree's Windows path.
# The tree lies on the prefix's drive C: (Wine reports its Z: drive root,
# itself a link to /, as a reparse point). It is removed afterwards.
set -e
wine_run=$1
prefix=$2
shift 2
mkdir -p "$prefix/drive_c"
tree=$(mktemp -d "$prefix/drive_c/scn-linked-XXXXXX")
trap 'rm -rf "$tree"' EXIT
mkdir "$tree/real"
printf 'inside' > "$tree/real/inside.txt"
ln -s real "$tree/link"
"$wine_run" "$prefix" "$@" "--linked-tree=C:\\$(basename "$tree")"
