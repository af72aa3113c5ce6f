#!/usr/bin/env bash
# Installs what is missing, builds warning-free and runs every test under
# Xvfb (the layout tests of the bench and the example host again under a
# window manager), then checks the package: the example host against an
# installed copy, and the Debian package (lintian, installed, pravel from
# the PATH).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZELVAR_WERROR=ON
cmake --build build -j"$(nproc)"
(cd build && xvfb-run -a -s "-screen 0 1280x1024x24" ctest --output-on-failure </dev/null)
# The windows' layouts once more, placed and sized by a window manager.
(cd build && ../scripts/with_window_manager.sh ctest -R '^(Layout|LayoutCheck|ExampleHost)\.' --output-on-failure </dev/null)
bash scripts/package.sh
