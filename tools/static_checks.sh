#!/bin/bash
# clang-tidy (with the repository's .clang-tidy) and cppcheck on Quorline's own sources.
# Exits non-zero when either reports anything.
#
# usage: tools/static_checks.sh [BUILD_DIR]   (default: build-static, configured if missing)
# BUILD_DIR is a tree of the checks' own, one file a compile (no unity build), with the
# benchmarks; it is configured, not built.
set -u

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-static}
jobs=${JOBS:-$(nproc)}
# clang-tidy 22 (in Debian 12's security archive) no longer runs its checks over the system's
# headers, Qt's among them, which made three quarters of the time of Debian 12's own clang-tidy 14.
tidy=${CLANG_TIDY:-clang-tidy-22}
ours='(base|widgets|app|serial|terminal|filesend|help|tools|bench|tests)'

if [ ! -f "$build/compile_commands.json" ]; then
    # No precompiled headers: they would hide an include that a file lacks.
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DBUILD_TESTING=ON \
        -DQUORLINE_BENCH=ON -DCMAKE_UNITY_BUILD=OFF -DCMAKE_DISABLE_PRECOMPILE_HEADERS=ON \
        >/dev/null || { echo "configure failed"; exit 2; }
fi
# The checked files need moc's generated sources, not a build: each target's moc step is run
# as the build runs it (its target in the build would first build what the target links).
# (Qt's resource libraries are left out: nothing checked includes what rcc makes.)
mapfile -t autogen < <(find "$build" -path '*/CMakeFiles/*_autogen.dir/AutogenInfo.json' -not -path '*_resources_*')
export build
# shellcheck disable=SC2016
printf '%s\0' "${autogen[@]}" |
    xargs -0 -n 1 -P "$jobs" sh -c 'cd "$build" && cmake -E cmake_autogen "$1" Debug' moc \
        >>"$build/static-checks-build.log" 2>&1 ||
    { echo "moc failed, see $build/static-checks-build.log"; exit 2; }

# Our translation units: in our folders, not generated in a build directory.
mapfile -t files < <(sed -n 's/^ *"file": "\(.*\)",\{0,1\}$/\1/p' "$build/compile_commands.json" \
    | grep -E "^$root/$ours/" | sort -u)
[ ${#files[@]} -gt 0 ] || { echo "no sources found in $build/compile_commands.json"; exit 2; }

status=0
# Every source of ours, headers too, as .clang-format lays it out.
echo "== clang-format"
mapfile -t sources < <(cd "$root" && git ls-files -- '*.cpp' '*.h' '*.h.in' 2>/dev/null)
if [ ${#sources[@]} -eq 0 ]; then
    mapfile -t sources < <(cd "$root" && find base widgets app serial terminal filesend help tools \
        bench tests \( -name '*.cpp' -o -name '*.h' \) -not -path '*/corpus/*')
fi
if (cd "$root" && clang-format --dry-run -Werror "${sources[@]}" >"$build/clang-format.log" 2>&1); then
    echo "clean (${#sources[@]} files)"
else
    grep -E 'error:' "$build/clang-format.log" | cut -d: -f1 | sort -u | sed 's/^/not formatted: /'
    status=1
fi

# One clang-tidy run a file, side by side. The screen may hold more than 2 GiB, so its files
# are also checked for narrowing conversions, which must not cut a position to int unawares (a
# row number made a pixel offset in floating point is no such cut, so that part is off).
screen="^$root/(terminal/|widgets/screen|widgets/findwindow)"
screen_config="{InheritParentConfig: true, Checks: 'bugprone-narrowing-conversions', CheckOptions: [{key: bugprone-narrowing-conversions.WarnOnIntegerToFloatingPointNarrowingConversion, value: false}]}"
nscreen=$(printf '%s\n' "${files[@]}" | grep -cE "$screen")
echo "== clang-tidy on ${#files[@]} files, narrowing conversions too in the screen's $nscreen"
tidy_log="$build/clang-tidy.log"
export build screen screen_config tidy
# shellcheck disable=SC2016
printf '%s\0' "${files[@]}" | xargs -0 -n 1 -P "$jobs" bash -c '
    if [[ $1 =~ $screen ]]; then
        "$tidy" -p "$build" --quiet --config="$screen_config" "$1"
    else
        "$tidy" -p "$build" --quiet "$1"
    fi' tidy >"$tidy_log" 2>&1
# Narrowing counts only in the screen's own folders, not in the headers of others it includes.
awk '/^[^ ]+:[0-9]+:[0-9]+: (warning|error): / {
         skip = $0 ~ /\[bugprone-narrowing-conversions/ && $1 !~ /\/(terminal|widgets)\// }
     !skip' "$tidy_log" >"$tidy_log.kept"
if grep -qE '(warning|error):' "$tidy_log.kept"; then
    grep -E -A3 '(warning|error):' "$tidy_log.kept" | grep -v '^[0-9]* warnings\? generated'
    status=1
else
    echo "clean"
fi

# Left out of cppcheck's style checks: names shadowing Qt-style accessors, advice to use an STL
# algorithm, const for handler parameters that the signal fixes, and conditions it believes
# constant because it cannot see that a yield to the event loop may change them. Its printf
# argument check takes qint64 for long; the compiler's -Wformat checks printf arguments anyway.
echo "== cppcheck"
# Its work folder keeps the checks across files when it runs in parallel; made anew each run.
rm -rf "$build/cppcheck" && mkdir -p "$build/cppcheck"
if (cd "$root" && cppcheck --quiet -j"$jobs" --cppcheck-build-dir="$build/cppcheck" --std=c++20 --language=c++ --library=qt \
    --enable=warning,style,performance,portability --inline-suppr \
    --suppress=missingIncludeSystem --suppress=shadowFunction --suppress=useStlAlgorithm \
    --suppress=constParameter --suppress=knownConditionTrueFalse \
    --suppress=invalidPrintfArgType_sint --suppress=invalidPrintfArgType_uint --error-exitcode=1 -I . \
    --template='{file}:{line}: {severity} ({id}): {message}' "${files[@]}"); then
    echo "clean"
else
    status=1
fi
exit $status
