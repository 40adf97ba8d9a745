#!/usr/bin/env bash
# Installs the Debian packages the build, the tests, the package check and ./run
# need, and only when one is missing.
pelmora_packages=(
  cmake g++ make pkg-config
  qt6-base-dev qt6-base-dev-tools qt6-base-private-dev qt6-serialport-dev libgl-dev libxcb1-dev
  libtomlplusplus-dev
  qt6-httpserver-dev qt6-websockets-dev chromium
  fonts-liberation adwaita-qt6
  xvfb xauth imagemagick x11-utils xdotool openbox wmctrl
  desktop-file-utils dpkg-dev file
  help2man lintian appstream appstream-compose man-db librsvg2-bin
  libqt6sql6-sqlite libqt6sql6-psql postgresql libpq-dev
  libsystemd-dev libevdev-dev
  screen minicom cu
)

pelmora_ensure_deps() {
  local missing=() p
  for p in "${pelmora_packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing missing packages: ${missing[*]}"
  local sudo=()
  [ "$(id -u)" -ne 0 ] && sudo=(sudo)
  export DEBIAN_FRONTEND=noninteractive
  "${sudo[@]}" apt-get update -qq
  "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
}
