#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need.
set -euo pipefail
PKGS=(cmake ninja-build g++ pkg-config qt6-base-dev qt6-base-dev-tools libgl-dev
      libbenchmark-dev xvfb xauth fonts-dejavu-core
      libsystemd-dev systemd dpkg-dev file
      qt6-httpserver-dev qt6-websockets-dev libqt6sql6-sqlite prometheus  # the status endpoint (its CMake files want WebSockets), the call history, promtool in the tests
      clang-14 libclang-rt-14-dev  # the fuzz targets
      make patch libftdi-dev libconfuse-dev)  # the last four: the real Telldus library the tests build
missing=()
for p in "${PKGS[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  echo "Installing: ${missing[*]}"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}"
fi
