#!/usr/bin/env bash
# Sets up the machine, builds, and runs every test: the Linux suites through CTest and the
# Windows backend's suite under Wine.
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
exit $status
