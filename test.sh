#!/usr/bin/env bash
# Sets up, builds and runs every test: once in a normal build (with the static checks and the
# Debian package installed and removed again when run as root), once under AddressSanitizer and
# UndefinedBehaviorSanitizer, and then each fuzz target for a bounded time.
#
# usage: ./test.sh            everything, as CI runs it
#        ./test.sh --quick    the normal build and its tests without the `slow` label, the static
#                             checks and the package test: the edit-build-test loop
set -euo pipefail
cd "$(dirname "$0")"
quick=0
case "${1:-}" in
"") ;;
--quick) quick=1 ;;
*) echo "usage: $0 [--quick]" >&2; exit 2 ;;
esac
tools/install-deps.sh
jobs=$(nproc)
package_test=OFF
[ "$(id -u)" -eq 0 ] && package_test=ON

# The benchmarks are built here too, so that they keep compiling.
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUORLINE_BENCH=ON \
    -DQUORLINE_STATIC_CHECKS=ON -DQUORLINE_PACKAGE_TEST="$package_test"
cmake --build build -j"$jobs"
if [ "$quick" -eq 1 ]; then
    (cd build && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -LE slow -E '^(static_checks|package)$')
    exit
fi
# One test at a time: the tests open real pseudo-terminals and lock them in /var/lock, and the
# kernel hands a freed terminal's number straight to the next one, so two tests side by side can
# meet each other's locks.
(cd build && QT_QPA_PLATFORM=offscreen ctest --output-on-failure)

cmake -S . -B build-sanitize -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQUORLINE_SANITIZE=ON
cmake --build build-sanitize -j"$jobs"
(cd build-sanitize && QT_QPA_PLATFORM=offscreen ctest --output-on-failure)

JOBS=$jobs tools/run_fuzz.sh "${QUORLINE_FUZZ_SECONDS:-20}" "$PWD/build-fuzz"
