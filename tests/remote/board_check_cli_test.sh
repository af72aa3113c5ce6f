#!/usr/bin/env bash
# pravel-board-check's command line and the servers it cannot check: a
# refused command line (or a token or design it cannot read) exits 2 with
# one sentence; a server that wants a
# token not given, or nothing listening, fails the identity check, the run
# stops there and exits 1. Over TLS it needs the CA that signed the
# server's certificate.
#   board_check_cli_test.sh CHECKER PRAVEL_BOARD
set -euo pipefail
checker="$1" pravel_board="$2"
work="$(mktemp -d)"
trap 'kill "${pid:-}" 2>/dev/null || true; rm -rf "$work"' EXIT
expect() {  # expect STATUS TEXT COMMAND...
  local want="$1" text="$2" status=0
  shift 2
  "$@" > "$work/out" 2>&1 || status=$?
  cat "$work/out"
  [ "$status" -eq "$want" ] || { echo "exited $status, not $want" >&2; exit 1; }
  grep -qF -- "$text" "$work/out" || { echo "no line says: $text" >&2; exit 1; }
}
expect 2 "See pravel-board-check --help." "$checker"
expect 2 "pravel-board-check: nowhere is not an address with a port (HOST:PORT)" "$checker" nowhere
expect 2 "pravel-board-check: 127.0.0.1:99999: a port is at most 65535" "$checker" 127.0.0.1:99999
expect 2 "pravel-board-check: Cannot read the token file $work/none" \
  "$checker" 127.0.0.1:1 --token-file "$work/none"
expect 2 "pravel-board-check: Cannot read the bitstream $work: it is a folder" \
  "$checker" 127.0.0.1:1 --bitstream "$work"

echo "s3cret" > "$work/token"
chmod 600 "$work/token"  # a token others may read is refused
"$pravel_board" --listen 127.0.0.1:0 --token-file "$work/token" > "$work/server.out" 2>&1 &
pid=$!
for _ in $(seq 600); do grep -q "serving" "$work/server.out" 2>/dev/null && break; sleep 0.05; done
address="$(grep -o '127\.0\.0\.1:[0-9]*' "$work/server.out")"
expect 1 "FAIL  identity: the server wants a token (give --token-file F): UNAUTHENTICATED" \
  "$checker" "$address"
[ "$(grep -c '^\(PASS\|FAIL\|SKIP\)  ' "$work/out")" -eq 1 ] || { echo "the run went on" >&2; exit 1; }

kill "$pid"
wait "$pid" 2>/dev/null || true
expect 1 "FAIL  identity: nothing that speaks the board protocol answers at $address" \
  "$checker" "$address" --token-file "$work/token"
grep -q "^pravel-board-check: 1 of 1 checks failed: identity$" "$work/out"

# Over TLS: the checks pass with the CA that signed the server's certificate
# (made here, for 127.0.0.1), and the run stops at identity with another CA.
for ca in ca other; do
  openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 \
    -keyout "$work/$ca.key" -out "$work/$ca.pem" -subj "/CN=$ca" 2> /dev/null
done
openssl req -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -subj "/CN=127.0.0.1" \
  -keyout "$work/server.key" -out "$work/server.csr" 2> /dev/null
echo "subjectAltName=IP:127.0.0.1" > "$work/san.ext"
openssl x509 -req -in "$work/server.csr" -CA "$work/ca.pem" -CAkey "$work/ca.key" \
  -CAcreateserial -days 2 -extfile "$work/san.ext" -out "$work/server.pem" 2> /dev/null
chmod 600 "$work/server.key"
rm -f "$work/server.out"
"$pravel_board" --listen 127.0.0.1:0 --tls-cert "$work/server.pem" --tls-key "$work/server.key" \
  > "$work/server.out" 2>&1 &
pid=$!
for _ in $(seq 600); do grep -q "serving" "$work/server.out" 2>/dev/null && break; sleep 0.05; done
address="$(grep -o '127\.0\.0\.1:[0-9]*' "$work/server.out")"
expect 0 "PASS  identity" "$checker" "$address" --quick --tls-ca "$work/ca.pem"
expect 1 "FAIL  identity: The board server at $address is refused: its TLS certificate is not signed by the CA given with --tls-ca" \
  "$checker" "$address" --quick --tls-ca "$work/other.pem"
