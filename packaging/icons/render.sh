#!/usr/bin/env bash
# Renders the PNG sizes of the program's icon from corvane.svg (committed,
# so that building needs no SVG renderer). Run after editing the SVG.
set -euo pipefail
cd "$(dirname "$0")"
../../scripts/setup.sh librsvg2-bin
for size in 16 24 32 48 64 128 256; do
    rsvg-convert -w "$size" -h "$size" corvane.svg -o "corvane-$size.png"
done
