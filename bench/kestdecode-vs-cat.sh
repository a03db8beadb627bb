#!/usr/bin/env bash
# kestdecode --null against cat of the same file, both pinned to one core, on
# streams of large datagrams, of 428 to 828 bytes, of 128 to 428 and of 36 to
# 128 (kestmkts, 3 PIDs). Each is run ROUNDS times, alternately, the page cache
# warm; the best wall clock and CPU time (user + system) of each are printed
# with their ratio. kest_decode_floor runs beside them: the least decoding
# takes (read, sections cut, CRC checked, each datagram copied once), to show
# how much of kestdecode's time is its own.
#   bench/kestdecode-vs-cat.sh [BUILD_DIR] [BYTES] [ROUNDS]
# KESTDECODE=path compares another kestdecode on the same files; CPU=n picks
# the core (default 1). FRESH=1 measures a new copy of each stream: how the
# page cache holds a file read many times since it was written can make `cat`
# of it half as fast again, and the ratio look better than on a new file.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
bytes=${2:-300000000}
rounds=${3:-7}
cpu=${CPU:-1}
decoder=${KESTDECODE:-$build/bin/kestdecode}
mac=02:00:00:00:00:01

stream() { # NAME PAYLOAD
  local file=$build/bench-$1-$bytes.ts
  if [ ! -s "$file" ]; then
    "$build/bin/kestmkts" --mac $mac --pid 0x100 --pid 0x101 --pid 0x102 --payload "$2" --bytes "$bytes" "$file" > /dev/null
  fi
  echo "$file"
}

# "wall cpu" in seconds (cpu: user + system) of one run of the command, its output dropped.
measure() {
  local TIMEFORMAT='%3R %3U %3S'
  { time "$@" > /dev/null 2>&1; } 2>&1 | tail -n 1 | awk '{ printf "%.3f %.3f\n", $1, $2 + $3 }'
}

best() { sort -n -k"$1" | head -n 1 | cut -d' ' -f"$1"; }

floor=$build/bin/kest_decode_floor
for kind in large:1372 p400-800:400:800 p100-400:100:400 small:8:100; do
  name=${kind%%:*}
  file=$(stream "$name" "${kind#*:}")
  if [ "${FRESH:-0}" = 1 ]; then
    cp "$file" "$file.fresh"
    file=$file.fresh
  fi
  cat "$file" > /dev/null
  : > /tmp/kest-vs-cat.cat
  : > /tmp/kest-vs-cat.dec
  : > /tmp/kest-vs-cat.floor
  for _ in $(seq "$rounds"); do
    measure taskset -c "$cpu" cat "$file" >> /tmp/kest-vs-cat.cat
    measure taskset -c "$cpu" "$decoder" --pid 256 --pid 257 --pid 258 --mac $mac --null "$file" >> /tmp/kest-vs-cat.dec
    if [ -x "$floor" ]; then measure taskset -c "$cpu" "$floor" "$file" 256 257 258 >> /tmp/kest-vs-cat.floor; fi
  done
  frames=$("$decoder" --pid 256 --pid 257 --pid 258 --mac $mac --null "$file" | sed -n 's/^frames: //p')
  cw=$(best 1 < /tmp/kest-vs-cat.cat); cc=$(best 2 < /tmp/kest-vs-cat.cat)
  dw=$(best 1 < /tmp/kest-vs-cat.dec); dc=$(best 2 < /tmp/kest-vs-cat.dec)
  echo "$name datagrams: $(stat -c %s "$file") bytes, $frames frames"
  echo "  cat         wall $cw s  cpu $cc s"
  echo "  kestdecode  wall $dw s  cpu $dc s"
  echo "  ratio       wall $(echo "scale=2; $dw / $cw" | bc -l)  cpu $(echo "scale=2; $dc / $cc" | bc -l)"
  if [ -s /tmp/kest-vs-cat.floor ]; then
    fw=$(best 1 < /tmp/kest-vs-cat.floor); fc=$(best 2 < /tmp/kest-vs-cat.floor)
    echo "  floor       wall $fw s  cpu $fc s  ratio cpu $(echo "scale=2; $fc / $cc" | bc -l)"
  fi
  if [ "${FRESH:-0}" = 1 ]; then rm -f "$file"; fi
done
rm -f /tmp/kest-vs-cat.cat /tmp/kest-vs-cat.dec /tmp/kest-vs-cat.floor
