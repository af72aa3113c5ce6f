#!/usr/bin/env bash
# Runs a command on a display of its own with a window manager (openbox)
# under Xvfb, as a user's desktop would place and size the windows.
#   scripts/with_window_manager.sh COMMAND [ARGS...]
set -euo pipefail
display=""
for n in $(seq 120 220); do
  if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then display=":$n"; break; fi
done
[ -n "$display" ] || { echo "no free display number" >&2; exit 1; }
Xvfb "$display" -screen 0 ${SCREEN:-1800x1150x24} -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
trap 'kill "${wm:-}" "$xvfb" 2>/dev/null || true' EXIT
for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X${display#:}" ] && break; sleep 0.1; done
DISPLAY="$display" openbox >/dev/null 2>&1 &
wm=$!
sleep 1
DISPLAY="$display" "$@"
