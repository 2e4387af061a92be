#!/usr/bin/env bash
# Sets up, builds and runs every test: once in a normal build (with the Debian package installed
# and removed again when run as root), once under AddressSanitizer and UndefinedBehaviorSanitizer,
# the static checks, and each fuzz target for a bounded time.
#
# usage: ./test.sh            everything, as CI runs it
#        ./test.sh --quick    the normal build and its tests, leaving out those labelled `slow`,
#                             the static checks and the package test: the edit-build-test loop
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

# The benchmarks are built here too, so that they keep compiling. The trees are unity builds, a
# file for a library folder's sources, and their debug information is line tables alone (enough
# for a backtrace): reading Qt's headers and writing full debug information were most of a
# build's time. The static checks make a tree of their own, one file a compile.
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_UNITY_BUILD=ON \
    -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG" -DQUORLINE_BENCH=ON \
    -DQUORLINE_STATIC_CHECKS=ON -DQUORLINE_PACKAGE_TEST="$package_test"
cmake --build build -j"$jobs"
# One test at a time: the tests open real pseudo-terminals and lock them in /var/lock, and the
# kernel hands a freed terminal's number straight to the next one, so two tests side by side can
# meet each other's locks.
if [ "$quick" -eq 1 ]; then
    (cd build && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -LE slow -E '^(static_checks|package)$')
    exit
fi

# The tests mostly wait on terminals and timers, so the work that needs the processors runs
# beside them, at the lowest priority so that the tests keep their timing: the sanitizer build
# (while the normal tests run), then the static checks and fuzzing (while the sanitizer's tests
# run). Each step writes build/test-logs/NAME.log, NAME.status and its time.
logs=$PWD/build/test-logs
rm -rf "$logs"
mkdir -p "$logs"
cmake -S . -B build-sanitize -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG=-g1 \
    -DCMAKE_UNITY_BUILD=ON -DQUORLINE_SANITIZE=ON >/dev/null
step() {
    local name=$1 rc=0 start=$SECONDS
    shift
    "$@" >"$logs/$name.log" 2>&1 || rc=$?
    echo "$name: $((SECONDS - start)) s" >>"$logs/times"
    echo "$rc" >"$logs/$name.status"
}
(
    renice -n 19 -p "$BASHPID" >/dev/null || true
    step sanitize-build cmake --build build-sanitize -j"$jobs"
    step static_checks sh -c 'cd build && ctest --output-on-failure -R "^static_checks$"'
    step fuzz env JOBS="$jobs" tools/run_fuzz.sh "${QUORLINE_FUZZ_SECONDS:-20}" "$PWD/build-fuzz"
) </dev/null &
beside=$!
trap 'trap - INT TERM; kill 0' INT TERM

failed=()
start=$SECONDS
(cd build && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -E '^static_checks$') || failed+=(tests)
echo "tests: $((SECONDS - start)) s" >>"$logs/times"

while [ ! -f "$logs/sanitize-build.status" ] && kill -0 "$beside" 2>/dev/null; do sleep 1; done
echo "== sanitizer build"
if [ "$(cat "$logs/sanitize-build.status" 2>/dev/null)" = 0 ]; then
    echo "built"
    start=$SECONDS
    (cd build-sanitize && QT_QPA_PLATFORM=offscreen ctest --output-on-failure) || failed+=(sanitizer-tests)
    echo "sanitizer tests: $((SECONDS - start)) s" >>"$logs/times"
else
    tail -n 40 "$logs/sanitize-build.log"
    failed+=(sanitizer-build)
fi

wait "$beside" || true
for name in static_checks fuzz; do
    echo "== $name"
    cat "$logs/$name.log"
    [ "$(cat "$logs/$name.status" 2>/dev/null)" = 0 ] || failed+=("$name")
done
echo "== times"
echo "all: $SECONDS s" >>"$logs/times"
cat "$logs/times"
if [ ${#failed[@]} -gt 0 ]; then
    echo "FAILED: ${failed[*]} (logs in $logs)"
    exit 1
fi
echo "all passed"
