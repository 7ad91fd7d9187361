#!/usr/bin/env bash
# Renders every window of the program to PNG files on Qt's offscreen platform:
#   scripts/screenshots.sh [OUTDIR]   (default: screenshots/)
# The pictures come from the GUI tests labelled "screenshot", which save what
# they render when CORVANE_SCREENSHOT_DIR is set.
set -euo pipefail
cd "$(dirname "$0")/.."
out=$(realpath -m "${1:-screenshots}")
bash scripts/install-deps.sh test
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)"
mkdir -p "$out"
CORVANE_SCREENSHOT_DIR="$out" QT_QPA_PLATFORM=offscreen ctest --test-dir build -L screenshot --output-on-failure
echo "Screenshots in $out:"
ls -1 "$out"
