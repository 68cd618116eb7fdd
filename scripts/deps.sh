#!/usr/bin/env bash
# Installs, on Debian 12, every package the build and the tests need.
# Does nothing when they are all present already.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  libgtest-dev libgmock-dev libcli11-dev nlohmann-json3-dev libfmt-dev
  qt6-base-dev qt6-translations-l10n
  mdbtools
  xvfb xauth xdotool xclip imagemagick x11-apps
  g++-mingw-w64-x86-64-win32 binutils-mingw-w64-x86-64
  wine wine64 fonts-wine
  dpkg-dev nsis lintian desktop-file-utils appstream
)

# Node runs the second reader of the engine's agreement test; any packaging that brings
# node and npm will do (Debian's own: nodejs + npm).
command -v npm > /dev/null || packages+=(nodejs npm)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  echo "Instalando: ${missing[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# mdb-reader (npm), pinned, into build/node/node_modules (git-ignored, shared by every preset;
# tests/engine reads it from there unless TARSOLIN_NODE_MODULES says otherwise).
mdb_reader_version=3.2.0
node_dir="$(cd "$(dirname "$0")/.." && pwd)/build/node"
if ! grep -qs "\"version\": \"$mdb_reader_version\"" "$node_dir/node_modules/mdb-reader/package.json"; then
  echo "Instalando mdb-reader $mdb_reader_version en $node_dir"
  mkdir -p "$node_dir"
  npm install --prefix "$node_dir" --no-audit --no-fund --no-save --loglevel=error "mdb-reader@$mdb_reader_version"
fi

# With --bench: the Java side of bench's large-file grower (bench/grow, Jackcess from Maven
# Central). Only the benchmarks use it; the build and the tests never download it.
if [ "${1:-}" = "--bench" ]; then
  command -v mvn > /dev/null && command -v java > /dev/null || {
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends maven openjdk-17-jdk-headless
  }
  root="$(cd "$(dirname "$0")/.." && pwd)"
  scratch="$(mktemp -d)"
  mvn -q -B -f "$root/bench/grow/pom.xml" -Dgrow.out="$scratch" package
  rm -rf "$scratch"
fi
