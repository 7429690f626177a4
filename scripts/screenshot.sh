#!/usr/bin/env bash
# Makes the pictures of the desktop program in docs/: a result list over
# this repository (docs/screenshot.png) and a statement error marked in the
# editor (docs/screenshot-error.png). The main window is shown on a virtual
# display (Xvfb) and grabbed by tests/ui/screenshot_main.cpp.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc 2>/dev/null || echo 2)" --target corvane-screenshot
xvfb-run -a -s "-screen 0 1280x800x24" env QT_QPA_PLATFORM=xcb \
    build/tests/ui/corvane-screenshot "$PWD" docs
