#!/usr/bin/env bash
# How long pravel takes to its first mapped window, beside a bare wx frame:
# both started alternately RUNS times (default 10) on a display of their own
# under Xvfb, each in a fresh folder, timed from the start of the process to
# the first top-level window mapped (benchmarks/first_window_probe.cpp).
# Prints each median and the ratio of pravel's to the frame's.
#   scripts/startup_benchmark.sh [BUILD_DIR]   (default: build)
# Builds nothing: the targets pravel, bare_frame and first_window_probe
# must be built.
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
runs=${RUNS:-10}
for program in pravel bare_frame first_window_probe; do
  [ -x "$build/bin/$program" ] || { echo "$build/bin/$program is not built" >&2; exit 1; }
done
display=""
for n in $(seq 230 330); do
  if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then display=":$n"; break; fi
done
[ -n "$display" ] || { echo "no free display number" >&2; exit 1; }
work=$(mktemp -d)
Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
trap 'kill "$xvfb" 2>/dev/null || true; rm -rf "$work"' EXIT
for _ in $(seq 100); do [ -e "/tmp/.X11-unix/X${display#:}" ] && break; sleep 0.1; done
export DISPLAY="$display"

# One start of each, untimed: the files they read are then in memory for both.
probe() { (cd "$1" && "$build/bin/first_window_probe" "${@:2}"); }
mkdir -p "$work/warm"
probe "$work/warm" "$build/bin/pravel" >/dev/null
probe "$work/warm" "$build/bin/bare_frame" >/dev/null

pravel_ms=() frame_ms=()
for i in $(seq "$runs"); do
  mkdir -p "$work/pravel$i" "$work/frame$i"
  pravel_ms+=("$(probe "$work/pravel$i" "$build/bin/pravel")")
  frame_ms+=("$(probe "$work/frame$i" "$build/bin/bare_frame")")
done
median() { printf '%s\n' "$@" | sort -g | awk '{v[NR] = $1} END {
  print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
pravel=$(median "${pravel_ms[@]}")
frame=$(median "${frame_ms[@]}")
echo "pravel:     ${pravel_ms[*]} ms"
echo "bare frame: ${frame_ms[*]} ms"
awk -v p="$pravel" -v f="$frame" 'BEGIN {
  printf "median to the first mapped window: pravel %.1f ms, bare frame %.1f ms, ratio %.2f\n",
         p, f, p / f }'
