#!/usr/bin/env bash
# Takes the documentation's pictures of the windows under a virtual X display.
# Usage: tools/screenshots.sh [BUILD-DIRECTORY]   (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
cmake --build "$build" --target quorline_screenshots quorpeer
mkdir -p docs
xvfb-run -a -s "-screen 0 1280x1024x24 -dpi 96" "$build/bin/quorline_screenshots" docs
