# SPDX-FileCopyrightText: 2026 The Wavelark developers
# SPDX-License-Identifier: GPL-3.0-or-later
# Sourced by scripts that need a real X server with a window manager: starts Xvfb (1600x1000) on
# DISPLAY and openbox on it, waits until both answer, and appends their PIDs to the caller's
# `pids` array so that its cleanup ends them.
#
# Xvfb runs with -noreset: without it the server resets whenever its last client disconnects, and a
# window manager connecting during that reset is refused ("Failed to open the display"). For the
# same reason readiness is the server's socket, not a probing client.
start_x11_session() {
  local display=$1 log
  log=$(mktemp)
  Xvfb "$display" -screen 0 1600x1000x24 -nolisten tcp -noreset >/dev/null 2>&1 & pids+=($!)
  export DISPLAY=$display
  for _ in $(seq 100); do [ -S "/tmp/.X11-unix/X${display#:}" ] && break; sleep 0.1; done
  openbox >"$log" 2>&1 & pids+=($!)
  local wm=$!
  for _ in $(seq 200); do
    if xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q '#'; then
      rm -f "$log"
      return 0
    fi
    kill -0 "$wm" 2>/dev/null || break
    sleep 0.1
  done
  echo "openbox did not start on $display:" >&2
  cat "$log" >&2
  rm -f "$log"
  return 1
}

# The first display number from $1 up whose lock file is free.
free_x11_display() {
  local number=$1
  while [ -e "/tmp/.X${number}-lock" ] || [ -e "/tmp/.X11-unix/X${number}" ]; do
    number=$((number + 1))
  done
  echo ":$number"
}
