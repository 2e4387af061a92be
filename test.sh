#!/usr/bin/env bash
# Sets up, builds and runs every test: once in a normal build (with the static checks and the
# Debian package installed and removed again when run as root), once under AddressSanitizer and
# UndefinedBehaviorSanitizer, and then each fuzz target for a bounded time.
#
# usage: ./test.sh            everything, as CI runs it (the builds and checks that keep the
#                             processors busy run beside the normal tests, which mostly wait;
#                             their logs are in build/test-logs)
#        ./test.sh --quick    the normal build and its tests, without those marked `slow`,
#                             the static checks and the package test: edit-build-test loop
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
built_in=$SECONDS
if [ "$quick" -eq 1 ]; then
    (cd build && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -LE slow -E '^(static_checks|package)$')
    exit
fi
cmake -S . -B build-sanitize -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQUORLINE_SANITIZE=ON >/dev/null

# The normal tests spend most of their time waiting on terminals and timers, so the work that
# needs the processors runs beside them at a lower priority, in this order: the sanitizer build,
# the static checks, then the fuzz build and fuzzing. Each writes build/test-logs/NAME.log and
# NAME.status.
logs=$PWD/build/test-logs
rm -rf "$logs"
mkdir -p "$logs"
# The processor seconds of this shell's finished children so far, in $used (bash's times, run
# in this shell: in a pipe or $(...) it would see a new process without children).
used=0
count_used() {
    times >"$logs/.times"
    used=$(awk 'NR == 2 { for (i = 1; i <= 2; i++) { split($i, t, /[ms]/); s += t[1] * 60 + t[2] } printf "%d", s }' "$logs/.times")
}
count_used
echo "install and build: $built_in s, $used s of processor" >"$logs/times"
step() {
    local name=$1 rc=0 start=$SECONDS before
    count_used
    before=$used
    shift
    "$@" >"$logs/$name.log" 2>&1 || rc=$?
    echo "$rc" >"$logs/$name.status"
    count_used
    echo "$name: $((SECONDS - start)) s, $((used - before)) s of processor" >>"$logs/times"
}
(
    renice -n 10 -p "$BASHPID" >/dev/null || true
    step sanitize-build cmake --build build-sanitize -j"$jobs"
    step static_checks sh -c 'cd build && ctest --output-on-failure -R "^static_checks$"'
    step fuzz env JOBS="$jobs" tools/run_fuzz.sh "${QUORLINE_FUZZ_SECONDS:-20}" "$PWD/build-fuzz"
) </dev/null &
beside=$!
trap 'trap - INT TERM; kill 0' INT TERM

failed=()
# One test at a time: the tests open real pseudo-terminals and lock them in /var/lock, and the
# kernel hands a freed terminal's number straight to the next one, so two tests side by side can
# meet each other's locks.
start=$SECONDS
count_used
before=$used
(cd build && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -E '^static_checks$') || failed+=(tests)
count_used
# (The work beside counts here too once it has ended.)
kill -0 "$beside" 2>/dev/null && share=", $((used - before)) s of processor" || share=""
echo "tests: $((SECONDS - start)) s$share" >>"$logs/times"

while [ ! -f "$logs/sanitize-build.status" ] && kill -0 "$beside" 2>/dev/null; do sleep 1; done
echo "== sanitizer build"
if [ "$(cat "$logs/sanitize-build.status" 2>/dev/null)" = 0 ]; then
    echo "built"
    start=$SECONDS
    count_used
    before=$used
    (cd build-sanitize && QT_QPA_PLATFORM=offscreen ctest --output-on-failure) || failed+=(sanitizer-tests)
    count_used
    kill -0 "$beside" 2>/dev/null && share=", $((used - before)) s of processor" || share=""
    echo "sanitizer tests: $((SECONDS - start)) s$share" >>"$logs/times"
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
