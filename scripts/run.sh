#!/usr/bin/env bash
# Installs what is missing, builds, and runs the main job.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc 2>/dev/null || echo 2)"
if [ -x build/cli/corvane-cli ]; then
    exec build/cli/corvane-cli "select filename, size, lastwritetime from '$PWD/docs'"
fi
echo "Built. The test suite: scripts/test.sh"
