#!/usr/bin/env bash
# The migration week's numbers: a second pass over a finished copy, against
# rsync -a doing the same no-op pass, and the peak memory of a copy of a very
# large tree.
#
#   [USERS="300 3000"] [FILES="300000 1000000"] [BASELINE=older/corvane-fileop]
#   bench/fileop/cutover.sh [WORKDIR] [RUNS]   (defaults: /var/tmp/corvane-bench, 3; as root)
#
# Second pass: make_home_tree.py trees of USERS users (100 files each); each is
# copied once by both tools, then, from a cold cache, each tool runs again over
# its own finished copy (rsync -a SRC/ COPY/, corvane-fileop copy --yes-to-all).
# Memory: trees of FILES tiny files (100 to a folder), copied once; the peak
# resident set (max RSS) comes from /usr/bin/time. BASELINE measures an older
# build alongside.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
work=${1:-/var/tmp/corvane-bench}
runs=${2:-3}
fileop=${FILEOP:-$here/../../build/corvane/corvane-fileop}
users_list=${USERS:-300 3000}
files_list=${FILES:-300000 1000000}
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
echo "| tree | rsync -a, second pass (s) | corvane-fileop, second pass (s) | ours / rsync -a |"
echo "|---|---|---|---|"
for users in $users_list; do
  src=$work/home-$users
  [ -d "$src" ] || python3 "$here/make_home_tree.py" "$src" --users "$users" --big-mean 0 > /dev/null
  count=$(find "$src" -type f | wc -l)
  rm -rf "$work/second-rsync" "$work/second-ours"
  mkdir -p "$work/second-rsync" "$work/second-ours"
  rsync -a "$src/" "$work/second-rsync/"
  "$fileop" copy --silent --yes-to-all "$src" "$work/second-ours" > /dev/null 2>&1
  rs=0
  ours=0
  for ((i = 1; i <= runs; i++)); do
    drop_caches
    rs=$(echo "$rs + $(seconds rsync -a "$src/" "$work/second-rsync/")" | bc -l)
    drop_caches
    ours=$(echo "$ours + $(seconds "$fileop" copy --silent --yes-to-all "$src" "$work/second-ours")" | bc -l)
  done
  printf '| %d files | %.2f | %.2f | %.2f |\n' "$count" "$(echo "$rs / $runs" | bc -l)" \
    "$(echo "$ours / $runs" | bc -l)" "$(echo "$ours / $rs" | bc -l)"
  rm -rf "$work/second-rsync" "$work/second-ours"
done

make_tiny_tree() { # root count
  python3 - "$1" "$2" << 'EOF'
import os, sys
root, count = sys.argv[1], int(sys.argv[2])
for i in range(count):
    d = os.path.join(root, "u%04d" % (i // 10000), "d%03d" % (i // 100 % 100))
    if i % 100 == 0:
        os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, "f%02d.txt" % (i % 100)), "w") as f:
        f.write("x" * 100)
EOF
}

echo
echo "| files copied | corvane-fileop: time (s) | peak RSS (MB) |$([ -n "$baseline" ] && echo " baseline: time (s) | baseline: peak RSS (MB) |")"
echo "|---|---|---|$([ -n "$baseline" ] && echo "---|---|")"
for files in $files_list; do
  src=$work/tiny-$files
  [ -d "$src" ] || make_tiny_tree "$src" "$files"
  row="| $files |"
  for tool in "$fileop" $baseline; do
    rm -rf "$work/tiny-copy"
    drop_caches
    t0=$(date +%s.%N)
    /usr/bin/time -f %M -o "$work/rss" "$tool" copy --silent --no-confirm-mkdir "$src" "$work/tiny-copy" > /dev/null 2>&1
    t1=$(date +%s.%N)
    row="$row $(printf '%.1f' "$(echo "$t1 - $t0" | bc -l)") | $(echo "$(cat "$work/rss") / 1024" | bc) |"
  done
  echo "$row"
  rm -rf "$work/tiny-copy"
done
echo
echo "load average at end: $(cut -d' ' -f1-3 /proc/loadavg)"
