#!/usr/bin/env bash
# Configures build-sanitize/ (clang, address and undefined-behaviour sanitizers, the fuzz
# targets) and builds the targets given. Shared by fuzz.sh and asan.sh.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build-sanitize"
if [ ! -f "$build/CMakeCache.txt" ]; then
  # -O1 and line tables keep the sanitized build fast to compile and its reports readable.
  CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -gline-tables-only" -DVELMORA_BUILD_FUZZERS=ON
fi
cmake --build "$build" -j "$(nproc 2>/dev/null || echo 2)" --target "$@"
