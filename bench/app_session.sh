# SPDX-FileCopyrightText: 2026 The Wavelark developers
# SPDX-License-Identifier: GPL-3.0-or-later
# Sourced by the benches that run the real app at scale: a fresh home under $session on its own
# Xvfb with openbox, the library $lib as the one root (sound analysis paused), and the two
# live-change rows. Expects $repo, $session, $lib, $app_binary, the arrays pids and made, and say().

. "$repo/scripts/x11-session.sh"
start_x11_session "$(free_x11_display "${WAVELARK_X11_DISPLAY:-132}")"
export HOME=$session/home XDG_CONFIG_HOME=$session/config XDG_DATA_HOME=$session/data
export XDG_CACHE_HOME=$session/cache XDG_RUNTIME_DIR=$session/runtime
export DBUS_SESSION_BUS_ADDRESS=unix:path=$session/no-bus SDL_AUDIODRIVER=dummy
mkdir -p "$HOME" && mkdir -m 700 -p "$XDG_RUNTIME_DIR"
app_index=$XDG_DATA_HOME/Wavelark/index.plist
prefs=$XDG_CONFIG_HOME/Wavelark/Wavelark.plist
hz=$(getconf CLK_TCK)
app=

now_ns() { date +%s%N; }
median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR + 1) / 2)]}'; }
status_kb() { awk -v k="$1:" '$1 == k {print $2}' "/proc/$app/status" 2>/dev/null || true; }
mb() { awk -v kb="$1" 'BEGIN { if (kb == "") print "?"; else printf "%.0f", kb / 1024 }'; }
ticks() { awk '{print $14 + $15}' "/proc/$app/stat" 2>/dev/null || echo 0; }
# The index on disk is the index file and the journal of live changes beside it: the later
# modification time of the two, then what tells a whole write (the file's inode) and an append
# (the journal's size) apart.
stamp() {
  { stat -c '%.9Y %i %s' "$app_index" "$app_index.journal" 2>/dev/null || true; } |
    awk '$1 > m { m = $1 } NR == 1 { inode = $2 } NR == 2 { size = $3 }
         END { if (NR == 0) print "none"; else print m, inode, size }'
}
whole_stamp() { stat -c '%i' "$app_index" 2>/dev/null || echo none; }
start_app() {
  "$app_binary" >"$session/app.log" 2>&1 &
  app=$!
  pids+=("$app")
}
# Until the app used under 2 % of a core for 3 seconds in a row.
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
# Until the index file differs from stamp $1.
wait_written() {
  for _ in $(seq 6000); do
    [ "$(stamp)" != "$1" ] && return 0
    sleep 0.1
  done
  return 1
}
quit_app() {
  local window
  window=$(xdotool search --pid "$app" --name '^Wavelark$' 2>/dev/null | tail -1 || true)
  if [ -n "$window" ]; then
    xdotool windowactivate --sync "$window" key ctrl+q 2>/dev/null || true
  fi
  for _ in $(seq 300); do kill -0 "$app" 2>/dev/null || break; sleep 0.1; done
  kill "$app" 2>/dev/null || true
  wait "$app" 2>/dev/null || true
}
set_root() {
  python3 - "$prefs" "$lib" <<'PY'
import os, plistlib, sys
path, root = sys.argv[1], sys.argv[2]
prefs = {}
if os.path.exists(path):
    with open(path, 'rb') as f:
        prefs = plistlib.load(f)
prefs['rootFolderPaths'] = [root]
# Listening to a million files keeps the app busy for a long while; these rows measure the index
# and the watcher, so the analysis waits.
prefs['soundAnalysisPaused'] = True
os.makedirs(os.path.dirname(path), exist_ok=True)
with open(path, 'wb') as f:
    plistlib.dump(prefs, f, fmt=plistlib.FMT_BINARY)
PY
}

# One new file, $1 times: from its copy into a folder to the index file replaced. Sets latencies
# and new_file (their median, in seconds).
measure_new_file() {
  local target i before file start current
  target=$(find "$lib" -mindepth 3 -maxdepth 3 -type d -not -name '.*' | sort | awk 'NR == 1')
  sox -n -r 44100 -c 1 -b 16 "$session/tone.wav" synth 0.2 sine 440 2>/dev/null ||
    : >"$session/tone.wav"
  latencies=()
  for i in $(seq "$1"); do
    # A live change goes to the journal at once, and the index file is written whole half a
    # minute after the last one: a minute between samples finds each one at rest.
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
        latency=$(awk -v m="${current%% *}" -v s="$start" 'BEGIN { printf "%.2f", m - s / 1e9 }')
        break
      fi
      sleep 0.01
    done
    latencies+=("$latency")
  done
  new_file=$(printf '%s\n' "${latencies[@]}" | median)
}

# A pack unpacking: a folder, then 20 files, one every 0.5 s. Sets pack_cpu (the app's CPU
# seconds until 3 s after the last file), pack_appends and pack_writes (journal appends and whole
# index writes seen meanwhile), then compaction_cpu and compaction_s: the CPU of the whole write
# that follows once the changes have rested, and when it came after the last file.
measure_pack() {
  local pack first last seen whole i done_at
  pack="$lib/Wavelark Bench Pack"
  made+=("$pack")
  rm -rf "$pack" # left by a run that was cut short
  sleep 5
  wait_idle || true
  first=$(ticks)
  seen=$(stamp)
  whole=$(whole_stamp)
  pack_writes=0
  pack_appends=0
  counted() {
    local now now_whole
    now=$(stamp)
    now_whole=$(whole_stamp)
    if [ "$now_whole" != "$whole" ]; then
      pack_writes=$((pack_writes + 1))
    elif [ "$now" != "$seen" ]; then
      pack_appends=$((pack_appends + 1))
    fi
    seen=$now
    whole=$now_whole
  }
  mkdir "$pack"
  for i in $(seq 1 20); do
    cp "$session/tone.wav" "$pack/Bench Pack Hit $i.wav"
    sleep 0.5
    counted
  done
  done_at=$(now_ns)
  sleep 2.5
  counted
  last=$(ticks)
  pack_cpu=$(awk -v t="$((last - first))" -v hz="$hz" 'BEGIN { printf "%.2f", t / hz }')
  compaction_s=none
  for _ in $(seq 900); do
    if [ "$(whole_stamp)" != "$whole" ]; then
      compaction_s=$(awk -v n="$(now_ns)" -v d="$done_at" 'BEGIN { printf "%.0f", (n - d) / 1e9 }')
      break
    fi
    sleep 0.1
  done
  wait_idle || true
  compaction_cpu=$(awk -v t="$(($(ticks) - last))" -v hz="$hz" 'BEGIN { printf "%.2f", t / hz }')
}
