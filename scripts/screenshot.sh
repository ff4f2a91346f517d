#!/usr/bin/env bash
# Makes docs/screenshot.png: the desktop program's main window after a demo run against a
# local FTP server, in a virtual X display with a Japanese font. Installs what it needs.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
out=${1:-$root/docs/screenshot.png}

"$root/scripts/setup.sh"
needed=(xvfb xdotool imagemagick openbox x11-utils x11-xserver-utils fonts-noto-cjk)
missing=()
for p in "${needed[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "screenshot: installing ${missing[*]}"
  sudo=""
  [[ $(id -u) -eq 0 ]] || sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
    "${missing[@]}" >/dev/null
fi

cmake -S "$root" -B "$build" -G Ninja >/dev/null
cmake --build "$build" --target tarnex -j 2 >/dev/null

work=$(mktemp -d)
pids=()
cleanup() {
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[i]}" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

# Waits up to $1 tenths of a second for the command that follows to succeed.
wait_for() {
  local tries=$1
  shift
  until "$@" >/dev/null 2>&1; do
    ((tries-- > 0)) || { echo "screenshot: gave up waiting for: $*" >&2; return 1; }
    sleep 0.1
  done
}

# The FTP server the demo talks to.
mkdir -p "$work/ftp-root" "$work/local"
printf 'month;sales\r\n2026-11;1200\r\n2026-12;1450\r\n' > "$work/local/report.txt"
/usr/bin/python3 "$root/tests/support/ftpd.py" --root "$work/ftp-root" --user demo \
  --password demo-pass --port-file "$work/port" >/dev/null 2>&1 &
pids+=($!)
wait_for 100 test -s "$work/port"
port=$(cat "$work/port")

# A free display number, the virtual screen and a window manager for the title bar.
n=90
while [[ -e /tmp/.X11-unix/X$n || -e /tmp/.X$n-lock ]]; do ((n++)); done
export DISPLAY=:$n
Xvfb "$DISPLAY" -screen 0 860x540x24 -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
wait_for 100 xdpyinfo
xsetroot -solid '#3a5f85'
openbox >/dev/null 2>&1 &
pids+=($!)
sleep 1

cd "$work/local"
TARNEX_REGISTRY="$work/registry.db" QT_QPA_PLATFORM=xcb "$build/app/tarnex" >/dev/null 2>&1 &
pids+=($!)
window=$(timeout 30 xdotool search --sync --name 'Tarnex -newfile' | head -n 1)
xdotool windowsize "$window" 820 470 windowmove "$window" 10 40
xdotool windowactivate --sync "$window" || xdotool windowfocus --sync "$window"
sleep 0.5
# Into the editor, as a user would: click, type the script, press F9.
xdotool mousemove --window "$window" 120 140 click 1
script="Rem Tarnex demo: one session with a local FTP server
set dir=reports
Open 127.0.0.1 NONE $port
Login demo demo-pass
if Error goto failed
Binary
md %dir%
Cd %dir%
Put report.txt
Dir
Get report.txt copy.txt
if NonError Rem fetched back as copy.txt
stop
:failed
Rem could not log in"
while IFS= read -r line; do
  xdotool type --delay 8 "$line"
  xdotool key Return
done <<<"$script"
xdotool key F9
# Fifteen lines at half a second each, and the transfers.
wait_for 300 test -s "$work/local/copy.txt"
sleep 4
mkdir -p "$(dirname "$out")"
import -window root -crop 840x504+0+10 +repage "$out"
echo "screenshot: wrote $out"
