#!/usr/bin/env bash
# Benchmarks Tarnex against curl and lftp on loopback FTP servers (pyftpdlib, then vsftpd plain
# and with explicit TLS), and against OpenSSH's sftp and curl on a loopback sshd. Installs what
# it needs, builds tarnex-bench and tarnex-run in build-perf/ (or $BENCH_BUILD_DIR), prints one
# table per server.
#
#   bench/run.sh [--size-mib N] [--repeat N] [--markdown FILE] ...   (see bench/bench.py -h)
#   bench/run.sh --servers vsftpd               # one server's table alone
#   bench/run.sh --mirror-only                  # tarnex-run's mirror against lftp's alone
#   bench/run.sh --job-only                     # the 12-line job on vsftpd against lftp's alone
#   bench/run.sh --replace-only                 # the big download to a new file and over an old one
#   bench/run.sh --rtt-ms 20 --rtt-only         # behind a 20 ms round trip: download, mirrors, mget
#   bench/run.sh --sftp-only                    # SFTP on a loopback sshd: tarnex-run, sftp, curl
#
# Defaults: a 1 GiB file (held in /dev/shm when there is room), 3 runs per figure; a mirror of
# 2,000 files of 4 KiB; a vsftpd folder of 1,000,000 empty files to list (--huge-entries).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BENCH_BUILD_DIR:-$root/build-perf}

missing=()
for p in curl lftp python3-pyftpdlib vsftpd openssl time cmake ninja-build g++ \
         openssh-server openssh-client; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "bench: installing ${missing[*]}"
  sudo=""
  [[ $(id -u) -eq 0 ]] || sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
    "${missing[@]}" >/dev/null
fi
"$root/scripts/setup.sh"

# The project's default build type (optimised, with debug information for the profiler).
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARNEX_BUILD_GUI=OFF \
  >/dev/null
cmake --build "$build" -j 2 --target tarnex-bench tarnex-run tarnex-latency-proxy
exec /usr/bin/python3 "$root/bench/bench.py" --build "$build" --source "$root" "$@"
