#!/usr/bin/env bash
# Redraws the program's pictures and its cursor file into resources/ from
# resources/artwork/drawArtwork.cpp. Run it after changing the drawing code,
# look at the results, and commit them with the change.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh build
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target corvane_draw_artwork
QT_QPA_PLATFORM=offscreen build/src/app/corvane_draw_artwork resources
ls -l resources/images resources/point.cur
