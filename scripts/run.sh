#!/usr/bin/env bash
# Installs what is missing, builds, and starts the bench program with its
# simulated board. Without a display it runs under Xvfb.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$(nproc)" --target pravel
mkdir -p run/bits
cd run
# A bitstream to try Device > Program with, on a first run.
[ -e bits/aer640_sample.bit ] || ../build/bin/pravel --sample-bitstream bits/aer640_sample.bit || true
if [ -n "${DISPLAY:-}" ]; then
  exec ../build/bin/pravel "$@"
else
  exec xvfb-run -a -s "-screen 0 1280x1024x24" ../build/bin/pravel "$@"
fi
