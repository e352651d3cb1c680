#!/usr/bin/env bash
# Builds Noctarbel and runs every test. The file-reader fuzz tests run a second time under
# AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

cmake -S . -B build -G Ninja
cmake --build build -j2
ctest --test-dir build --output-on-failure -j2

cmake -S . -B build-sanitize -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DNOCTARBEL_SANITIZE=ON -DNOCTARBEL_GUI=OFF -DNOCTARBEL_BENCH=OFF
cmake --build build-sanitize -j2 --target noctarbel_fuzz_tests
ctest --test-dir build-sanitize -R fuzz --output-on-failure
