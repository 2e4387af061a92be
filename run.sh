#!/usr/bin/env bash
# Sets up, builds and starts Quorline. Extra arguments go to the program (e.g. --demo).
set -euo pipefail
cd "$(dirname "$0")"
tools/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target quorline
exec build/bin/quorline "$@"
