#!/usr/bin/env bash
# Times cp -a, rsync -a and corvane-fileop copy on the same trees and disk,
# and a same-file-system move; prints a table with our time / cp time.
#
#   [TREES="small mixed"] [USERS=300] bench/fileop/run.sh [WORKDIR] [RUNS]
#   (defaults: /var/tmp/corvane-bench, 3 runs)
#
# Trees: "small" (300 users, ~30,000 files of 1-64 KiB) and "mixed" (the same
# plus ~270 files of 1-20 MiB). The page cache is dropped before every run
# where the machine allows it (root); each timing ends with sync, so the data
# is on disk for every tool. Runs of the three tools are interleaved so a
# change in machine load hits them alike. Needs rsync and python3.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
work=${1:-/var/tmp/corvane-bench}
runs=${2:-3}
fileop=${FILEOP:-$here/../../build/corvane/corvane-fileop}
users=${USERS:-300}
trees=${TREES:-small mixed} # e.g. TREES=small for the small-file tree alone
[ -x "$fileop" ] || { echo "build corvane-fileop first ($fileop)"; exit 1; }
mkdir -p "$work"

drop_caches() {
  sync
  if [ -w /proc/sys/vm/drop_caches ]; then echo 3 > /proc/sys/vm/drop_caches; else cold=no; fi
}
cold=yes

[ -d "$work/small" ] || python3 "$here/make_home_tree.py" "$work/small" --users "$users" --big-mean 0
[ -d "$work/mixed" ] || python3 "$here/make_home_tree.py" "$work/mixed" --users "$users"

declare -A total
time_one() { # key command...
  local key=$1; shift
  rm -rf "$work/dst"
  drop_caches
  local t0 t1
  t0=$(date +%s.%N)
  "$@" >/dev/null 2>&1 || { echo "FAILED: $*" >&2; exit 1; }
  sync
  t1=$(date +%s.%N)
  local dt
  dt=$(echo "$t1 - $t0" | bc -l)
  total[$key]=$(echo "${total[$key]:-0} + $dt" | bc -l)
  printf '  %-22s %7.2f s\n' "$key" "$dt"
}

echo "machine: $(nproc) cores, load average at start: $(cut -d' ' -f1-3 /proc/loadavg)"
for tree in $trees; do
  src=$work/$tree
  echo "tree $tree: $(find "$src" -type f | wc -l) files, $(du -sm "$src" | cut -f1) MiB"
  for ((i = 1; i <= runs; i++)); do
    time_one "$tree cp -a" cp -a "$src" "$work/dst"
    time_one "$tree rsync -a" rsync -a "$src/" "$work/dst/"
    time_one "$tree corvane-fileop" "$fileop" copy --silent --no-confirm-mkdir "$src" "$work/dst"
  done
done
rm -rf "$work/dst"

# Same-file-system move: the whole tree in one rename, there and back.
cp -a "$work/small" "$work/mv-src"
drop_caches
t0=$(date +%s.%N)
"$fileop" move --silent --no-confirm-mkdir "$work/mv-src" "$work/mv-dst" 2>/dev/null
t1=$(date +%s.%N)
move_ours=$(echo "$t1 - $t0" | bc -l)
t0=$(date +%s.%N)
mv "$work/mv-dst" "$work/mv-src"
t1=$(date +%s.%N)
move_mv=$(echo "$t1 - $t0" | bc -l)
rm -rf "$work/mv-src"

echo "load average at end: $(cut -d' ' -f1-3 /proc/loadavg); cold cache: $cold"
echo
echo "| tree | cp -a (s) | rsync -a (s) | corvane-fileop (s) | ours / cp -a | ours / rsync -a |"
echo "|---|---|---|---|---|---|"
for tree in $trees; do
  cp_t=$(echo "${total[$tree cp -a]} / $runs" | bc -l)
  rs_t=$(echo "${total[$tree rsync -a]} / $runs" | bc -l)
  our_t=$(echo "${total[$tree corvane-fileop]} / $runs" | bc -l)
  printf '| %s | %.2f | %.2f | %.2f | %.2f | %.2f |\n' "$tree" "$cp_t" "$rs_t" "$our_t" \
    "$(echo "$our_t / $cp_t" | bc -l)" "$(echo "$our_t / $rs_t" | bc -l)"
done
printf '| move, same file system | mv: %.4f s | | %.4f s (incl. process start) | | |\n' "$move_mv" "$move_ours"
