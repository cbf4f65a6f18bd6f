#!/usr/bin/env bash
# Builds, then runs the program's main job.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh
exec build/bin/quvo-hwclient "$@"
