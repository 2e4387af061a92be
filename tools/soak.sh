#!/bin/bash
# The soak run: the window against the peer tool at a 115200-baud pace for ten minutes (or the
# seconds given), notation on, a key typed every second. Prints memory growth per MB received,
# whether every byte arrived, the CPU share and the key delay. Not part of the test run.
#
# usage: tools/soak.sh [SECONDS] [BUILD_DIR]   (defaults: 600, build-soak, a release build)
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-600}
build=${2:-$root/build-soak}

# The soak program is built only with the benchmarks' option; a build dir without it gets it.
if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
        -DQUORLINE_BENCH=ON >/dev/null
elif ! grep -q '^QUORLINE_BENCH:BOOL=ON' "$build/CMakeCache.txt"; then
    cmake -S "$root" -B "$build" -DQUORLINE_BENCH=ON >/dev/null
fi
cmake --build "$build" -j"${JOBS:-2}" --target quorline_soak >/dev/null
# 115200 baud with 8 data bits, no parity and 2 stop bits: 11 bits a byte.
QT_QPA_PLATFORM=offscreen "$build/bin/quorline_soak" --seconds "$seconds" --rate 10472
