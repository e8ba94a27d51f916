#!/usr/bin/env bash
# Installs what is missing, builds Lumora in Release and starts it with the arguments given.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build --target lumora
exec build/lumora "$@"
