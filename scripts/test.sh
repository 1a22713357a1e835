#!/usr/bin/env bash
# Builds Tabulon with its tests (Debug, AddressSanitizer + UBSan) into build-tests/ and runs them.
# Exits non-zero when the build or a test fails.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

bash scripts/install-deps.sh --test
# The PostgreSQL tests run against a private server of their own (skipped when it cannot start).
if ! dpkg-query -W -f='${Status}' postgresql 2>/dev/null | grep -q "install ok installed"; then
    SUDO=""; if [ "$(id -u)" != 0 ]; then SUDO="sudo"; fi
    $SUDO apt-get update -qq
    $SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq postgresql
fi
cmake -S . -B build-tests -DCMAKE_BUILD_TYPE=Debug -DTABULON_SANITIZE=ON
cmake --build build-tests --parallel 2

source scripts/pg-server.sh
pg_server_start || echo "PostgreSQL server not started: its tests are skipped" >&2

export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=detect_leaks=0
ctest --test-dir build-tests --output-on-failure
