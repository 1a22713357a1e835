#!/usr/bin/env bash
# Builds Tabulon (Release) into build/, makes the sample database when missing and starts the program on it.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

bash scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DTABULON_TESTS=OFF
cmake --build build --parallel 2
bash samples/make-sample.sh

sample=samples/tabulon-sample.db
if [ -x build/tabulon ]; then
    if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
        echo "run.sh: no display to open the window on (DISPLAY is not set)." >&2
        echo "Start it from a desktop session: build/tabulon $sample" >&2
        exit 1
    fi
    exec build/tabulon "$sample"
fi

echo "== Tables of $sample"
build/tabulon-cli tables "$sample"
echo "== The first customers"
build/tabulon-cli query "$sample" "select IdCliente, Nombre, Ciudad, Activo, LimiteCredito from Clientes" --limit 5
echo "The desktop window comes later; until then build/tabulon-cli reads the sample (see README.md)."
