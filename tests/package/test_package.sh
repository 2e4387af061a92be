#!/bin/bash
# Builds the Debian package from a clean release build, installs it on this machine, checks
# what it put where, runs the installed program, installs it again over itself, removes it and
# checks that nothing of it is left. Needs root (dpkg -i); exits 77 (skipped) otherwise.
#
# usage: test_package.sh SOURCE_DIR WORK_DIR [BUILD_DIR]
# With BUILD_DIR the package is made from that build instead of a clean release build.
set -u

src=$(cd "${1:?source directory}" && pwd)
work=${2:?work directory}
mkdir -p "$work" && work=$(cd "$work" && pwd)

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
pass() { echo "ok: $*"; }
die() { echo "FAIL: $*"; exit 1; }

[ "$(id -u)" = 0 ] || { echo "skipped: dpkg -i needs root"; exit 77; }
command -v dpkg >/dev/null || { echo "skipped: no dpkg"; exit 77; }

# Every path the package owns; the first is the program, the second its link.
owned=(
    /usr/lib/quorline/quorline
    /usr/bin/quorline
    /usr/lib/quorline/quorpeer
    /usr/lib/quorline/help.txt
    /usr/share/applications/quorline.desktop
    /usr/share/icons/hicolor/scalable/apps/quorline.svg
    /usr/share/icons/hicolor/128x128/apps/quorline.png
    /usr/share/man/man1/quorline.1.gz
    /usr/share/doc/quorline/copyright
    /usr/share/doc/quorline/changelog.gz
    /usr/share/metainfo/example.c_seed_ad32cac1.quorline.metainfo.xml
)

echo "== building the package"
if [ -n "${3:-}" ]; then
    build=$(cd "$3" && pwd)
else
    build="$work/build"
    cmake -S "$src" -B "$build" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
        -DQUORLINE_SANITIZE=OFF >"$work/configure.log" 2>&1 || die "configure failed, see $work/configure.log"
fi
cmake --build "$build" -j2 >"$work/build.log" 2>&1 || die "build failed, see $work/build.log"
rm -f "$build"/quorline_*.deb
(cd "$build" && cpack -G DEB) >"$work/cpack.log" 2>&1 || die "cpack failed, see $work/cpack.log"
deb=$(ls "$build"/quorline_1.02_*.deb 2>/dev/null | head -n 1)
[ -n "$deb" ] || die "no quorline_1.02 package was made"
pass "built $(basename "$deb")"

for field in Package Version Maintainer Description; do
    [ -n "$(dpkg-deb -f "$deb" "$field")" ] || fail "control field $field is empty"
done
depends=$(dpkg-deb -f "$deb" Depends)
for lib in libqt6widgets6 libqt6serialport6 libqt6gui6 libqt6core6; do
    [[ "$depends" == *"$lib"* ]] || fail "Depends lacks $lib: $depends"
done
[ "$(dpkg-deb -f "$deb" Version)" = 1.02 ] || fail "version is not 1.02"
[[ "$depends" == *fonts-liberation2* ]] || fail "Depends lacks the captions' font: $depends"

# lintian's errors fail the test; its warnings are shown.
if command -v lintian >/dev/null; then
    lintian --allow-root --tag-display-limit 0 "$deb" >"$work/lintian.log" 2>&1
    sed 's/^/    /' "$work/lintian.log"
    grep -q '^E: ' "$work/lintian.log" && fail "lintian reports errors"
    pass "lintian"
else
    fail "lintian is not installed (tools/install-deps.sh installs it)"
fi

if dpkg -s quorline >/dev/null 2>&1; then
    echo "note: quorline was installed before the test; it is replaced and removed"
fi

check_installed() {
    local what=$1
    for path in "${owned[@]}"; do
        [ -e "$path" ] || fail "$what: $path missing"
    done
    [ -L /usr/bin/quorline ] || fail "$what: /usr/bin/quorline is not a link"
    [ "$(readlink -f /usr/bin/quorline)" = /usr/lib/quorline/quorline ] \
        || fail "$what: /usr/bin/quorline does not lead to /usr/lib/quorline/quorline"
    [ -x /usr/lib/quorline/quorline ] && [ -x /usr/lib/quorline/quorpeer ] \
        || fail "$what: programs not executable"
    [ "$(dpkg-query -W -f '${Status} ${Version}' quorline 2>/dev/null)" = "install ok installed 1.02" ] \
        || fail "$what: dpkg does not list quorline 1.02 as installed"
    local listed
    listed=$(dpkg -L quorline)
    for path in "${owned[@]}"; do
        grep -qxF "$path" <<<"$listed" || fail "$what: dpkg -L does not list $path"
    done
}

check_files() {
    grep -qx 'Categories=Utility;TerminalEmulator;' /usr/share/applications/quorline.desktop \
        || fail "desktop entry lacks the categories"
    grep -qx 'Exec=quorline' /usr/share/applications/quorline.desktop || fail "desktop entry Exec"
    grep -qx 'Icon=quorline' /usr/share/applications/quorline.desktop || fail "desktop entry Icon"
    if command -v desktop-file-validate >/dev/null; then
        desktop-file-validate /usr/share/applications/quorline.desktop || fail "desktop entry invalid"
    else
        fail "desktop-file-validate is not installed (desktop-file-utils)"
    fi
    local metainfo=/usr/share/metainfo/example.c_seed_ad32cac1.quorline.metainfo.xml
    if command -v appstreamcli >/dev/null; then
        appstreamcli validate --no-net "$metainfo" || fail "AppStream metainfo invalid"
    else
        fail "appstreamcli is not installed (appstream)"
    fi
    grep -q '<release version="1.02"' "$metainfo" || fail "metainfo names another release"
    grep -q '<launchable type="desktop-id">quorline.desktop<' "$metainfo" \
        || fail "metainfo does not launch the desktop entry"
    grep -q '/docs/form1.png</image>' "$metainfo" || fail "metainfo lacks the screenshot"
    zcat /usr/share/doc/quorline/changelog.gz | head -n 1 | grep -q '^quorline (1.02) ' \
        || fail "changelog does not start with this version"
    grep -q '<svg' /usr/share/icons/hicolor/scalable/apps/quorline.svg || fail "icon is not SVG"
    grep -q 'MIT' /usr/share/doc/quorline/copyright || fail "copyright names no licence"
    local man
    man=$(zcat /usr/share/man/man1/quorline.1.gz)
    grep -q '^\.TH QUORLINE 1 .*"Quorline 1\.02"' <<<"$man" || fail "manual page names another version"
    for word in QUORLINE_COM ttyS ttyUSB ttyACM dialout demo; do
        grep -q -- "$word" <<<"$man" || fail "manual page does not mention $word"
    done
    if command -v groff >/dev/null; then
        local warnings
        warnings=$(zcat /usr/share/man/man1/quorline.1.gz | groff -man -Tutf8 -ww -z 2>&1)
        [ -z "$warnings" ] || fail "manual page warnings: $warnings"
    fi
}

# The program run through the link, from a directory holding a decoy help.txt, with nothing in
# its environment but a path and the offscreen platform.
run_installed() {
    local what=$1
    local cwd="$work/elsewhere"
    mkdir -p "$cwd"
    echo "decoy: not the installed help" >"$cwd/help.txt"
    local out
    out=$(cd "$cwd" && env -i PATH=/usr/bin:/bin HOME="$cwd" QT_QPA_PLATFORM=offscreen \
        timeout 60 quorline --check-install 2>"$work/run.err")
    local rc=$?
    echo "$out" | sed 's/^/    /'
    [ $rc = 0 ] || fail "$what: quorline --check-install exited with $rc: $(cat "$work/run.err")"
    grep -qx 'directory: /usr/lib/quorline' <<<"$out" || fail "$what: program directory not resolved through the link"
    grep -q '^help: loaded' <<<"$out" || fail "$what: help.txt not found beside the program"
    local size
    size=$(wc -c </usr/lib/quorline/help.txt)
    [ "$size" -gt 0 ] || fail "$what: installed help.txt is empty"
    grep -qx 'icon: set' <<<"$out" || fail "$what: no window icon"
    grep -qx 'title: Quorline v1.02' <<<"$out" || fail "$what: caption"

    # The demo starts the peer tool installed beside the program, as COM1.
    out=$(cd "$cwd" && env -i PATH=/usr/bin:/bin HOME="$cwd" QT_QPA_PLATFORM=offscreen \
        timeout 60 quorline --demo --check-install 2>"$work/demo.err")
    rc=$?
    [ $rc = 0 ] || fail "$what: quorline --demo exited with $rc: $(cat "$work/demo.err")"
    grep -q '^ports: COM1\b' <<<"$out" || fail "$what: the demo device is not COM1: $out"

    # No serial devices at all: the system's list hidden in a mount namespace of the run's own.
    if unshare -m true 2>/dev/null; then
        out=$(cd "$cwd" && env -i PATH=/usr/bin:/bin:/usr/sbin:/sbin HOME="$cwd" \
            QT_QPA_PLATFORM=offscreen unshare -m sh -c \
            'mount --make-rprivate / && mount -t tmpfs none /sys/class/tty &&
             exec timeout 60 quorline --check-install' 2>"$work/nodevices.err")
        rc=$?
        [ $rc = 0 ] || fail "$what: with no serial devices, exit $rc: $(cat "$work/nodevices.err")"
        grep -qx 'ports:' <<<"$out" || fail "$what: ports listed with no serial devices: $out"
        grep -q '^help: loaded' <<<"$out" || fail "$what: with no serial devices, no help text"
    else
        echo "note: no mount namespaces here; the run without serial devices is left out"
    fi

    # An ordinary start keeps running until it is stopped.
    (cd "$cwd" && env -i PATH=/usr/bin:/bin HOME="$cwd" QT_QPA_PLATFORM=offscreen \
        timeout -s TERM 3 quorline >/dev/null 2>&1)
    rc=$?
    [ $rc = 124 ] || fail "$what: the program ended by itself with $rc instead of running"
}

echo "== first install"
dpkg -i "$deb" >"$work/install1.log" 2>&1 || die "dpkg -i failed: $(cat "$work/install1.log")"
check_installed "first install"
check_files
run_installed "first install"

echo "== second install over the first"
dpkg -i "$deb" >"$work/install2.log" 2>&1 || fail "second dpkg -i failed: $(cat "$work/install2.log")"
check_installed "second install"
run_installed "second install"

echo "== removal"
dpkg -r quorline >"$work/remove.log" 2>&1 || fail "dpkg -r failed: $(cat "$work/remove.log")"
for path in "${owned[@]}" /usr/lib/quorline /usr/share/doc/quorline; do
    [ -e "$path" ] || [ -L "$path" ] && fail "left after removal: $path"
done
status=$(dpkg-query -W -f '${Status}' quorline 2>/dev/null)
case "$status" in
"" | "unknown ok not-installed" | "deinstall ok not-installed") ;;
*) fail "dpkg still knows quorline after removal: $status" ;;
esac
dpkg --purge quorline >/dev/null 2>&1

if [ $failures -gt 0 ]; then
    echo "$failures check(s) failed"
    exit 1
fi
echo "all package checks passed"
