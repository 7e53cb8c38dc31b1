#!/usr/bin/env bash
# Idle cost of focus follows mouse: the app docked and on top with a partner learnt and the
# pointer still (the controller polls 25 times a second), against the same app with "Always on
# Top" off (controller stopped), both measured in this run over the same interval.
# Also the activation latency: pointer moved over the window until it is the active window.
# Usage: bench/focus_idle_bench.sh BUILD [SECONDS]   (needs Xvfb, openbox, xdotool, python3-tk)
set -euo pipefail
build=${1:?usage: focus_idle_bench.sh BUILD [SECONDS]}
seconds=${2:-20}
work=$(mktemp -d)
cleanup() { kill "${pids[@]}" 2>/dev/null || true; wait 2>/dev/null || true; rm -rf "$work"; }
pids=()
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

active() { xprop -root _NET_ACTIVE_WINDOW | sed 's/.*# //'; }
latency() { # pointer to X Y until the active window is $3; prints milliseconds
  local start end
  start=$(date +%s%N); xdotool mousemove "$1" "$2"
  while [ "$(printf '%d' "$(active)")" != "$(printf '%d' "$3")" ]; do
    (( ($(date +%s%N) - start) > 3000000000 )) && { echo timeout; return; }
  done
  end=$(date +%s%N); echo $(( (end - start) / 1000000 ))
}
to_self=$(latency 200 500 "$self"); sleep 0.3
to_partner=$(latency 1000 300 "$partner"); sleep 0.3

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
printf '| figure | value |\n|---|---|\n'
printf '| activation latency, pointer onto Wavelark | %s ms |\n' "$to_self"
printf '| activation latency, pointer onto the partner | %s ms |\n' "$to_partner"
printf '| idle CPU, controller running (%s s) | %s %% of one core |\n' "$seconds" "$(pct "$running")"
printf '| idle CPU, controller stopped (reference) | %s %% of one core |\n' "$(pct "$stopped")"
printf '| target | under 1 %% of one core while running |\n'
