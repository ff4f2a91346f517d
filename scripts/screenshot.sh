#!/usr/bin/env bash
# Makes docs/screenshot.png: the desktop program's main window after a demo run against a
# local FTP server, in a virtual X display with a Japanese font. Installs what it needs.
#   ./scripts/screenshot.sh [OUT.png]
#   ./scripts/screenshot.sh --debugger [OUT.png]   docs/debugger.png: the run held at a
#                                                   breakpoint, the variables panel open, the
#                                                   debug tool bar above the panes
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
mode=demo
if [[ ${1:-} == --debugger ]]; then
  mode=debugger
  shift
fi
default_out=$root/docs/screenshot.png
[[ $mode == debugger ]] && default_out=$root/docs/debugger.png
out=${1:-$default_out}

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
screen=860x540
[[ $mode == debugger ]] && screen=1000x600
Xvfb "$DISPLAY" -screen 0 "${screen}x24" -nolisten tcp >/dev/null 2>&1 &
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
if [[ $mode == debugger ]]; then
  xdotool windowsize "$window" 960 530 windowmove "$window" 10 40
else
  xdotool windowsize "$window" 820 470 windowmove "$window" 10 40
fi
xdotool windowactivate --sync "$window" || xdotool windowfocus --sync "$window"
sleep 0.5
# Into the editor, as a user would: click, type the script.
xdotool mousemove --window "$window" 120 140 click 1
if [[ $mode == debugger ]]; then
  script="Rem Tarnex: a run held at a breakpoint
set dir=reports
set password=demo-pass
Open 127.0.0.1 NONE $port
Login demo %password%
if Error goto failed
Binary
md %dir%
Cd %dir%
Put report.txt
Dir
Get report.txt copy.txt
if NonError Rem fetched back as copy.txt
Bye
stop
:failed
Rem could not log in"
else
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
fi
while IFS= read -r line; do
  xdotool type --delay 8 "$line"
  xdotool key Return
done <<<"$script"
mkdir -p "$(dirname "$out")"
if [[ $mode == debugger ]]; then
  # A breakpoint on the Get line (the twelfth), the variables panel, then the run: it holds
  # before Get, with the upload and the listing done.
  xdotool key ctrl+Home
  for _ in $(seq 11); do xdotool key Down; done
  xdotool key F5 F6 F9
  wait_for 300 test -s "$work/ftp-root/reports/report.txt"
  sleep 3
  import -window root -crop 980x584+0+6 +repage "$out"
else
  xdotool key F9
  # Fifteen lines at half a second each, and the transfers.
  wait_for 300 test -s "$work/local/copy.txt"
  sleep 4
  import -window root -crop 840x504+0+10 +repage "$out"
fi
echo "screenshot: wrote $out"
