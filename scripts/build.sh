#!/usr/bin/env bash
# Configures and builds the program, its tools and tests into build/ (the application
# folder is build/app/).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${VELMORA_BUILD_DIR:-$root/build}"
jobs="$(nproc 2>/dev/null || echo 2)"
# Options given here (e.g. -DVELMORA_BUILD_TESTS=OFF) are applied to an existing build too.
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@"
elif [ $# -gt 0 ]; then
  cmake -S "$root" -B "$build" "$@"
fi
cmake --build "$build" -j "$jobs"
