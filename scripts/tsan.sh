#!/usr/bin/env bash
# Builds the suites that exercise the system's own threads with the thread sanitizer (in
# build-tsan/) and runs them: device events and the simulated library, playback, the input
# filter, the simulated drivers and the downloaders. Exits non-zero when a suite fails or a
# race is reported.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build-tsan"
suites=(test_device_events test_sim_library command_exec_test device_filter_test
        input_services_test platform_sim_input_tests update_downloader_tests)
bash "$root/scripts/setup.sh"
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DVELMORA_SANITIZE_THREAD=ON
fi
cmake --build "$build" -j "$(nproc 2>/dev/null || echo 2)" --target "${suites[@]}" dc dcsim
export TSAN_OPTIONS="suppressions=$root/scripts/tsan.supp halt_on_error=0 exitcode=66"
export QT_QPA_PLATFORM=offscreen
cd "$build"
regex="^($(IFS='|'; echo "${suites[*]}"))\$"
ctest --output-on-failure -R "$regex"
