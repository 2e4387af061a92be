#!/usr/bin/env bash
# Installs the Debian 12 packages the build, the tests and the tools need, when missing.
set -euo pipefail

packages=(
    cmake ninja-build g++ pkg-config
    qt6-base-dev qt6-serialport-dev libgl-dev
    fonts-dejavu-core fonts-liberation2 xvfb xauth
    dpkg-dev file clang libclang-rt-14-dev clang-tidy-22 clang-format cppcheck
    lintian appstream desktop-file-utils
    ser2net
)

# One query for all: the installed ones come back as "name install ok installed".
mapfile -t installed < <(dpkg-query -W -f='${Package} ${Status}\n' "${packages[@]}" 2>/dev/null \
    | sed -n 's/ install ok installed$//p')
missing=()
for p in "${packages[@]}"; do
    [[ " ${installed[*]} " == *" $p "* ]] || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
