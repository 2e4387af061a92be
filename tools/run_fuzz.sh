#!/bin/bash
# Fuzzes every libFuzzer target for a bounded time in a clang sanitizer build of its own.
# New inputs that widen coverage are merged into a scratch corpus; a crash leaves its input in
# the build directory (crash-*), to be fixed and then kept in tests/fuzz/corpus/<target>/.
#
# usage: tools/run_fuzz.sh [SECONDS_PER_TARGET] [BUILD_DIR]   (defaults: 20, build-fuzz)
set -u

root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-20}
build=${2:-$root/build-fuzz}
jobs=${JOBS:-$(nproc)}

if [ ! -f "$build/CMakeCache.txt" ]; then
    # A unity build with line tables only, as the test command's other trees.
    CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -gline-tables-only -DNDEBUG" -DCMAKE_UNITY_BUILD=ON \
        -DQUORLINE_SANITIZE=ON -DQUORLINE_FUZZ=ON >/dev/null || { echo "configure failed"; exit 2; }
fi
targets=$(cd "$root/tests/fuzz" && ls fuzz_*.cpp | sed 's/\.cpp$//')
# shellcheck disable=SC2086
cmake --build "$build" -j"$jobs" --target $targets >"$build/fuzz-build.log" 2>&1 \
    || { echo "build failed, see $build/fuzz-build.log"; exit 2; }

# Each target runs for its whole time, JOBS of them side by side.
fuzz_one() {
    target=$1
    seeds="$root/tests/fuzz/corpus/$target"
    scratch="$build/fuzz-corpus/$target"
    log="$build/fuzz-artifacts/$target.log"
    mkdir -p "$scratch"
    if (cd "$build/fuzz-artifacts" && ASAN_OPTIONS=detect_leaks=0 \
        "$build/fuzz/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=4096 \
        -artifact_prefix="$build/fuzz-artifacts/$target-" "$scratch" "$seeds") >"$log" 2>&1; then
        { echo "== $target (${seconds}s)"; grep -E '^(#[0-9]+ *DONE|Done )' "$log" | tail -n 1; } >"$log.summary"
    else
        { echo "== $target (${seconds}s)"; echo "FAILED: see $log"
          grep -E 'ERROR|invariant broken|SUMMARY|Test unit written' "$log" | head -n 10; } >"$log.summary"
        return 1
    fi
}
export -f fuzz_one
export root build seconds
mkdir -p "$build/fuzz-artifacts"
rm -f "$build"/fuzz-artifacts/*.summary
# shellcheck disable=SC2086
printf '%s\n' $targets | xargs -P "$jobs" -I{} bash -c 'fuzz_one {}' || true

passed=0
failed=0
for target in $targets; do
    summary="$build/fuzz-artifacts/$target.log.summary"
    cat "$summary" 2>/dev/null || echo "== $target: no result"
    if grep -q '^FAILED' "$summary" 2>/dev/null || [ ! -f "$summary" ]; then
        failed=$((failed + 1))
    else
        passed=$((passed + 1))
    fi
done
echo "fuzz: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
