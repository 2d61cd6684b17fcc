#!/usr/bin/env bash
# Sets up a fresh Debian machine (as root, or with sudo), builds velorin in
# build/ and runs the tests. Safe to run again: installed packages are kept.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release
cmake --build build -j"$(nproc)"
ctest --test-dir build -j"$(nproc)" --output-on-failure
