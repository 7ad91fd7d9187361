#!/usr/bin/env bash
# The migration week's numbers: a second pass over a finished copy, against
# rsync -a doing the same no-op pass, and the peak memory of a copy of a very
# large tree.
#
#   [USERS="300 3000"] [FILES="300000 1000000"] [WIDE="600000"] [BASELINE=older/corvane-fileop]
#   bench/fileop/cutover.sh [WORKDIR] [RUNS]   (defaults: /var/tmp/corvane-bench, 3; as root)
#
# Second pass: make_home_tree.py trees of USERS users (100 files each); each is
# copied once by both tools, then, from a cold cache, each tool runs again over
# its own finished copy (rsync -a SRC/ COPY/, corvane-fileop copy --yes-to-all).
# Memory: trees of FILES tiny files (100 to a folder), copied once; the peak
# resident set (max RSS) comes from /usr/bin/time. Inside one folder: WIDE
# tiny files in a single folder, against the same count in folders of 1,000.
# BASELINE measures an older build alongside. An empty list skips its part.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
work=${1:-/var/tmp/corvane-bench}
runs=${2:-3}
fileop=${FILEOP:-$here/../../build/corvane/corvane-fileop}
users_list=${USERS-300 3000}
files_list=${FILES-300000 1000000}
wide_list=${WIDE-600000}
baseline=${BASELINE:-}
[ -x "$fileop" ] || { echo "build corvane-fileop first ($fileop)"; exit 1; }
mkdir -p "$work"

drop_caches() {
  sync
  [ -w /proc/sys/vm/drop_caches ] && echo 3 > /proc/sys/vm/drop_caches || true
}
seconds() { # command...
  local t0 t1
  t0=$(date +%s.%N)
  "$@" > /dev/null 2>&1 || { echo "FAILED: $*" >&2; exit 1; }
  t1=$(date +%s.%N)
  echo "$t1 - $t0" | bc -l
}

echo "machine: $(nproc) cores, load average at start: $(cut -d' ' -f1-3 /proc/loadavg)"
echo
echo "| tree | rsync -a, second pass (s) | corvane-fileop, second pass (s) | ours / rsync -a |$([ -n "$baseline" ] && echo " baseline, second pass (s) |")"
echo "|---|---|---|---|$([ -n "$baseline" ] && echo "---|")"
for users in $users_list; do
  src=$work/home-$users
  [ -d "$src" ] || python3 "$here/make_home_tree.py" "$src" --users "$users" --big-mean 0 > /dev/null
  count=$(find "$src" -type f | wc -l)
  rm -rf "$work/second-rsync" "$work/second-ours"
  mkdir -p "$work/second-rsync" "$work/second-ours"
  rsync -a "$src/" "$work/second-rsync/"
  "$fileop" copy --silent --yes-to-all "$src" "$work/second-ours" > /dev/null 2>&1
  [ -n "$baseline" ] && mkdir -p "$work/second-base" && "$baseline" copy --silent --yes-to-all "$src" "$work/second-base" > /dev/null 2>&1
  rs=0
  ours=0
  base=0
  for ((i = 1; i <= runs; i++)); do
    drop_caches
    rs=$(echo "$rs + $(seconds rsync -a "$src/" "$work/second-rsync/")" | bc -l)
    drop_caches
    ours=$(echo "$ours + $(seconds "$fileop" copy --silent --yes-to-all "$src" "$work/second-ours")" | bc -l)
    if [ -n "$baseline" ]; then
      drop_caches
      base=$(echo "$base + $(seconds "$baseline" copy --silent --yes-to-all "$src" "$work/second-base")" | bc -l)
    fi
  done
  printf '| %d files | %.2f | %.2f | %.2f |' "$count" "$(echo "$rs / $runs" | bc -l)" \
    "$(echo "$ours / $runs" | bc -l)" "$(echo "$ours / $rs" | bc -l)"
  [ -n "$baseline" ] && printf ' %.2f |' "$(echo "$base / $runs" | bc -l)"
  echo
  rm -rf "$work/second-rsync" "$work/second-ours" "$work/second-base"
done

make_tiny_tree() { # root count [per folder: 100 in u*/d*/, 1000 in d*/, 0 all in one folder]
  python3 - "$1" "$2" "${3:-100}" << 'EOF'
import os, sys
root, count, per = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
for i in range(count):
    if per == 100:
        d = os.path.join(root, "u%04d" % (i // 10000), "d%03d" % (i // 100 % 100))
    elif per == 0:
        d = os.path.join(root, "one")
    else:
        d = os.path.join(root, "d%04d" % (i // per))
    if i == 0 or (per and i % per == 0):
        os.makedirs(d, exist_ok=True)
    name = "f%07d.txt" % i if per == 0 else "f%02d.txt" % (i % per) if per == 100 else "f%04d.txt" % (i % per)
    with open(os.path.join(d, name), "w") as f:
        f.write("x" * 100)
EOF
}

copy_row() { # label source
  local row="| $1 |" t0 t1 tool
  for tool in "$fileop" $baseline; do
    rm -rf "$work/tiny-copy"
    drop_caches
    t0=$(date +%s.%N)
    /usr/bin/time -f %M -o "$work/rss" "$tool" copy --silent --no-confirm-mkdir "$2" "$work/tiny-copy" > /dev/null 2>&1
    t1=$(date +%s.%N)
    row="$row $(printf '%.1f' "$(echo "$t1 - $t0" | bc -l)") | $(echo "$(cat "$work/rss") / 1024" | bc) |"
  done
  echo "$row"
  rm -rf "$work/tiny-copy"
}

echo
echo "| files copied | corvane-fileop: time (s) | peak RSS (MB) |$([ -n "$baseline" ] && echo " baseline: time (s) | baseline: peak RSS (MB) |")"
echo "|---|---|---|$([ -n "$baseline" ] && echo "---|---|")"
for files in $files_list; do
  src=$work/tiny-$files
  [ -d "$src" ] || make_tiny_tree "$src" "$files"
  copy_row "$files" "$src"
done
for files in $wide_list; do
  one=$work/wide-one-$files
  many=$work/wide-many-$files
  [ -d "$one" ] || make_tiny_tree "$one" "$files" 0
  [ -d "$many" ] || make_tiny_tree "$many" "$files" 1000
  copy_row "$files in one folder" "$one"
  copy_row "$files in $((files / 1000)) folders" "$many"
done
echo
echo "load average at end: $(cut -d' ' -f1-3 /proc/loadavg)"
