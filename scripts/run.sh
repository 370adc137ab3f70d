#!/usr/bin/env bash
# Installs what the program needs, builds it and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
CC=clang CXX=clang++ cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DVELMORA_BUILD_BENCH=OFF
cmake --build build/release
exec build/release/bin/Tamsweld "$@"
