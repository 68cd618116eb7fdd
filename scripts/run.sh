#!/usr/bin/env bash
# Builds the window program for Linux and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake --preset linux >/dev/null
cmake --build --preset linux --target tarsolin jetrepair
exec build/linux/tarsolin "$@"
