#!/usr/bin/env bash
# Installs the Debian packages that building, testing and the demo need, when missing.
set -euo pipefail

packages=(cmake ninja-build g++ pkg-config libsqlite3-dev libgtest-dev libgmock-dev
          qt6-base-dev libssl-dev openssl python3-pyftpdlib python3-openssl vsftpd curl
          openssh-sftp-server  # the SFTP session's tests run its server directly
          nlohmann-json3-dev  # the runner's --summary-json
          openssh-client  # SFTP runs over ssh; its tests also use ssh-keygen and ssh-agent
          openssh-server openssh-sftp-server  # the tests' sshd
          gettext  # msgfmt compiles the runner's message catalogues (po/)
          dpkg-dev file groff-base  # the Debian packages (dpkg-shlibdeps) and their manual pages
          lintian shared-mime-info zsh  # checks of the packages, the scripts' file types, completions
          clang libclang-rt-14-dev)  # the fuzz targets: clang with libFuzzer and the sanitizers

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}"
  sudo=""
  [[ $(id -u) -eq 0 ]] || sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
