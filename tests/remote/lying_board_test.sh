#!/usr/bin/env bash
# pravel --board ... --run against a board server that lies one way
# (tests/bench/remote/lying_board.py --lie MODE): the run says what was
# wrong in the board's reply in one sentence, does not hang (the test's
# timeout is a failure), does not crash, and reports nothing done that was not.
# The last step waits, so that a lie the board tells late is still seen.
#   lying_board_test.sh PRAVEL SOURCE_ROOT MODE EXIT SENTENCE
# EXIT is the run's expected exit status ("fails": any but 0 and a crash's);
# SENTENCE an extended regular expression one line of its output matches.
set -euo pipefail
pravel="$1" root="$2" mode="$3" expected_exit="$4" sentence="$5"
work="$(mktemp -d)"
trap 'kill "${pid:-}" 2>/dev/null || true; rm -rf "$work"' EXIT
"$root/examples/python_client/generate.sh" "$work/stubs"
export PYTHONPATH="$work/stubs:$root/examples/python_board"
echo "s3cret" > "$work/token"
chmod 600 "$work/token"  # a token others may read is refused
/usr/bin/python3 "$root/tests/bench/remote/lying_board.py" --lie "$mode" --listen 127.0.0.1:0 \
  --token-file "$work/token" > "$work/server.out" 2>&1 &
pid=$!
for _ in $(seq 600); do grep -q "serving" "$work/server.out" 2>/dev/null && break; sleep 0.05; done
address="$(grep -o '127\.0\.0\.1:[0-9]*' "$work/server.out")"
cd "$work"
"$pravel" --sample-bitstream bits/sample.bit > /dev/null
cat > run.json <<'JSON'
{"name": "on a lying board", "steps": [
  {"program": "bits/sample.bit"},
  {"set": "VTH_ON", "value": 2100},
  {"measure": 1.0},
  {"record": 1.0},
  {"wait": 2.0}]}
JSON
status=0
"$pravel" --board "$address" --token-file "$work/token" --run run.json > run.out 2>&1 || status=$?
cat run.out
if [ "$status" -ge 128 ]; then echo "pravel ended by signal $((status - 128))" >&2; exit 1; fi
if [ "$expected_exit" = fails ]; then
  [ "$status" -ne 0 ] || { echo "the run passed on a board that lies ($mode)" >&2; exit 1; }
else
  [ "$status" -eq "$expected_exit" ] || { echo "pravel exited $status, not $expected_exit" >&2; exit 1; }
fi
grep -Eq -- "$sentence" run.out || { echo "no line says: $sentence" >&2; exit 1; }
# Nothing done that was not: a programming that did not say done is not "Programmed".
if [ "$mode" = never_done ] || [ "$mode" = stalled ]; then
  if grep -q "program.*: done\|Programmed" run.out; then
    echo "a programming the board did not finish was reported done" >&2
    exit 1
  fi
fi
