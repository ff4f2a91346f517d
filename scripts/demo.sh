#!/usr/bin/env bash
# Sets up the machine, builds tarnex-run and runs the demo script, printing its log.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
"$root/scripts/build.sh" >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/reports"
echo "last month" > "$work/reports/old-report.txt"
cp "$root/examples/demo.fcs" "$work/"
cd "$work"
status=0
TARNEX_REGISTRY="$work/registry.db" "${BUILD_DIR:-$root/build}/app/tarnex-run" demo.fcs || status=$?
echo "tarnex-run exited with status $status (1: a command reported failure, as the demo intends)"
[[ $status -le 1 ]]
