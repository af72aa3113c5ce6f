#!/usr/bin/env bash
# pravel on an address and undefined-behaviour sanitizer build (build-asan/)
# against each way tests/bench/remote/lying_board.py lies: `--run` of a
# sequence that programs, writes, measures and records, then the window
# acquiring and recording for a few seconds and told to stop by SIGTERM (so
# that its whole shutdown is checked too). Every report is printed, counted
# per mode and in all; the script fails when one is left or a run hangs or
# crashes. Not part of the test command: it builds a tree of its own.
#   scripts/asan_lies.sh [MODE...]      (every mode by default)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "$@"
fi
flags="-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZELVAR_BUILD_BENCHMARKS=OFF \
  -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" \
  -DCMAKE_SHARED_LINKER_FLAGS="-fsanitize=address,undefined" >/dev/null
cmake --build build-asan -j"$(nproc)" --target pravel
pravel="$root/build-asan/bin/pravel"
# The toolkit's own libraries leak at exit by design: leaks are not counted.
# A sanitizer that ends the program exits 99, which no run of pravel does.
export ASAN_OPTIONS=detect_leaks=0:exitcode=99 UBSAN_OPTIONS=print_stacktrace=1:exitcode=99

modes=("$@")
if [ ${#modes[@]} -eq 0 ]; then
  # The modes as the lying board lists them in its own description.
  mapfile -t modes < <(sed -n '/^  [a-z0-9_][a-z0-9_]*  /s/^  \([a-z0-9_]*\) .*/\1/p' \
    tests/bench/remote/lying_board.py)
fi
work="$(mktemp -d)"
server=""
cleanup() {
  [ -n "$server" ] && kill "$server" 2>/dev/null || true
  # What each mode printed stays for a look: build-asan/lies/.
  rm -rf "$root/build-asan/lies"
  mkdir -p "$root/build-asan/lies"
  cp "$work"/*.out "$root/build-asan/lies/" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
examples/python_client/generate.sh "$work/stubs"
export PYTHONPATH="$work/stubs:$root/examples/python_board"
echo "s3cret" >"$work/token"
chmod 600 "$work/token"
cd "$work"
"$pravel" --sample-bitstream bits/sample.bit >/dev/null
cat >run.json <<'JSON'
{"name": "on a lying board", "steps": [
  {"program": "bits/sample.bit"},
  {"set": "VTH_ON", "value": 2100},
  {"measure": 1.0},
  {"record": 1.0},
  {"wait": 2.0}]}
JSON

reports_in() { grep -cE "ERROR: AddressSanitizer|runtime error:|SUMMARY: UndefinedBehaviorSanitizer" "$1" || true; }
# Waits up to $2 s for process $1 to end; `ended` is then its exit status, or "hung".
wait_for_end() {
  for _ in $(seq $(($2 * 10))); do
    if ! kill -0 "$1" 2>/dev/null; then
      ended=0
      wait "$1" || ended=$?
      return
    fi
    sleep 0.1
  done
  kill -9 "$1" 2>/dev/null || true
  wait "$1" 2>/dev/null || true
  ended=hung
}

total=0 failed=0
printf '%-14s %-8s %-8s %s\n' MODE RUN WINDOW REPORTS
for mode in "${modes[@]}"; do
  /usr/bin/python3 "$root/tests/bench/remote/lying_board.py" --lie "$mode" --listen 127.0.0.1:0 \
    --token-file token >"server_$mode.out" 2>&1 &
  server=$!
  for _ in $(seq 600); do grep -q "serving" "server_$mode.out" 2>/dev/null && break; sleep 0.05; done
  address="$(grep -o '127\.0\.0\.1:[0-9]*' "server_$mode.out")"

  env -u DISPLAY "$pravel" --board "$address" --token-file token --run run.json \
    >"run_$mode.out" 2>&1 </dev/null &
  wait_for_end $! 300
  run_status=$ended

  "$pravel" --board "$address" --token-file token --measure 3600 --all-tools \
    >"window_$mode.out" 2>&1 </dev/null &
  window=$!
  # A few seconds once the window stands (or at once if it was refused).
  for _ in $(seq 600); do
    grep -q "Main window shown" "window_$mode.out" 2>/dev/null && break
    kill -0 "$window" 2>/dev/null || break
    sleep 0.1
  done
  sleep 4
  kill -TERM "$window" 2>/dev/null || true
  wait_for_end "$window" 120
  window_status=$ended
  kill "$server" 2>/dev/null || true
  wait "$server" 2>/dev/null || true
  server=""

  reports=$(($(reports_in "run_$mode.out") + $(reports_in "window_$mode.out")))
  total=$((total + reports))
  printf '%-14s %-8s %-8s %s\n' "$mode" "$run_status" "$window_status" "$reports"
  # A crash or a hang is a failure: a sanitizer's abort, a signal, no end.
  for s in "$run_status" "$window_status"; do
    if [ "$s" = hung ] || { [ "$s" -ge 128 ] && [ "$s" -ne 143 ]; } || [ "$s" -eq 99 ]; then
      failed=1
    fi
  done
  if [ "$reports" -ne 0 ]; then
    grep -hE -A30 "ERROR: AddressSanitizer|runtime error:" "run_$mode.out" "window_$mode.out" || true
  fi
done
echo "Sanitizer reports: $total"
[ "$total" -eq 0 ] && [ "$failed" -eq 0 ]
