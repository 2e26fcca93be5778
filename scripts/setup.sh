#!/usr/bin/env bash
# Installs the Debian packages the project needs: `setup.sh run` only what building and
# running the program need; `setup.sh` (or `setup.sh test`) also what the tests need (the
# Windows cross-compiler and Wine, the web server, the page tests' runtime, and clang with
# its sanitizers and libFuzzer).
set -euo pipefail

run_packages=(
  build-essential cmake ninja-build pkg-config git
  qtbase5-dev qtwebengine5-dev libqt5webchannel5-dev qtmultimedia5-dev
  libqt5multimedia5-plugins
  libpugixml-dev liblzma-dev libsodium-dev
  libx11-dev libxcb1-dev libxtst-dev libqt5x11extras5-dev
  xvfb xauth fonts-wqy-microhei imagemagick
)
test_packages=(
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  g++-mingw-w64-x86-64-posix wine wine64
  nginx curl
  nodejs
  clang libclang-rt-14-dev llvm
)

packages=("${run_packages[@]}")
if [ "${1:-test}" != run ]; then
  packages+=("${test_packages[@]}")
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO=sudo
  $SUDO apt-get update
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
fi
