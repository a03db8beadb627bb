#!/usr/bin/env bash
# Times kestdecode --null on a generated 1 GB stream (1400-byte datagrams, fully
# packed sections, 3 PIDs selected) next to cat of the same file, and prints TS
# throughput for both, their ratio and kestdecode's peak memory.
#   bench/kestdecode-throughput.sh [BUILD_DIR] [BYTES]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
bytes=${2:-1000000000}
stream=${KEST_BENCH_STREAM:-$build/bench-1g.ts}
if [ ! -s "$stream" ] || [ "$(stat -c %s "$stream")" -lt "$bytes" ]; then
  echo "generating $stream ($bytes bytes)"
  "$build/bin/kestmkts" --pid 0x100 --pid 0x101 --pid 0x102 --payload 1372 --bytes "$bytes" "$stream"
fi
size=$(stat -c %s "$stream")
cat "$stream" > /dev/null # warm the page cache

seconds() { local s e; s=$(date +%s.%N); "$@" > /dev/null; e=$(date +%s.%N); echo "$e - $s" | bc -l; }
cat_s=$(seconds cat "$stream")
dec_s=$(seconds "$build/bin/kestdecode" --pid 256 --pid 257 --pid 258 --null "$stream")
peak_kb=$( { /usr/bin/time -f '%M' "$build/bin/kestdecode" --pid 256 --pid 257 --pid 258 --null "$stream" > /dev/null; } 2>&1 | tail -n 1)

gbit() { echo "scale=2; $size * 8 / $1 / 1000000000" | bc -l; }
echo "stream: $size bytes"
echo "cat:        $(gbit "$cat_s") Gbit/s ($cat_s s)"
echo "kestdecode: $(gbit "$dec_s") Gbit/s ($dec_s s)"
echo "ratio kestdecode/cat: $(echo "scale=3; $cat_s / $dec_s" | bc -l)"
echo "kestdecode peak memory: $((peak_kb / 1024)) MiB ($peak_kb KiB)"
