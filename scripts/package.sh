#!/usr/bin/env bash
# The package as a host and a workstation get it: installs the build into a
# temporary prefix, builds the example host against that prefix alone and
# starts it under Xvfb, then makes the Debian package, checks it (lintian,
# desktop-file-validate), installs it with apt-get and runs pravel from the
# PATH, the installed smoke test sequence from a folder of its own (and its
# PostgreSQL module only when a lab's database is named), and the
# installed pravel-board-check against the installed pravel-board. Run after
# scripts/test.sh has built build/.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build"
work="$(mktemp -d)"
trap 'kill "${board_pid:-}" 2>/dev/null || true; rm -rf "$work"' EXIT

echo "== install into $work/prefix"
cmake --install "$build" --prefix "$work/prefix" >/dev/null
libdir="$(dirname "$(find "$work/prefix" -name 'libfennick.so.2' | head -1)")"

echo "== the example host, built against the installed package only"
cp -r "$root/examples/minimal_host" "$work/host-src"
cmake -S "$work/host-src" -B "$work/host-build" -DCMAKE_PREFIX_PATH="$work/prefix" >/dev/null
cmake --build "$work/host-build" -j"$(nproc)" >/dev/null
LD_LIBRARY_PATH="$libdir" xvfb-run -a -s "-screen 0 1024x768x24" \
  "$work/host-build/minimal_host" --quit-after 3 2>/dev/null
echo "minimal_host ran and quit"

echo "== the Debian package"
desktop-file-validate "$root/packaging/pravel.desktop"
(cd "$build" && rm -f zelvar-core_*.deb && cpack -G DEB >/dev/null)
deb="$(ls "$build"/zelvar-core_*.deb)"
lintian --fail-on error "$deb" 2>&1 | grep -v "running with root privileges" || true
lintian --fail-on error "$deb" >/dev/null 2>&1
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$deb" </dev/null >/dev/null
echo "installed: $(command -v pravel)"
pravel --version

echo "== the installed smoke test, run where a user runs it"
mkdir "$work/run"
(cd "$work/run" && pravel --run /usr/share/doc/zelvar-core/sequences/smoke_test.json)
ls "$work/run/reports"/smoke_test_*.csv "$work/run/recordings"/rec_*.raw >/dev/null

echo "== the installed PostgreSQL module, loaded only for a lab's database"
started="$(cd "$work/run" && LD_DEBUG=libs pravel --run /usr/share/doc/zelvar-core/sequences/smoke_test.json 2>&1)"
if grep -q "calling init: .*libpq" <<<"$started"; then echo "libpq loaded without a lab's database" >&2; exit 1; fi
started="$(cd "$work/run" && LD_DEBUG=libs pravel --run /usr/share/doc/zelvar-core/sequences/smoke_test.json \
  --results postgresql://127.0.0.1:1/lab 2>&1)"
grep -q "calling init: .*/zelvar-core/pravel_postgres_results.so" <<<"$started"
echo "pravel_postgres_results.so loaded for a postgresql:// store only"

echo "== the installed pravel-board-check against the installed pravel-board"
pravel-board --listen 127.0.0.1:0 > "$work/board.out" 2>&1 &
board_pid=$!
for _ in $(seq 600); do grep -q "serving" "$work/board.out" 2>/dev/null && break; sleep 0.05; done
pravel-board-check "$(grep -o '127\.0\.0\.1:[0-9]*' "$work/board.out")" --quick
kill "$board_pid"
