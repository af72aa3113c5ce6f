#!/usr/bin/env bash
# pravel-board-check against one board server, started in a process of its
# own with a token: the checks that fail must be exactly those named (none:
# every check passes and the checker exits 0; otherwise it exits 1, a FAIL
# line for each named check and for no other).
#   board_check_test.sh CHECKER SOURCE_ROOT FAILS [CHECKER_OPTION...] -- SERVER...
# FAILS is "none" or the failing checks' names separated by commas. A
# Python server finds the protocol's stubs and the example fake board.
set -euo pipefail
checker="$1" root="$2" expected="$3"
shift 3
options=()
while [ "$1" != "--" ]; do options+=("$1"); shift; done
shift
work="$(mktemp -d)"
trap 'kill "${pid:-}" 2>/dev/null || true; rm -rf "$work"' EXIT
"$root/examples/python_client/generate.sh" "$work/stubs"
export PYTHONPATH="$work/stubs:$root/examples/python_board"
echo "s3cret" > "$work/token"
chmod 600 "$work/token"  # a token others may read is refused
"$@" --listen 127.0.0.1:0 --token-file "$work/token" > "$work/server.out" 2>&1 &
pid=$!
for _ in $(seq 600); do grep -q "serving" "$work/server.out" 2>/dev/null && break; sleep 0.05; done
address="$(grep -o '127\.0\.0\.1:[0-9]*' "$work/server.out")"
status=0
"$checker" "$address" --token-file "$work/token" "${options[@]}" > "$work/check.out" || status=$?
cat "$work/check.out"
failed="$(sed -n 's/^FAIL  \([^:]*\):.*/\1/p' "$work/check.out" | paste -sd, -)"
if [ "$expected" = none ]; then
  [ -z "$failed" ] || { echo "checks failed: $failed" >&2; exit 1; }
  [ "$status" -eq 0 ] || { echo "every check passed but the checker exited $status" >&2; exit 1; }
  grep -q "^pravel-board-check: [0-9]* checks passed" "$work/check.out"
else
  [ "$failed" = "$expected" ] || { echo "failed: ${failed:-none}; expected: $expected" >&2; exit 1; }
  [ "$status" -eq 1 ] || { echo "checks failed but the checker exited $status" >&2; exit 1; }
fi
