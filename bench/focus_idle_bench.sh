#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 The Wavelark developers
# SPDX-License-Identifier: GPL-3.0-or-later
# Idle cost of focus follows mouse: the app docked and on top with a partner learnt and the
# pointer still (the controller polls 25 times a second), against the same app with "Always on
# Top" off (controller stopped), both measured in this run over the same interval.
# Also the activation latency: pointer moved over the window until it is the active window, five
# times in and out, on the quiet machine and with two disk writers and two CPU spinners running
# (for the few seconds of those tries only; the machine is shared).
# Usage: bench/focus_idle_bench.sh BUILD [SECONDS]   (needs Xvfb, openbox, xdotool, python3-tk)
set -euo pipefail
build=${1:?usage: focus_idle_bench.sh BUILD [SECONDS]}
seconds=${2:-20}
work=$(mktemp -d)
cleanup() {
  for p in "${load[@]}"; do kill -- "-$p" 2>/dev/null || true; done
  kill "${pids[@]}" 2>/dev/null || true; wait 2>/dev/null || true; rm -rf "$work"
}
pids=()
load=()
trap cleanup EXIT

. "$(dirname "$0")/../scripts/x11-session.sh"
start_x11_session "$(free_x11_display 170)"

export XDG_CONFIG_HOME=$work/config XDG_DATA_HOME=$work/data HOME=$work XDG_RUNTIME_DIR=$work/runtime
export DBUS_SESSION_BUS_ADDRESS=unix:path=$work/no-bus
mkdir -m 700 -p "$XDG_RUNTIME_DIR"
"$build/wavelark" >/dev/null 2>&1 & app=$!; pids+=($app)
python3 -c "import tkinter; r = tkinter.Tk(); r.title('Partner'); r.geometry('500x400+800+100'); r.mainloop()" & pids+=($!)
for _ in $(seq 100); do partner=$(xdotool search --name '^Partner$' 2>/dev/null | head -1) && [ -n "$partner" ] && break; sleep 0.1; done
self=$(xdotool search --pid "$app" --name '^Wavelark$' | tail -1)
xdotool mousemove 1000 300 && xdotool windowactivate "$partner"
sleep 1

tries() { python3 "$(dirname "$0")/focus_latency.py" "$self" "$partner" 5 | paste -sd ' ' -; }
start_load() {
  for i in 1 2; do
    setsid bash -c "while :; do dd if=/dev/zero of='$work/load$i' bs=1M count=200 conv=fsync status=none; done" & load+=($!)
    setsid bash -c 'yes > /dev/null' & load+=($!)
  done
  pids+=("${load[@]}")
}
stop_load() { for p in "${load[@]}"; do kill -- "-$p" 2>/dev/null || true; done; load=(); rm -f "$work"/load?; }
idle_tries=$(tries)
start_load; sleep 1
loaded_tries=$(tries)
stop_load; sleep 1

ticks() { awk '{print $14 + $15}' "/proc/$app/stat"; }
measure() { local a b; a=$(ticks); sleep "$seconds"; b=$(ticks); echo $(( b - a )); }
hz=$(getconf CLK_TCK)
running=$(measure)
xdotool mousemove 200 500; sleep 0.3
# Stop the controller by turning "Always on Top" off through the app's own preference path:
# restart it with the pin off so the reference runs the very same binary.
kill "$app"; wait "$app" 2>/dev/null || true
python3 - "$work/config/Wavelark/Wavelark.plist" <<'PY'
import plistlib, sys
path = sys.argv[1]
with open(path, 'rb') as f:
    prefs = plistlib.load(f)
prefs['windowAlwaysOnTop'] = False
with open(path, 'wb') as f:
    plistlib.dump(prefs, f, fmt=plistlib.FMT_BINARY)
PY
"$build/wavelark" >/dev/null 2>&1 & app=$!; pids+=($app)
sleep 2
stopped=$(measure)

pct() { awk -v t="$1" -v hz="$hz" -v s="$seconds" 'BEGIN { printf "%.2f", 100 * t / hz / s }'; }
# "in out in out ..." in milliseconds: the tries, the slowest in and out, and the slowest round.
summary() {
  echo "$1" | awk '{ for (i = 1; i <= NF; i += 2) {
      if ($i == "timeout" || $(i+1) == "timeout") { t = 1; continue }
      if ($i > a) a = $i; if ($(i+1) > b) b = $(i+1); if ($i + $(i+1) > r) r = $i + $(i+1) }
    printf "in/out per try: %s; slowest in %d, out %d, round %d ms%s", $0, a, b, r, t ? " (TIMEOUT)" : "" }'
}
printf '| figure | value |\n|---|---|\n'
printf '| activation latency, quiet machine | %s |\n' "$(summary "$idle_tries")"
printf '| activation latency, 2 disk writers + 2 CPU spinners | %s |\n' "$(summary "$loaded_tries")"
printf '| idle CPU, controller running (%s s) | %s %% of one core |\n' "$seconds" "$(pct "$running")"
printf '| idle CPU, controller stopped (reference) | %s %% of one core |\n' "$(pct "$stopped")"
printf '| target | under 1 %% of one core while running |\n'
