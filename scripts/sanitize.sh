#!/usr/bin/env bash
# The whole test suite on a build with the address and undefined-behaviour
# sanitizers (build-asan/), then a seeded run of random GUI input on the
# sanitized bench. Not part of the test command: it takes a while.
#   scripts/sanitize.sh [SEED] [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
for p in xdotool openbox wmctrl; do
  command -v "$p" >/dev/null || DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$p" </dev/null
done
flags="-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZELVAR_BUILD_BENCHMARKS=OFF \
  -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" \
  -DCMAKE_SHARED_LINKER_FLAGS="-fsanitize=address,undefined" >/dev/null
cmake --build build-asan -j"$(nproc)"
# The toolkit's own libraries leak at exit by design: leaks are not counted.
export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1
(cd build-asan && xvfb-run -a -s "-screen 0 1280x1024x24" ctest -j2 --output-on-failure </dev/null)
python3 scripts/monkey.py build-asan/bin/pravel --seed "${1:-1}" --seconds "${2:-120}"
