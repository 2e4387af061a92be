#!/bin/bash
# clang-tidy (with the repository's .clang-tidy) and cppcheck on Quorline's own sources.
# Exits non-zero when either reports anything.
#
# usage: tools/static_checks.sh [BUILD_DIR]   (default: build-static, configured if missing)
set -u

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-static}
jobs=${JOBS:-2}
ours='(base|widgets|app|serial|terminal|filesend|help|tools|bench|tests)'

if [ ! -f "$build/compile_commands.json" ]; then
    cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Debug -DBUILD_TESTING=ON >/dev/null \
        || { echo "configure failed"; exit 2; }
fi
# The generated moc and resource sources must exist for the checked files to compile.
cmake --build "$build" -j"$jobs" >"$build/static-checks-build.log" 2>&1 \
    || { echo "build failed, see $build/static-checks-build.log"; exit 2; }

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

echo "== clang-tidy on ${#files[@]} files"
tidy_log="$build/clang-tidy.log"
printf '%s\0' "${files[@]}" \
    | xargs -0 -n 1 -P "$jobs" clang-tidy -p "$build" --quiet >"$tidy_log" 2>&1
if grep -qE '(warning|error):' "$tidy_log"; then
    grep -E -A3 '(warning|error):' "$tidy_log" | grep -v '^[0-9]* warnings\? generated'
    status=1
else
    echo "clean"
fi

# The screen may hold more than 2 GiB: its files must not cut a position to int unawares.
# (A row number made a pixel offset in floating point is no such cut, so that part is off.)
echo "== narrowing conversions in the screen's files"
mapfile -t screen_files < <(printf '%s\n' "${files[@]}" | grep -E "^$root/(terminal/|widgets/screen|widgets/findwindow)")
narrow_log="$build/clang-tidy-narrowing.log"
printf '%s\0' "${screen_files[@]}" \
    | xargs -0 -n 1 -P "$jobs" clang-tidy -p "$build" --quiet \
        --checks='-*,bugprone-narrowing-conversions' --header-filter='/(terminal|widgets)/' \
        --config="{Checks: '-*,bugprone-narrowing-conversions', WarningsAsErrors: '*', CheckOptions: [{key: bugprone-narrowing-conversions.WarnOnIntegerToFloatingPointNarrowingConversion, value: false}]}" \
        >"$narrow_log" 2>&1
if grep -qE '(warning|error):' "$narrow_log"; then
    grep -E -A3 '(warning|error):' "$narrow_log" | grep -v '^[0-9]* warnings\? generated'
    status=1
else
    echo "clean (${#screen_files[@]} files)"
fi

# Left out of cppcheck's style checks: names shadowing Qt-style accessors, advice to use an STL
# algorithm, const for handler parameters that the signal fixes, and conditions it believes
# constant because it cannot see that a yield to the event loop may change them. Its printf
# argument check takes qint64 for long; the compiler's -Wformat checks printf arguments anyway.
echo "== cppcheck"
if (cd "$root" && cppcheck --quiet --std=c++20 --language=c++ --library=qt \
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
