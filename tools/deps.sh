#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the program need,
# when any of them is missing. Sourced by run.sh and test.sh.
PD_PACKAGES=(g++ cmake make pkg-config qt6-base-dev fonts-wqy-microhei fonts-wqy-zenhei
  qt6-translations-l10n
  libsdl2-mixer-dev libsqlite3-dev libasound2-dev libjpeg-dev libpng-dev zlib1g-dev
  libgtest-dev libbenchmark-dev sqlite3 fp-utils
  libxlsxwriter-dev libzip-dev libexpat1-dev clang libclang-rt-14-dev
  xvfb openbox xcompmgr xdotool x11-utils x11-apps)
pd_install_missing() {
  local missing=()
  for p in "${PD_PACKAGES[@]}" "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    local SUDO=""
    [ "$(id -u)" -ne 0 ] && SUDO=sudo
    $SUDO apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}"
  fi
}
