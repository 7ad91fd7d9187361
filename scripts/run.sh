#!/usr/bin/env bash
# Installs what is missing, builds the program and starts it from its
# application folder (build/corvane/). Idempotent: a second run only rebuilds
# what changed.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh build
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
# The program and the helper programs that live in its folder; the tests are
# left to scripts/test.sh.
targets=(corvane)
available=$(cmake --build build --target help 2>/dev/null || true)
for t in cacls; do
  if grep -qE "^\.\.\. $t( |$)" <<<"$available"; then targets+=("$t"); fi
done
cmake --build build -j"$(nproc)" --target "${targets[@]}"
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  echo "Corvane is built in build/corvane/, but it is a desktop program and no desktop" >&2
  echo "session is available here (DISPLAY and WAYLAND_DISPLAY are unset)." >&2
  echo "Run it from a desktop session, or under a virtual display:" >&2
  echo "    xvfb-run -a build/corvane/corvane" >&2
  exit 1
fi
exec build/corvane/corvane "$@"
