#!/usr/bin/env bash
# Installs what is missing, builds, and starts the receiver on the simulated card.
set -euo pipefail
cd "$(dirname "$0")"
./scripts/install-deps
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)"

if [ -x build/bin/KestIpData ]; then
  export KEST_CARD=${KEST_CARD:-sim:cedar}
  # Without the TAP adapter (scripts/install-satnic) the frames go to a capture file.
  if [ -z "${KEST_SATNIC:-}" ] && ! ip link show satnic1 >/dev/null 2>&1; then
    export KEST_SATNIC=pcap:$PWD/build/receiver.pcap
  fi
  echo "Starting KestIpData on card ${KEST_CARD} (adapter ${KEST_SATNIC:-tap:satnic1})."
  # The simulated card carries MPE on PIDs 256, 257 and 258: on a first start select them,
  # so that data flows at once. Existing settings are left as they are.
  settings=${XDG_CONFIG_HOME:-$HOME/.config}/KestGroup/Kest-IPData.conf
  if [[ $KEST_CARD == sim* ]] && [ ! -e "$settings" ]; then
    mkdir -p "$(dirname "$settings")"
    printf '[Settings]\nActivePIDs=256\\n257\\n258\\n\n' > "$settings"
    echo "First start: PIDs 256, 257 and 258 selected ($settings)."
  fi
  # The program looks for its translations and keeps its presets in the working directory.
  cd build/bin
  exec ./KestIpData
fi

# Until the receiver exists: decode the demonstration stream with the console tool.
out=build/demo.pcap
echo "Decoding tests/data/mpe-udp-pid1001.ts (PID 1001) into $out"
build/bin/kestdecode --pid 1001 --pcap "$out" tests/data/mpe-udp-pid1001.ts
echo "Wrote $out: the Ethernet frames of the stream's MPE datagrams (open it with Wireshark)."
