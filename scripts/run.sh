#!/usr/bin/env bash
# Installs what is missing, builds, and starts the desktop program. On a
# machine without a display it says so and runs a command-line example
# instead.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc 2>/dev/null || echo 2)"

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -x build/app/corvane ]; then
    exec build/app/corvane
fi

if [ -x build/app/corvane ]; then
    echo "No display (DISPLAY and WAYLAND_DISPLAY are unset): the desktop program"
    echo "build/app/corvane needs one. Running a command-line example instead."
else
    echo "The desktop program was not built (Qt 6 or QScintilla missing)."
fi
example="select filename, size, lastwritetime from '$PWD/docs/*' order by filename"
if [ -x build/cli/corvane-cli ]; then
    echo "\$ corvane-cli \"$example\""
    exec build/cli/corvane-cli "$example"
fi
echo "The command-line front end is not built yet. The test suite: scripts/test.sh"
