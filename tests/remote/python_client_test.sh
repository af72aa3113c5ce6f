#!/usr/bin/env bash
# The Python client example against pravel-board in its own process, with a
# token: the stubs made as the example says, a register written, a second of
# events read into arrays; without the token the board refuses it.
#   python_client_test.sh PRAVEL_BOARD SOURCE_ROOT
set -euo pipefail
server="$1" root="$2"
work="$(mktemp -d)"
trap 'kill "${pid:-}" 2>/dev/null || true; rm -rf "$work"' EXIT
"$root/examples/python_client/generate.sh" "$work/stubs"
echo "s3cret" > "$work/token"
"$server" --listen 127.0.0.1:0 --token-file "$work/token" > "$work/server.out" 2>&1 &
pid=$!
for _ in $(seq 100); do grep -q "serving" "$work/server.out" 2>/dev/null && break; sleep 0.05; done
address="$(grep -o '127\.0\.0\.1:[0-9]*' "$work/server.out")"
client=(env PYTHONPATH="$work/stubs" /usr/bin/python3 "$root/examples/python_client/board_client.py"
        --board "$address")
"${client[@]}" --token-file "$work/token" > "$work/client.out"
cat "$work/client.out"
grep -q "^VTH_ON 2400 -> 2200$" "$work/client.out"
grep -Eq "^Read [1-9][0-9]* events in 1\.[0-9]+ s of board time" "$work/client.out"
if "${client[@]}" > "$work/refused.out" 2>&1; then
  echo "a client without the token was let in" >&2
  exit 1
fi
grep -q "The board refuses the call: wrong or missing token" "$work/refused.out"
echo "refused without the token: $(tail -1 "$work/refused.out")"
