#!/usr/bin/env bash
# Installs what is needed, builds the program and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
# The first build also builds the encoder tools from their pinned sources
# (downloaded once; see README), so the program starts with all three.
cmake -S . -B build -G Ninja -DORVEL_DOWNLOAD_ENCODERS=ON >/dev/null
cmake --build build -j "$(nproc 2>/dev/null || echo 2)" --target OrvelJpegOptimizer
exec build/bin/OrvelJpegOptimizer "$@"
