#!/usr/bin/env bash
# Builds the Debian package: a Release build in build-release/, then
# build-release/quvo-hwclient_<version>_<arch>.deb.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr >/dev/null
# Only what the package holds; the tests are built elsewhere.
cmake --build build-release -j2 --target quvo-hwclient
rm -f build-release/quvo-hwclient_*.deb
(cd build-release && cpack -G DEB >/dev/null)
ls build-release/quvo-hwclient_*.deb
