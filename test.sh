#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test:
#   1. the normal build and all unit, widget and process tests;
#   2. the console parts under AddressSanitizer + UndefinedBehaviorSanitizer (tests labelled asan);
#   3. ThreadSanitizer tests (label tsan);
#   4. the receiver and the decoders against the kernel's DVB core in a VM (tests/vm);
#   5. the libFuzzer targets, each for KEST_FUZZ_SECONDS (default 60).
# Set KEST_QUICK=1 to run only step 1.
set -euo pipefail
cd "$(dirname "$0")"
./scripts/install-deps
jobs=$(nproc)
export QT_QPA_PLATFORM=offscreen
export KEST_MESSAGEBOX=stderr

step() { printf '\n== %s\n' "$*"; }

step "build"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$jobs"
step "tests"
ctest --test-dir build --output-on-failure -j "$jobs" -LE 'fuzz'

if [ "${KEST_QUICK:-0}" = 1 ]; then
  exit 0
fi

step "address and undefined-behaviour sanitizers"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKEST_GUI=OFF -DKEST_BENCH=OFF \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DKEST_SANITIZE=address,undefined >/dev/null
cmake --build build-asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
  ctest --test-dir build-asan --output-on-failure -j "$jobs" --no-tests=ignore -L asan

step "thread sanitizer"
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKEST_GUI=OFF -DKEST_BENCH=OFF \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DKEST_SANITIZE=thread >/dev/null
cmake --build build-tsan -j "$jobs"
TSAN_OPTIONS=halt_on_error=1 ctest --test-dir build-tsan --output-on-failure --no-tests=ignore -L tsan

step "kernel DVB core in a VM"
# Exit status 77: this machine cannot run the VM; the line saying why is printed.
vm=0
tests/vm/run tests/vm/dvb-tests || vm=$?
if [ "$vm" != 0 ] && [ "$vm" != 77 ]; then
  echo "VM tests failed ($vm)" >&2
  exit 1
fi

step "fuzzing"
./scripts/fuzz "${KEST_FUZZ_SECONDS:-60}"
