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

now_ns() { date +%s%N; }
median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR + 1) / 2)]}'; }

. "$repo/scripts/x11-session.sh"
start_x11_session "$(free_x11_display "${WAVELARK_X11_DISPLAY:-142}")"
export HOME=$session/home XDG_CONFIG_HOME=$session/config XDG_DATA_HOME=$session/data
export XDG_CACHE_HOME=$session/cache XDG_RUNTIME_DIR=$session/runtime
export DBUS_SESSION_BUS_ADDRESS=unix:path=$session/no-bus SDL_AUDIODRIVER=dummy
mkdir -p "$HOME" && mkdir -m 700 -p "$XDG_RUNTIME_DIR"
app_index=$XDG_DATA_HOME/Wavelark/index.plist
prefs=$XDG_CONFIG_HOME/Wavelark/Wavelark.plist
hz=$(getconf CLK_TCK)
app=

ticks() { awk '{print $14 + $15}' "/proc/$app/stat" 2>/dev/null || echo 0; }
stamp() { stat -c '%.9Y %i' "$app_index" 2>/dev/null || echo none; }
wait_idle() {
  local quiet=0 a b
  for _ in $(seq 600); do
    a=$(ticks)
    sleep 1
    b=$(ticks)
    if ((b - a <= hz / 50)); then
      quiet=$((quiet + 1))
      ((quiet >= 3)) && return 0
    else
      quiet=0
    fi
  done
  return 1
}
wait_written() {
  for _ in $(seq 6000); do
    [ "$(stamp)" != "$1" ] && return 0
    sleep 0.1
  done
  return 1
}

python3 - "$prefs" "$lib" <<'PY'
import os, plistlib, sys
path, root = sys.argv[1], sys.argv[2]
os.makedirs(os.path.dirname(path), exist_ok=True)
with open(path, 'wb') as f:
    plistlib.dump({'rootFolderPaths': [root], 'soundAnalysisPaused': True}, f,
                  fmt=plistlib.FMT_BINARY)
PY

say "app indexing the library"
before=$(stamp)
"$app_binary" >"$session/app.log" 2>&1 &
app=$!
pids+=("$app")
wait_written "$before" || say "the index file was never written"
wait_idle || say "the app did not settle"
if [ -n "${WAVELARK_PERF:-}" ]; then
  perf record -g -o "$WAVELARK_PERF" -p "$app" >/dev/null 2>&1 &
  perf_pid=$!
  sleep 1
fi

say "one new file"
target=$(find "$lib" -mindepth 3 -maxdepth 3 -type d -not -name '.*' | sort | awk 'NR == 1')
sox -n -r 44100 -c 1 -b 16 "$session/tone.wav" synth 0.2 sine 440 2>/dev/null ||
  : >"$session/tone.wav"
latencies=()
for i in $(seq "$samples"); do
  # Live changes are written at once only after a quiet minute.
  if [ "$i" = 1 ]; then sleep 5; else sleep 61; fi
  wait_idle || true
  before=$(stamp)
  file="$target/Wavelark Bench New $i.wav"
  made+=("$file")
  start=$(now_ns)
  cp "$session/tone.wav" "$file"
  latency=timeout
  for _ in $(seq 6000); do
    current=$(stamp)
    if [ "$current" != "$before" ]; then
      latency=$(awk -v m="${current% *}" -v s="$start" 'BEGIN { printf "%.2f", m - s / 1e9 }')
      break
    fi
    sleep 0.01
  done
  latencies+=("$latency")
done
new_file=$(printf '%s\n' "${latencies[@]}" | median)

say "a pack unpacking"
sleep 5
wait_idle || true
pack="$lib/Wavelark Bench Pack"
made+=("$pack")
first=$(ticks)
seen=$(stamp)
writes=0
counted() { # counts the index file's replacements seen so far
  local now
  now=$(stamp)
  [ "$now" != "$seen" ] && writes=$((writes + 1))
  seen=$now
}
mkdir "$pack"
for i in $(seq 1 20); do
  cp "$session/tone.wav" "$pack/Bench Pack Hit $i.wav"
  sleep 0.5
  counted
done
sleep 2.5
counted
last=$(ticks)
pack_cpu=$(awk -v t="$((last - first))" -v hz="$hz" 'BEGIN { printf "%.2f", t / hz }')

echo "one new file, creation to index file: $new_file s (${latencies[*]}); target ≤ 1.2 s"
echo "CPU while a pack unpacks: $pack_cpu CPU-s ($writes index writes seen); target ≤ 0.3 CPU-s"
