#!/usr/bin/env bash
# Peak memory and time of a same-file-system move that merges one huge folder
# into a folder of the same name that already exists at the destination.
#
#   [FILES=600000] [BASELINE=older/corvane-fileop] bench/fileop/merge_move.sh [WORKDIR] [RUNS]
#   (defaults: /var/tmp/corvane-bench, 3 runs)
#
# The folder's entries are renamed one by one into the existing folder; the
# peak resident set (max RSS) comes from /usr/bin/time. After each run the
# merged folder is renamed back, so every run moves the same entries. Runs of
# this build and BASELINE are interleaved.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
work=${1:-/var/tmp/corvane-bench}
runs=${2:-3}
files=${FILES:-600000}
fileop=${FILEOP:-$here/../../build/corvane/corvane-fileop}
baseline=${BASELINE:-}
[ -x "$fileop" ] || { echo "build corvane-fileop first ($fileop)"; exit 1; }
src=$work/merge-src
dst=$work/merge-dst
mkdir -p "$src" "$dst"

if [ ! -d "$src/one" ] || [ "$(find "$src/one" -maxdepth 1 -type f | wc -l)" != "$files" ]; then
  rm -rf "$src/one" "$dst/one"
  python3 - "$src/one" "$files" << 'PY'
import os, sys
root, count = sys.argv[1], int(sys.argv[2])
os.makedirs(root)
for i in range(count):
    os.close(os.open(os.path.join(root, "f%07d.txt" % i), os.O_CREAT | os.O_WRONLY, 0o644))
PY
fi

echo "machine: $(nproc) cores, load average at start: $(cut -d' ' -f1-3 /proc/loadavg)"
echo
echo "| build | run | time (s) | peak RSS (MB) |"
echo "|---|---|---|---|"
for ((i = 1; i <= runs; i++)); do
  for tool in "$fileop" $baseline; do
    label=$([ "$tool" = "$fileop" ] && echo this || echo baseline)
    rm -rf "$dst/one"
    mkdir -p "$dst/one"
    echo here > "$dst/one/already-there"
    /usr/bin/time -f "%e %M" -o "$work/merge-rss" "$tool" move --silent --yes-to-all "$src/one" "$dst" \
      > /dev/null 2>&1 || { echo "FAILED: $tool move" >&2; exit 1; }
    moved=$(find "$dst/one" -maxdepth 1 -type f | wc -l)
    if [ -e "$src/one" ] || [ "$moved" != "$((files + 1))" ]; then
      echo "$label: $moved entries arrived, source $([ -e "$src/one" ] && echo left || echo gone)" >&2
      exit 1
    fi
    read -r secs rss < "$work/merge-rss"
    echo "| $label | $i | $secs | $((rss / 1024)) |"
    rm "$dst/one/already-there"
    mv "$dst/one" "$src/one"
  done
done
echo
echo "load average at end: $(cut -d' ' -f1-3 /proc/loadavg)"
