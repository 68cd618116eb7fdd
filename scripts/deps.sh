#!/usr/bin/env bash
# Installs, on Debian 12, every package the build and the tests need.
# Does nothing when they are all present already.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  libgtest-dev libgmock-dev libcli11-dev nlohmann-json3-dev libfmt-dev
  qt6-base-dev qt6-translations-l10n
  mdbtools
  xvfb xauth xdotool imagemagick x11-apps
  g++-mingw-w64-x86-64-win32 binutils-mingw-w64-x86-64
  wine wine64 fonts-wine
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "Instalando: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
