#!/usr/bin/env bash
# Builds everything and runs every test; then builds the fuzz targets with clang.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
jobs=$(nproc)
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$jobs"
ctest --test-dir build --output-on-failure -j"$jobs"
CC=clang CXX=clang++ cmake -S . -B build-fuzz -DLENSBAY_FUZZ=ON \
  -DBUILD_TESTING=OFF -DLENSBAY_BENCH=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build-fuzz -j"$jobs" --target fuzz_all
