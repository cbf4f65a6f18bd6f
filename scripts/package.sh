#!/usr/bin/env bash
# Builds the Debian package: a Release build in build-release/, then
# build-release/quvo-hwclient_<version>_<arch>.deb.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset release
# Only what the package holds; the tests are built elsewhere.
cmake --build --preset release -j2 --target quvo-hwclient
rm -f build-release/quvo-hwclient_*.deb
(cd build-release && cpack -G DEB >/dev/null)
ls build-release/quvo-hwclient_*.deb
