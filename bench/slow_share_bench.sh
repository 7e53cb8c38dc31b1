#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 The Wavelark developers
# SPDX-License-Identifier: GPL-3.0-or-later
# How long the GUI thread waits on a slow share. A library is mounted through slowfs.py (every
# call answers after DELAY ms; a folder named "Stalled Kit" answers after 8 s, as a sleeping disk
# does), with a FIFO named kick7.wav among the samples (a file whose open() never returns) and a
# link in Drums to a sample of the stalled folder (a sample on the sleeping disk that the listing
# of Drums does not touch). The real window is driven under Xvfb and openbox: expand the library
# and Drums, arrow through the kicks onto the stalled sample, play another sample, select the
# FIFO, play another, then click into the stalled folder, select a sample there and play another.
# The GUI thread's kernel wait is sampled every 5 ms; the longest and the total file-system wait
# are printed, all together and split by what waited (the preview: a stat, open or read of a
# sample; the tree and the rest: listings, lstat of entries, anything else). Whether the sample
# played after each stall was heard is read from what SDL's disk driver wrote.
# usage: bench/slow_share_bench.sh BUILD [DELAY_MS ...]   (default 20 200; run as root, needs
# fuse3, python3-fusepy, Xvfb, openbox, xdotool; SLOWFS overrides the path of slowfs.py, KEEP=DIR
# keeps the samples, VERBOSE=1 lists every wait of 50 ms or more)
set -euo pipefail
build=$(realpath "${1:?usage: slow_share_bench.sh BUILD [DELAY_MS ...]}")
shift
delays=("$@")
[ $# -gt 0 ] || delays=(20 200)
here=$(cd "$(dirname "$0")" && pwd)
slowfs=${SLOWFS:-$here/../../shared/tools/slowfs.py}
stall_seconds=8
work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill -9 "$pid" 2>/dev/null || true; done
  # slowfs's own open of the FIFO waits for a writer: give it one, so that it can unmount.
  timeout 1 bash -c ": > '$work/src/Library/Drums/kick7.wav'" 2>/dev/null || true
  fusermount3 -u -z "$work/mnt" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

. "$here/../scripts/x11-session.sh"
start_x11_session "$(free_x11_display 190)"

python3 - "$work/src" <<'PY'
import math, os, struct, sys, wave
root = os.path.join(sys.argv[1], 'Library')
def tone(path, freq, seconds=0.4, rate=44100):
    with wave.open(path, 'wb') as w:
        w.setnchannels(1); w.setsampwidth(2); w.setframerate(rate)
        w.writeframes(b''.join(struct.pack('<h', int(12000 * math.sin(2 * math.pi * freq * i / rate)))
                               for i in range(int(seconds * rate))))
for folder, name, count in (('Drums', 'Kick %02d.wav', 12), ('Stalled Kit', 'Snare %02d.wav', 4),
                            ('Textures', 'Pad %02d.wav', 6)):
    os.makedirs(os.path.join(root, folder))
    for i in range(1, count + 1):
        tone(os.path.join(root, folder, name % i), 110 + 20 * i)
os.mkfifo(os.path.join(root, 'Drums', 'kick7.wav'))
os.symlink('../Stalled Kit/Snare 01.wav', os.path.join(root, 'Drums', 'Kick 13 (sleeping disk).wav'))
PY

# Rows of the tree once Library and Drums are open: Library, Drums, Kick 01…12, Kick 13 (the link
# to the sleeping disk), kick7.wav, Stalled Kit. The first row's centre and the row pitch, in
# screen pixels.
row_y() { echo $((159 + $1 * 24)); }

mark() { echo "$(date +%s.%N) $1" >>"$run/marks"; }
# A user waits until the rows they want to use have appeared: the window no longer freezes while
# a folder is read, it shows "Loading…" or "Not responding" there. Waits, up to 30 s, until row
# ROW shows a name in the primary text colour (the quiet rows are drawn dimmer).
wait_row() {
  python3 - "$(row_y "$1")" <<'PY'
import subprocess, sys, time
y = int(sys.argv[1])
end = time.monotonic() + 30
while time.monotonic() < end:
    strip = subprocess.run(['import', '-window', 'root', '-crop', f'340x9+60+{y - 4}', 'rgb:-'],
                           capture_output=True).stdout
    if any(min(strip[i:i + 3]) > 200 for i in range(0, len(strip) - 2, 3)):
        sys.exit(0)
    time.sleep(0.05)
PY
}
# A user waits for a frozen window before going on, up to 20 s.
settle() { sleep "${1:-0.2}"; python3 "$here/gui_fs_waits.py" settle "$app" "$app" 20; }
audio_at() { stat -c %s "$run/audio.raw" 2>/dev/null || echo 0; }
# Whether SDL's disk driver wrote sound (not silence) after byte OFFSET, within 4 s.
heard_since() {
  sleep 4
  python3 - "$run/audio.raw" "$1" <<'PY'
import array, sys
with open(sys.argv[1], 'rb') as f:
    f.seek(int(sys.argv[2]) // 8 * 8)
    data = array.array('f', f.read())
print('played' if any(abs(x) > 1e-3 for x in data) else 'NOT played')
PY
}

for delay in "${delays[@]}"; do
  run=$work/run-$delay
  mkdir -p "$work/mnt" "$run/runtime"
  chmod 700 "$run/runtime"
  /usr/bin/python3 "$slowfs" "$work/src" "$work/mnt" "$delay" "$stall_seconds" "Stalled" \
    >"$run/slowfs.log" 2>&1 &
  fs=$!; pids+=($fs)
  for _ in $(seq 100); do mountpoint -q "$work/mnt" && break; sleep 0.1; done
  export XDG_CONFIG_HOME=$run/config XDG_DATA_HOME=$run/data XDG_CACHE_HOME=$run/cache
  export HOME=$run XDG_RUNTIME_DIR=$run/runtime DBUS_SESSION_BUS_ADDRESS=unix:path=$run/no-bus
  export SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE=$run/audio.raw
  python3 - "$run/config/Wavelark/Wavelark.plist" "$work/mnt/Library" <<'PY'
import os, plistlib, sys
os.makedirs(os.path.dirname(sys.argv[1]), exist_ok=True)
with open(sys.argv[1], 'wb') as f:
    plistlib.dump({'rootFolderPaths': [sys.argv[2]]}, f, fmt=plistlib.FMT_BINARY)
PY
  "$build/wavelark" >"$run/app.log" 2>&1 &
  app=$!; pids+=($app)
  window=
  for _ in $(seq 300); do
    window=$(xdotool search --pid "$app" --name '^Wavelark$' 2>/dev/null | tail -1) && [ -n "$window" ] && break
    sleep 0.1
  done
  sleep 2
  python3 "$here/gui_fs_waits.py" sample "$app" "$app" "$run/waits" &
  sampler=$!; pids+=($sampler)

  mark "expand the library"; xdotool mousemove 60 "$(row_y 0)" click 1; settle 1; wait_row 3
  xdotool key Down; mark "expand Drums"; xdotool key Right; settle 1; wait_row 17
  mark "arrow through the kicks"
  for _ in $(seq 12); do xdotool key Down; sleep 0.2; done
  settle 1
  mark "select the sample on the sleeping disk"; xdotool key Down; settle 1
  mark "play another sample"; offset=$(audio_at); xdotool mousemove 60 "$(row_y 6)" click 1
  after_stalled=$(heard_since "$offset")
  mark "select the FIFO"; xdotool mousemove 60 "$(row_y 15)" click 1; settle 1
  mark "play another sample after the FIFO"; offset=$(audio_at)
  xdotool mousemove 60 "$(row_y 4)" click 1
  after_fifo=$(heard_since "$offset")
  mark "click into the stalled folder"; xdotool mousemove 60 "$(row_y 16)" click 1; settle 1
  wait_row 21
  mark "select a sample in the stalled folder"; xdotool key Down; settle 1
  mark "play another sample after the stalled folder"; offset=$(audio_at)
  xdotool mousemove 60 "$(row_y 8)" click 1
  after_folder=$(heard_since "$offset")
  mark "settle"; settle 2
  kill "$sampler"; wait "$sampler" 2>/dev/null || true

  echo "${delay} ms a call, a folder stalled for ${stall_seconds} s. The sample after the stalled one:" \
       "$after_stalled; after the FIFO: $after_fifo; after the stalled folder: $after_folder"
  python3 "$here/gui_fs_waits.py" report "$run/waits" "$run/marks"
  [ -z "${KEEP:-}" ] || { mkdir -p "$KEEP/$delay"; cp "$run/waits" "$run/marks" "$KEEP/$delay/"; }
  # A frozen window does not end on a polite request.
  kill "$app" 2>/dev/null || true
  for _ in $(seq 30); do kill -0 "$app" 2>/dev/null || break; sleep 0.1; done
  if kill -0 "$app" 2>/dev/null; then
    echo "  the app did not exit within 3 s of SIGTERM (killed)"
    kill -9 "$app" 2>/dev/null || true
  fi
  wait "$app" 2>/dev/null || true
  timeout 1 bash -c ": > '$work/src/Library/Drums/kick7.wav'" 2>/dev/null || true
  fusermount3 -u -z "$work/mnt" 2>/dev/null || true
  kill "$fs" 2>/dev/null || true
  wait "$fs" 2>/dev/null || true
done
