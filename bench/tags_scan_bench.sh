#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 The Wavelark developers
# SPDX-License-Identifier: GPL-3.0-or-later
# Import-scan benchmark: reads the file manager's tag attribute on every item of a generated
# library and compares with `find ROOT | wc -l` over the same tree, measured in the same run.
# usage: bench/tags_scan_bench.sh BUILD_DIR [FILES] [WORKDIR]
#   BUILD_DIR is a configured build tree (a Release build for real figures).
set -euo pipefail
build=${1:?usage: tags_scan_bench.sh BUILD_DIR [FILES] [WORKDIR]}
files=${2:-200000}
work=${3:-/tmp/wavelark-tags-bench-$files}
here=$(cd "$(dirname "$0")" && pwd)

bin="$build/tags_scan_bench"
cmake --build "$build" --target tags_scan_bench >/dev/null
mkdir -p "$work"

# About 860 packs of nested categories, 20-60 files a folder, one item in fifty tagged (some
# with two colours, some with name-only tags), plus a few hidden files.
if [ ! -f "$work/lib.done" ]; then
  rm -rf "$work/lib"
  python3 - "$work/lib" "$files" <<'PY'
import os, plistlib, random, sys
root, target = sys.argv[1], int(sys.argv[2])
rng = random.Random(11)
cats = ["Kicks", "Snares", "Hats", "Claps", "Perc", "Bass", "Synth", "Pads", "Vox", "FX"]
tags = [["Red\n6"], ["Blue\n4", "Work"], ["Green\n2", "Purple\n3"], ["Work"], ["Gray\n1"]]
values = [plistlib.dumps(t, fmt=plistlib.FMT_BINARY) for t in tags]
made = pack = 0
while made < target:
    pack += 1
    for cat in rng.sample(cats, 4):
        for sub in range(rng.randint(1, 3)):
            folder = os.path.join(root, f"Pack {pack:04d}", cat, f"Set {sub}")
            os.makedirs(folder, exist_ok=True)
            for i in range(rng.randint(20, 60)):
                if made >= target:
                    break
                name = f".hidden{i}.wav" if i == 7 else f"{cat} {pack}-{sub}-{i}.wav"
                path = os.path.join(folder, name)
                open(path, "wb").close()
                if rng.random() < 0.02:
                    os.setxattr(path, "user.com.apple.metadata:_kMDItemUserTags",
                                rng.choice(values))
                made += 1
PY
  touch "$work/lib.done"
fi

ms() { local s e; s=$(date +%s%N); "$@" >/dev/null 2>&1; e=$(date +%s%N); echo $(((e - s) / 1000000)); }
median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR + 1) / 2)]}'; }

items=$(find "$work/lib" | wc -l)
find_ms=$(for i in 1 2 3 4 5; do ms sh -c "find '$work/lib' | wc -l"; done | median)
# find alone never loads an inode (d_type suffices); reading attributes must, as lstat does.
stat_ms=$(for i in 1 2 3 4 5; do ms sh -c "find '$work/lib' -printf '%s\\n' | wc -l"; done | median)
scan_ms=$(for i in 1 2 3 4 5; do ms "$bin" "$work/lib" --repeat 1; done | median)
"$bin" "$work/lib" --repeat 1 | sed 's/^/scan: /'
echo "items=$items find_ms=$find_ms find_lstat_ms=$stat_ms scan_ms=$scan_ms" \
  "scan/find=$(echo "scale=2; $scan_ms / $find_ms" | bc)" \
  "scan/find_lstat=$(echo "scale=2; $scan_ms / $stat_ms" | bc)"
if command -v getfattr >/dev/null; then
  getfattr_ms=$(ms getfattr -R -n user.com.apple.metadata:_kMDItemUserTags "$work/lib")
  echo "getfattr -R (one named read per item, whole process) ms=$getfattr_ms"
fi
