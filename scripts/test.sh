#!/usr/bin/env bash
# Sets up the machine, builds, and runs every test.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
"$root/scripts/build.sh"
TARNEX_REQUIRE_REAL_SERVER=1 ctest --test-dir "${BUILD_DIR:-$root/build}" --output-on-failure -j "$(nproc)"
