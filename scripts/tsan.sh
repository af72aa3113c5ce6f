#!/usr/bin/env bash
# The board link's tests on a ThreadSanitizer build (build-tsan/): the
# server's, the remote board's and the checker's (board_server_test), and
# the bench over the link (pravel_e2e_test, its served-board cases). Every
# report is printed; the run fails when one is left. tsan.supp says which
# libraries are not checked, and why. Not part of the test command: it takes
# long (everything runs 5 to 20 times slower).
#   scripts/tsan.sh [SERVER_TEST_FILTER [E2E_TEST_FILTER]]
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZELVAR_TSAN=ON \
  -DZELVAR_BUILD_BENCHMARKS=OFF >/dev/null
cmake --build build-tsan -j"$(nproc)" --target board_server_test pravel_e2e_test pravel-board
export TSAN_OPTIONS="suppressions=$PWD/tsan.supp halt_on_error=0 second_deadlock_stack=1"
# The tests' caps on their waits and their calls' deadlines ten times longer
# (tests/support/eventually.h): everything runs that much slower here. The
# program's own deadlines stay as they are.
export ZELVAR_TEST_TIME_SCALE="${ZELVAR_TEST_TIME_SCALE:-10}"
log=$(mktemp)
trap 'rm -f "$log"' EXIT
status=0
build-tsan/bin/board_server_test --gtest_filter="${1:-*}" 2>&1 | tee -a "$log" || status=1
xvfb-run -a -s "-screen 0 1280x1024x24" build-tsan/bin/pravel_e2e_test \
  --gtest_filter="${2:-ServedBench*:LyingServedBench*:ServedSmallSensor*:FakePythonBoard*:BoardChangingSensor.ASerialAnswer*}" 2>&1 | tee -a "$log" || status=1
reports=$(grep -c "WARNING: ThreadSanitizer" "$log" || true)
echo "ThreadSanitizer reports: $reports"
[ "$reports" -eq 0 ] || status=1
exit "$status"
