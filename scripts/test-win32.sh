#!/usr/bin/env bash
# Cross-compiles the Windows platform backend with mingw-w64 and runs its tests under Wine.
# Usage: scripts/test-win32.sh [build-dir] [GoogleTest options...]   (default: build/win32)
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$(realpath -m "${1:-$root/build/win32}")"
shift $(($# > 0 ? 1 : 0))

cmake -S "$root/platform/win32" -B "$build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" -j2

# Debian 12 has no wine64 on the PATH: "wine" is a wrapper that picks /usr/lib/wine/wine64
# (and, unless WINEDEBUG silences it, warns about the missing 32-bit loader).
if command -v wine >/dev/null 2>&1; then
    WINE_LOADER=wine
elif [ -x /usr/lib/wine/wine64 ]; then
    WINE_LOADER=/usr/lib/wine/wine64
else
    WINE_LOADER=wine64
fi

WINEPREFIX="$(mktemp -d)"
cleanup() {
    wineserver -k >/dev/null 2>&1 || true
    rm -rf "$WINEPREFIX"
}
trap cleanup EXIT
export WINEPREFIX WINEDEBUG=-all WINEARCH=win64 WINE_LOADER
# No Mono or Gecko installer dialogs while the prefix is created.
export WINEDLLOVERRIDES="mscoree,mshtml="
export TEST_EXE="$build/platform_win32_tests.exe"

# Everything Wine starts runs under one virtual display: the window tests need it, and so
# does the desktop process that the prefix set-up starts.
status=0
xvfb-run -a bash -c '
    set -u
    wineserver -p
    # The first start creates the prefix; kept apart so its messages stay out of the tests.
    "$WINE_LOADER" wineboot.exe --init >/dev/null 2>&1 || true
    # Without a window manager on the display, Wine waits two seconds for one on every
    # destroyed window that it lets a window manager manage; let it manage none.
    "$WINE_LOADER" reg.exe add "HKCU\\Software\\Wine\\X11 Driver" /v Managed /t REG_SZ \
        /d N /f >/dev/null
    status=0
    "$WINE_LOADER" "$TEST_EXE" "$@" || status=$?
    wineserver -k || true
    exit "$status"
' bash "$@" || status=$?
exit "$status"
