#!/usr/bin/env bash
# Times cp -a, rsync -a and corvane-fileop copy on the same trees and disk,
# and a same-file-system move; prints a table with our time / cp time.
#
#   [TREES="small mixed"] [TARGETS="newfs samefs"] [USERS=300] [BASELINE=path/to/older/corvane-fileop]
#   bench/fileop/run.sh [WORKDIR] [RUNS]   (defaults: /var/tmp/corvane-bench, 3 runs)
#
# BASELINE times an older build of corvane-fileop in the same interleaved runs,
# so a change to the engine is measured against what it replaces.
#
# Trees: "small" (300 users, ~30,000 files of 1-64 KiB) and "mixed" (the same
# plus ~270 files of 1-20 MiB).
# Targets: "newfs" copies to a freshly made ext4 (with journal) in a file on
# the same disk, as a migration to a new share would; "samefs" copies next to
# the source on its own file system. newfs needs root, losetup and mkfs.ext4.
#
# Before every run the source's access times are put back to their modification
# times, as on a server where the files were not read since they last changed
# (so each tool meets the same atime updates), and the page cache is dropped
# where the machine allows it (root). Each timing ends with sync, so the data
# is on disk for every tool. Runs of the three tools are interleaved so a change
# in machine load hits them alike.
#
# samefs keeps every copy until the end: ext4 without a journal skips inodes
# freed in the last minutes, so deleting a copy just before the next run slows
# that run down (ours more than cp, having more files in flight). For the same
# reason a bench started within 6 minutes of the last one's clean-up waits.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
work=${1:-/var/tmp/corvane-bench}
runs=${2:-3}
fileop=${FILEOP:-$here/../../build/corvane/corvane-fileop}
baseline=${BASELINE:-}
tools="cp rsync fileop"
[ -n "$baseline" ] && tools="$tools baseline"
users=${USERS:-300}
trees=${TREES:-small mixed}
targets=${TARGETS:-newfs samefs}
[ -x "$fileop" ] || { echo "build corvane-fileop first ($fileop)"; exit 1; }
mkdir -p "$work"

cold=yes
drop_caches() {
  sync
  if [ -w /proc/sys/vm/drop_caches ]; then echo 3 > /proc/sys/vm/drop_caches; else cold=no; fi
}

loop=
mnt=$work/mnt
cleanup() {
  if mountpoint -q "$mnt" 2>/dev/null; then umount "$mnt"; fi
  if [ -n "$loop" ]; then losetup -d "$loop" 2>/dev/null || true; fi
  rm -f "$work/newfs.img"
}
trap cleanup EXIT

if [[ " $targets " == *" newfs "* ]]; then
  if [ "$(id -u)" != 0 ] || ! command -v losetup > /dev/null || ! command -v mkfs.ext4 > /dev/null; then
    echo "newfs needs root, losetup and mkfs.ext4: skipped"
    targets=${targets//newfs/}
  fi
fi

# Sets dst to the destination for one run of the given target.
dst=
prepare_target() { # target run-number
  case $1 in
    newfs)
      cleanup
      truncate -s 8G "$work/newfs.img"
      mkfs.ext4 -q -F "$work/newfs.img"
      loop=$(losetup -f --show --direct-io=on "$work/newfs.img")
      mkdir -p "$mnt"
      mount "$loop" "$mnt"
      dst=$mnt/dst
      ;;
    samefs)
      mkdir -p "$work/copies"
      dst=$work/copies/dst-$2
      ;;
  esac
}

reset_atimes() {
  python3 - "$1" << 'EOF'
import os, sys
for root, dirs, files in os.walk(sys.argv[1]):
    for name in dirs + files:
        p = os.path.join(root, name)
        st = os.lstat(p)
        os.utime(p, ns=(st.st_mtime_ns, st.st_mtime_ns), follow_symlinks=False)
EOF
}

stamp=$work/.deleted-at
if [[ " $targets " == *" samefs "* ]] && [ -f "$stamp" ]; then
  wait_s=$((360 - ($(date +%s) - $(cat "$stamp"))))
  if [ "$wait_s" -gt 0 ]; then
    echo "waiting ${wait_s} s: the last bench freed its copies less than 6 minutes ago"
    sleep "$wait_s"
  fi
fi

[ -d "$work/small" ] || python3 "$here/make_home_tree.py" "$work/small" --users "$users" --big-mean 0
if [[ " $trees " == *" mixed "* ]]; then
  [ -d "$work/mixed" ] || python3 "$here/make_home_tree.py" "$work/mixed" --users "$users"
fi

declare -A total
n=0
time_one() { # key target src tool...
  local key=$1 target=$2 src=$3
  shift 3
  n=$((n + 1))
  prepare_target "$target" "$n"
  reset_atimes "$src"
  drop_caches
  local t0 t1 dt
  t0=$(date +%s.%N)
  case $1 in
    cp) cp -a "$src" "$dst" ;;
    rsync) rsync -a "$src/" "$dst/" ;;
    fileop) "$fileop" copy --silent --no-confirm-mkdir "$src" "$dst" > /dev/null 2>&1 ;;
    baseline) "$baseline" copy --silent --no-confirm-mkdir "$src" "$dst" > /dev/null 2>&1 ;;
  esac || { echo "FAILED: $key" >&2; exit 1; }
  sync
  t1=$(date +%s.%N)
  dt=$(echo "$t1 - $t0" | bc -l)
  total[$key]=$(echo "${total[$key]:-0} + $dt" | bc -l)
  printf '  %-34s %7.2f s\n' "$key" "$dt"
}

echo "machine: $(nproc) cores, load average at start: $(cut -d' ' -f1-3 /proc/loadavg)"
for tree in $trees; do
  src=$work/$tree
  echo "tree $tree: $(find "$src" -type f | wc -l) files, $(du -sm "$src" | cut -f1) MiB"
  for target in $targets; do
    for ((i = 1; i <= runs; i++)); do
      for tool in $tools; do
        time_one "$tree $target $tool" "$target" "$src" "$tool"
      done
    done
  done
done
cleanup
rm -rf "$work/copies"
date +%s > "$stamp"

# Same-file-system move: the whole tree in one rename, there and back.
cp -a "$work/small" "$work/mv-src"
drop_caches
t0=$(date +%s.%N)
"$fileop" move --silent --no-confirm-mkdir "$work/mv-src" "$work/mv-dst" 2> /dev/null
t1=$(date +%s.%N)
move_ours=$(echo "$t1 - $t0" | bc -l)
t0=$(date +%s.%N)
mv "$work/mv-dst" "$work/mv-src"
t1=$(date +%s.%N)
move_mv=$(echo "$t1 - $t0" | bc -l)
rm -rf "$work/mv-src"
date +%s > "$stamp"

echo "load average at end: $(cut -d' ' -f1-3 /proc/loadavg); cold cache: $cold"
echo
echo "| tree | target | cp -a (s) | rsync -a (s) | corvane-fileop (s) | ours / cp -a | ours / rsync -a |"
echo "|---|---|---|---|---|---|---|"
for tree in $trees; do
  for target in $targets; do
    cp_t=$(echo "${total[$tree $target cp]} / $runs" | bc -l)
    rs_t=$(echo "${total[$tree $target rsync]} / $runs" | bc -l)
    our_t=$(echo "${total[$tree $target fileop]} / $runs" | bc -l)
    printf '| %s | %s | %.2f | %.2f | %.2f | %.2f | %.2f |\n' "$tree" "$target" "$cp_t" "$rs_t" "$our_t" \
      "$(echo "$our_t / $cp_t" | bc -l)" "$(echo "$our_t / $rs_t" | bc -l)"
    if [ -n "$baseline" ]; then
      base_t=$(echo "${total[$tree $target baseline]} / $runs" | bc -l)
      printf '|   baseline | %s | | | %.2f | ours / baseline: %.2f | |\n' "$target" "$base_t" \
        "$(echo "$our_t / $base_t" | bc -l)"
    fi
  done
done
printf '| move, same file system | | mv: %.4f s | | %.4f s (incl. process start) | | |\n' "$move_mv" "$move_ours"
