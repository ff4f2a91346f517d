#!/usr/bin/env bash
# Sets up the machine, builds tarnex-run, starts a local FTP server (loopback only) and runs
# examples/demo.fcs against it, printing the execution log.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
"$root/scripts/build.sh" >/dev/null

work=$(mktemp -d)
server_pid=""
cleanup() {
  [[ -n $server_pid ]] && kill "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/server" "$work/client"
/usr/bin/python3 "$root/tests/support/ftpd.py" --port 0 --root "$work/server" \
  --user demo --password demo-pass --port-file "$work/port" >/dev/null 2>&1 &
server_pid=$!
for _ in $(seq 100); do [[ -s $work/port ]] && break; sleep 0.1; done
port=$(cat "$work/port")

cd "$work/client"
printf 'Sales by month\r\n' > report.txt
printf 'January\r\nFebruary\r\n' > "monthly report.txt"
cp "$root/examples/demo.fcs" .
status=0
"${BUILD_DIR:-$root/build}/app/tarnex-run" --registry "$work/registry.db" \
  --set host=127.0.0.1 --set "port=$port" --set user=demo --set password=demo-pass \
  demo.fcs || status=$?
echo
echo "listing.txt:"; cat listing.txt
echo "tarnex-run exited with status $status (1: a command reported failure, as the demo intends)"
[[ $status -le 1 ]]
