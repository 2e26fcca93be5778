#!/usr/bin/env bash
# Sets up the machine, builds, and starts the program with the simulated device.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
bash "$root/scripts/setup.sh"
bash "$root/scripts/build.sh"
cd "$root/build/app"
export QTWEBENGINE_DISABLE_SANDBOX=1
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display: starting under Xvfb (screen :99)."
  exec xvfb-run -a -s "-screen 0 1280x800x24" ./velmora "$@"
fi
exec ./velmora "$@"
