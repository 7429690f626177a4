#!/usr/bin/env bash
# Builds the Debian package corvane_<version>_<arch>.deb into the repository
# root from a build folder (default: build, the one scripts/test.sh makes),
# configuring and building it first when needed. The desktop program is in
# the package when it was built (Qt 6 and QScintilla installed).
# Usage: scripts/package.sh [BUILD_DIR]
# Install it with: apt-get install ./corvane_<version>_<arch>.deb
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
scripts/setup.sh
jobs=$(nproc 2>/dev/null || echo 2)

if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" -j "$jobs"

rm -f "$build"/corvane_*.deb
(cd "$build" && cpack -G DEB >cpack.log 2>&1) || { cat "$build/cpack.log"; exit 1; }
debs=("$build"/corvane_*.deb)
[ -f "${debs[0]}" ] || { cat "$build/cpack.log"; echo "cpack made no package"; exit 1; }
rm -f corvane_*.deb
mv "${debs[0]}" .
deb=$(basename "${debs[0]}")
echo "== $deb"
dpkg-deb --field "$deb" Package Version Architecture Depends Recommends Installed-Size
