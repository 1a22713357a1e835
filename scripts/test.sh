#!/usr/bin/env bash
# Builds Tabulon with its tests (Debug, AddressSanitizer + UBSan) into build-tests/ and runs them.
# Exits non-zero when the build or a test fails.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

bash scripts/install-deps.sh --test
cmake -S . -B build-tests -DCMAKE_BUILD_TYPE=Debug -DTABULON_SANITIZE=ON
cmake --build build-tests --parallel 2

export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=detect_leaks=0
ctest --test-dir build-tests --output-on-failure
