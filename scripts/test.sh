#!/usr/bin/env bash
# Builds everything and runs every test: the Linux build (unit, engine, window),
# the engine again under AddressSanitizer + UndefinedBehaviorSanitizer, and the
# Windows cross build with its tests under wine.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
jobs=$(nproc)

echo "== Linux =="
cmake --preset linux
cmake --build --preset linux -j "$jobs"
ctest --preset linux -j "$jobs"

echo "== Engine under sanitizers =="
cmake --preset sanitize
cmake --build --preset sanitize -j "$jobs"
ctest --preset sanitize -j "$jobs"

echo "== Windows =="
cmake --preset windows
cmake --build --preset windows -j "$jobs"
tests/wine/run.sh build/windows
echo "Todas las pruebas han pasado."
