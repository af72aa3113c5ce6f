#!/usr/bin/env bash
# The Python client example against two servers of the board protocol, each
# in its own process and with a token: pravel-board, and the fake board of
# examples/python_board. The stubs are made as the examples say; a register
# is written, three seconds of events read into arrays and the register put
# back; the fake board's claims last two seconds, so the client keeps its
# claim only by renewing it as it reads; a board another client holds is told
# in a sentence; without the token the board refuses the client. The fake
# board refuses an empty token file. Then pravel runs a sequence on the fake
# board.
#   python_client_test.sh PRAVEL_BOARD SOURCE_ROOT PRAVEL
set -euo pipefail
pravel_board="$1" root="$2" pravel="$3"
work="$(mktemp -d)"
trap 'kill "${pid:-}" 2>/dev/null || true; rm -rf "$work"' EXIT
"$root/examples/python_client/generate.sh" "$work/stubs"
echo "s3cret" > "$work/token"
chmod 600 "$work/token"  # a token others may read is refused
export PYTHONPATH="$work/stubs"
: > "$work/empty"
if /usr/bin/python3 "$root/examples/python_board/fake_board.py" --listen 127.0.0.1:0 \
    --token-file "$work/empty" > "$work/empty.out" 2>&1; then
  echo "the fake board served with an empty token" >&2
  exit 1
fi
grep -q "^fake_board.py: the token file $work/empty holds no token$" "$work/empty.out"
# Claims the board at $1 as "another script" (prints the session), or
# releases the session $2.
other_client() {
  /usr/bin/python3 - "$1" "$work/token" "${2:-}" <<'PY'
import sys, grpc
from zelvar.board.v1 import board_pb2 as pb, board_pb2_grpc as rpc
address, token_file, session = sys.argv[1:4]
token = [("authorization", "Bearer " + open(token_file).readline().strip())]
board = rpc.BoardStub(grpc.insecure_channel(address))
if session:
    board.Release(pb.ReleaseRequest(), metadata=token + [("zelvar-session", session)], timeout=5)
else:
    print(board.Claim(pb.ClaimRequest(client="another script"), metadata=token, timeout=5).session)
PY
}
for server in "$pravel_board" "/usr/bin/python3 $root/examples/python_board/fake_board.py --lease 2"; do
  echo "== $server"
  rm -f "$work/server.out"
  $server --listen 127.0.0.1:0 --token-file "$work/token" > "$work/server.out" 2>&1 &
  pid=$!
  for _ in $(seq 600); do grep -q "serving" "$work/server.out" 2>/dev/null && break; sleep 0.05; done
  address="$(grep -o '127\.0\.0\.1:[0-9]*' "$work/server.out")"
  client=(/usr/bin/python3 "$root/examples/python_client/board_client.py" --board "$address")
  "${client[@]}" --token-file "$work/token" --seconds 3 > "$work/client.out"
  cat "$work/client.out"
  grep -q "^VTH_ON 2400 -> 2200$" "$work/client.out"
  grep -q "^VTH_ON put back to 2400$" "$work/client.out"
  # Events that decode: ON and OFF add up to the count read. How much board
  # time they span depends on how fast the machine is, and is not checked.
  read -r events on off < <(sed -nE \
    's/^Read ([0-9]+) events in [0-9]+\.[0-9]+ s of board time: ([0-9]+) ON, ([0-9]+) OFF, .*/\1 \2 \3/p' \
    "$work/client.out") || true
  if [ "${events:-0}" -eq 0 ] || [ $((on + off)) -ne "$events" ]; then
    echo "the events read do not add up: ${events:-none} read, ${on:-?} ON, ${off:-?} OFF" >&2
    exit 1
  fi
  session="$(other_client "$address")"
  if "${client[@]}" --token-file "$work/token" > "$work/held.out" 2>&1; then
    echo "a held board was claimed" >&2
    exit 1
  fi
  grep -q "^The board at $address cannot be claimed: The board is in use by another script at " \
    "$work/held.out"
  echo "held by another: $(tail -1 "$work/held.out")"
  other_client "$address" "$session"
  if "${client[@]}" > "$work/refused.out" 2>&1; then
    echo "a client without the token was let in" >&2
    exit 1
  fi
  grep -q "The board refuses the call: wrong or missing token" "$work/refused.out"
  echo "refused without the token: $(tail -1 "$work/refused.out")"
  [ "$server" = "$pravel_board" ] || break  # the fake board stays for pravel
  kill "$pid"
  wait "$pid" 2>/dev/null || true
done
echo "== the fake board's FIFO: three seconds of the dot nobody took"
/usr/bin/python3 - "$root/examples/python_board" <<'PY'
import sys
sys.path.insert(0, sys.argv[1])
import fake_board
board = fake_board.FakeBoard()
board.acquiring = True
words, n = board.events(0, 3_000_000)
assert (n, board.lost) == (fake_board.FIFO_EVENTS, 300_000 - fake_board.FIFO_EVENTS), (n, board.lost)
print(f"{n} events kept, {board.lost} lost by the board")
PY
echo "== pravel --board $address --run, on the fake board"
cat > "$work/fake.json" <<'JSON'
{"name": "on the fake board", "steps": [
  {"set": "VTH_ON", "value": 2100},
  {"measure": 0.5},
  {"expect": "on_rate_mean", "min": 30000, "max": 70000},
  {"record": 0.5}]}
JSON
(cd "$work" && "$pravel" --board "$address" --token-file "$work/token" --run fake.json) | tee "$work/run.out"
grep -q "Fake dot board FAKE-1 0.1 at $address" "$work/run.out"
grep -q "^1 of 1 expectations held" "$work/run.out"
ls "$work"/recordings/rec_*.raw
