#!/usr/bin/env bash
# The board link's tests on a ThreadSanitizer build (build-tsan/): the
# server's, the remote board's and the checker's (board_server_test), and
# the bench over the link (pravel_e2e_test, its served-board cases). Every
# report is printed; the run fails when one is left. tsan.supp says which
# libraries are not checked, and why. Not part of the test command: it needs
# a build of its own, and under it everything runs 5 to 20 times slower: the
# tests that need the simulated board's full event rate (the strangers' cap,
# the served sweep, sometimes the served sequence) fail for that alone.
#   scripts/tsan.sh [SERVER_TEST_FILTER [E2E_TEST_FILTER]]
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZELVAR_TSAN=ON \
  -DZELVAR_BUILD_BENCHMARKS=OFF >/dev/null
cmake --build build-tsan -j"$(nproc)" --target board_server_test pravel_e2e_test pravel-board

# The tests' caps on their waits and their calls' deadlines ten times longer
# (tests/support/eventually.h): everything runs that much slower here. The
# program's own deadlines stay as they are.
export ZELVAR_TEST_TIME_SCALE="${ZELVAR_TEST_TIME_SCALE:-10}"
repo=$PWD
# The tests write their files where they run: a folder of their own.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
# Every process writes its reports to a file of its own: the tests' and the
# pravel-board processes they start, whose output the tests keep to themselves.
# ThreadSanitizer remembers the address of every race it suppressed and looks
# through them all at each new one: over a long run of gRPC calls that look
# grows until a test's calls take minutes. Equal addresses are not looked up
# (a race left in this project's code is still reported, only maybe twice).
export TSAN_OPTIONS="suppressions=$repo/tsan.supp halt_on_error=0 second_deadlock_stack=1 \
suppress_equal_addresses=0 log_path=$work/tsan-report"
status=0
"$repo"/build-tsan/bin/board_server_test --gtest_filter="${1:-*}" || status=1
xvfb-run -a -s "-screen 0 1280x1024x24" "$repo"/build-tsan/bin/pravel_e2e_test \
  --gtest_filter="${2:-ServedBench*:LyingServedBench*:ServedSmallSensor*:FakePythonBoard*:BoardChangingSensor.ASerialAnswer*}" || status=1
reports=0
for file in "$work"/tsan-report.*; do
  [ -e "$file" ] || continue
  cat "$file"
  reports=$((reports + $(grep -c "WARNING: ThreadSanitizer" "$file" || true)))
done
echo "ThreadSanitizer reports: $reports"
[ "$reports" -eq 0 ] || status=1
exit "$status"
