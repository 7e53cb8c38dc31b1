#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 The Wavelark developers
# SPDX-License-Identifier: GPL-3.0-or-later
# Two rows of the scale bench on their own, for quick turns on the live-update path: a new file's
# way to the index file, and the CPU the app spends while a pack unpacks. The real app runs under
# Xvfb + openbox with fresh HOME/XDG folders and the library as its one root, sound analysis
# paused. Not part of .ci/run.
#
# usage: bench/live_bench.sh [SAMPLES]      (default 3 new files)
#   WAVELARK_BUILD_DIR      build tree (default: build)
#   WAVELARK_SCALE_LIBRARY  the library (default /tmp/wavelark-scale-1000000/lib)
#   WAVELARK_X11_DISPLAY    first display number to try for Xvfb (default 142)
#   WAVELARK_PERF           a file: perf records the app during both rows into it
# Run it under the build lock: flock /tmp/wavelark-build.lock bench/live_bench.sh
set -euo pipefail
samples=${1:-3}
here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/.." && pwd)
build=${WAVELARK_BUILD_DIR:-build}
case $build in /*) ;; *) build=$repo/$build ;; esac
lib=${WAVELARK_SCALE_LIBRARY:-/tmp/wavelark-scale-1000000/lib}
app_binary=$build/wavelark
say() { echo "live_bench: $*" >&2; }
[ -d "$lib" ] || { say "no library at $lib"; exit 1; }

session=$(mktemp -d)
pids=()
made=()
perf_pid=
cleanup() {
  local p
  set +e
  if [ -n "$perf_pid" ]; then
    kill -INT "$perf_pid" 2>/dev/null
    wait "$perf_pid" 2>/dev/null
  fi
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  for p in "${made[@]}"; do rm -rf "$p"; done
  rm -rf "$session"
}
trap cleanup EXIT

WAVELARK_X11_DISPLAY=${WAVELARK_X11_DISPLAY:-142}
. "$here/app_session.sh"
set_root

say "app indexing the library"
before=$(stamp)
start_app
wait_written "$before" || say "the index file was never written"
wait_idle || say "the app did not settle"
if [ -n "${WAVELARK_PERF:-}" ]; then
  perf record -g -o "$WAVELARK_PERF" -p "$app" >/dev/null 2>&1 &
  perf_pid=$!
  sleep 1
fi

say "one new file"
measure_new_file "$samples"
say "a pack unpacking"
measure_pack

echo "one new file, creation to index file: $new_file s (${latencies[*]}); target ≤ 1.2 s"
echo "CPU while a pack unpacks: $pack_cpu CPU-s ($pack_appends journal appends, $pack_writes whole writes seen); target ≤ 0.3 CPU-s"
echo "the index file written whole once the changes rested: $compaction_cpu CPU-s, $compaction_s s after the last file"
