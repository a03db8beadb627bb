#!/usr/bin/env bash
# Times kestdecode --tap inside a network namespace of its own: a generated
# stream of 1400-byte datagrams (fully packed, 3 PIDs) is decoded onto a TAP
# interface and a UDP socket in the namespace counts what arrives. Needs root.
#   bench/kestdecode-tap.sh [BUILD_DIR] [BYTES]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
bytes=${2:-200000000}
if [ "$(id -u)" -ne 0 ]; then
  echo "kestdecode-tap: needs root (it creates a network namespace)" >&2
  exit 1
fi
stream=$build/bench-tap.ts
[ -s "$stream" ] || "$build/bin/kestmkts" --pid 0x100 --pid 0x101 --pid 0x102 --payload 1372 --bytes "$bytes" "$stream"
size=$(stat -c %s "$stream")
ns=kestbench$$
cleanup() { ip netns del "$ns" 2>/dev/null || true; }
trap cleanup EXIT
ip netns add "$ns"
ip netns exec "$ns" ip tuntap add dev satbench mode tap
ip netns exec "$ns" ip addr add 10.0.0.2/24 dev satbench
ip netns exec "$ns" ip link set satbench up
ip netns exec "$ns" ip link set lo up
ip netns exec "$ns" sysctl -qw net.ipv4.conf.all.rp_filter=0 net.ipv4.conf.satbench.rp_filter=0
ip netns exec "$ns" sysctl -qw net.core.netdev_max_backlog=100000 2>/dev/null || true
out=$(mktemp)
ip netns exec "$ns" "$build/bin/udpcount" 4000 1000 > "$out" &
counter=$!
until grep -q listening "$out"; do sleep 0.05; done
start=$(date +%s.%N)
ip netns exec "$ns" "$build/bin/kestdecode" --pid 256 --pid 257 --pid 258 --tap satbench "$stream" > "$out.dec"
end=$(date +%s.%N)
wait "$counter"
frames=$(sed -n 's/^frames: //p' "$out.dec")
received=$(sed -n 's/^datagrams: //p' "$out")
seconds=$(echo "$end - $start" | bc -l)
echo "stream: $size bytes in $seconds s"
echo "kestdecode --tap: $(echo "scale=2; $size * 8 / $seconds / 1000000000" | bc -l) Gbit/s of transport stream"
echo "frames passed to the interface: $frames, datagrams received: $received, lost: $((frames - received))"
rm -f "$out" "$out.dec"
