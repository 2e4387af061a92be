#!/bin/bash
# The soak run: the window against the peer tool at a 115200-baud pace for ten minutes (or the
# seconds given), notation on, a key typed every second. Prints memory growth per MB received,
# whether every byte arrived, the CPU share and the key delay. Then the same with the device
# unplugged and plugged in again every 30 s (REPLUG seconds; 0 skips it), the window reopening it
# by itself (--reconnect): every byte sent while connected must arrive. Not part of the test run.
#
# usage: [REPLUG=30] tools/soak.sh [SECONDS] [BUILD_DIR]   (defaults: 600, build-soak, release)
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
status=0
QT_QPA_PLATFORM=offscreen "$build/bin/quorline_soak" --seconds "$seconds" --rate 10472 || status=$?
replug=${REPLUG:-30}
if [ "$replug" -gt 0 ]; then
    echo
    QT_QPA_PLATFORM=offscreen "$build/bin/quorline_soak" --seconds "$seconds" --rate 10472 --replug "$replug" || status=$?
fi
exit "$status"
