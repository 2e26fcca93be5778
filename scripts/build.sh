#!/usr/bin/env bash
# Configures and builds the program, its tools and tests into build/ (the application
# folder is build/app/).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${VELMORA_BUILD_DIR:-$root/build}"
jobs="$(nproc 2>/dev/null || echo 2)"
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@"
fi
cmake --build "$build" -j "$jobs"
