#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 The Wavelark developers
# SPDX-License-Identifier: GPL-3.0-or-later
# Index benchmarks against references measured in the same run.
# usage: bench/index_bench.sh BUILD_DIR FILES [WORKDIR]
set -euo pipefail
build=${1:-build}
files=${2:-200000}
work=${3:-/tmp/wavelark-bench-$files}
probe="$build/wavelark-probe"
here=$(cd "$(dirname "$0")" && pwd)

if [ ! -d "$work/lib" ]; then
  mkdir -p "$work/lib"
  python3 "$here/make_library.py" "$work/lib" "$files" >/dev/null
fi
find "$work/lib" -type f | wc -l >/dev/null # warm the cache

ms() { local s e; s=$(date +%s%N); "$@" >/dev/null 2>&1; e=$(date +%s%N); echo $(((e - s) / 1000000)); }
median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR + 1) / 2)]}'; }

find_ms=$(for i in 1 2 3; do ms sh -c "find '$work/lib' -type f | wc -l"; done | median)
index_ms=$(for i in 1 2 3; do ms "$probe" index --out "$work/index.plist" "$work/lib"; done | median)
echo "files=$files find_ms=$find_ms index_ms=$index_ms ratio=$(echo "scale=2; $index_ms / $find_ms" | bc)"
"$probe" index --out "$work/index.plist" "$work/lib" 2>&1 >/dev/null | sed 's/^/probe: /'
"$probe" search --index "$work/index.plist" --repeat 21 kick 808 2>&1 | sed 's/^/two terms: /'
"$probe" search --index "$work/index.plist" --repeat 21 cafe 2>&1 | sed 's/^/one term: /'
py_ms=$(ms python3 -c "import plistlib;plistlib.load(open('$work/index.plist','rb'))")
echo "python plistlib load_ms=$py_ms"
