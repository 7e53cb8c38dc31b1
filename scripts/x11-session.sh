# Sourced by scripts that need a real X server with a window manager: starts Xvfb (1600x1000) on
# DISPLAY and openbox on it, waits until both answer, and appends their PIDs to the caller's
# `pids` array so that its cleanup ends them.
start_x11_session() {
  local display=$1
  Xvfb "$display" -screen 0 1600x1000x24 -nolisten tcp >/dev/null 2>&1 & pids+=($!)
  export DISPLAY=$display
  for _ in $(seq 100); do xprop -root >/dev/null 2>&1 && break; sleep 0.1; done
  openbox >/dev/null 2>&1 & pids+=($!)
  for _ in $(seq 100); do
    xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q '#' && return 0
    sleep 0.1
  done
  echo "openbox did not start on $display" >&2
  return 1
}
