#!/usr/bin/env bash
# Sets up the machine, builds, and runs every test: the Linux suites through CTest, the pages'
# logic under Node, the Windows backend's suite under Wine, the unit suites again under the
# address and undefined-behaviour sanitizers, and a short run of every fuzz target.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
bash "$root/scripts/setup.sh"
bash "$root/scripts/build.sh" -DVELMORA_BUILD_TESTS=ON
status=0
(cd "$root/build" && ctest --output-on-failure -j 2 --timeout 300) || status=1
# The pages' own logic (conversions, validation, state) under Node's test runner.
echo "Page tests: node --test tests/pages"
node --test "$root"/tests/pages/*.test.mjs || status=1
if [ -f "$root/scripts/test-win32.sh" ]; then
  bash "$root/scripts/test-win32.sh" "$root/build/win32" || status=1
fi
bash "$root/scripts/asan.sh" || status=1
bash "$root/scripts/fuzz.sh" 10 || status=1
exit $status
