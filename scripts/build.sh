#!/usr/bin/env bash
# Configures and builds with a preset of CMakePresets.json, after installing
# the Debian packages that are missing (none asked for when all are there):
#   scripts/build.sh                        the dev preset, into build/
#   scripts/build.sh ci                     the same with warnings as errors
#   scripts/build.sh PRESET [-DNAME=value ...]
set -euo pipefail
cd "$(dirname "$0")/.."
PRESET=${1:-dev}
[ $# -gt 0 ] && shift
scripts/install-deps.sh
cmake --preset "$PRESET" "$@"
cmake --build --preset "$PRESET" -j2
