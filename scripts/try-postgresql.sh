#!/usr/bin/env bash
# Starts a private PostgreSQL server to try Tabulon on (a temporary folder, a Unix socket in it, no
# TCP port), loads the sample database into it with tabulon-cli copy-table, and prints the URI to
# open. The server keeps running; the last line says how to stop it.
# Usage: scripts/try-postgresql.sh [BUILD_DIR]   (default build/, where tabulon-cli is)
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
build=${1:-build}
cli="$build/tabulon-cli"
[ -x "$cli" ] || { echo "try-postgresql: $cli is missing; build first (scripts/run.sh or cmake --build $build)" >&2; exit 1; }
if ! dpkg-query -W -f='${Status}' postgresql 2>/dev/null | grep -q "install ok installed"; then
    SUDO=""; if [ "$(id -u)" != 0 ]; then SUDO="sudo"; fi
    $SUDO apt-get update -qq
    $SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq postgresql
fi
bash samples/make-sample.sh
source scripts/pg-server.sh
pg_server_start
trap - EXIT  # the server stays up for the person trying it
"$cli" tables samples/tabulon-sample.db | while IFS= read -r table; do
    printf '%s: ' "$table"
    "$cli" copy-table samples/tabulon-sample.db "$table" "$TABULON_TEST_PG"
done
echo
echo "Open:  $TABULON_TEST_PG"
echo "       e.g. $cli query '$TABULON_TEST_PG' 'select * from Clientes'"
echo "Stop:  ${PG_SERVER_AS[*]} $PG_SERVER_BIN/pg_ctl -D $PG_TEST_DIR/data stop && rm -rf $PG_TEST_DIR"
