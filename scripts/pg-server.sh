# Sourced by scripts/test.sh and scripts/try-postgresql.sh: starts a private PostgreSQL server in a
# temporary folder, listening only on a Unix socket there, and stops it when the shell exits.
# Sets PG_TEST_DIR and TABULON_TEST_PG (the connection URI). initdb refuses to run as root, so the
# server then runs as the postgres user the package creates, owning the folder.
# PG_SERVER_NO_TRAP=1 leaves the server running at exit, for a caller that stops it itself
# (pg_server_use then pg_server_stop).

# The folder of the newest server binaries installed; nothing when there are none.
pg_server_bindir() {
    local bindir
    bindir=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n1)
    if [ -n "$bindir" ] && [ -x "$bindir/initdb" ]; then echo "$bindir"; fi
}

pg_server_start() {
    local bindir
    bindir=$(pg_server_bindir)
    if [ -z "$bindir" ]; then
        echo "pg-server: no PostgreSQL server binaries under /usr/lib/postgresql" >&2
        return 1
    fi
    PG_TEST_DIR=$(mktemp -d /tmp/tabulon-pg.XXXXXX)
    chmod 755 "$PG_TEST_DIR"
    local as=() user
    user=$(id -un)
    if [ "$(id -u)" = 0 ]; then
        user=postgres
        chown postgres: "$PG_TEST_DIR"
        as=(runuser -u postgres --)
    fi
    PG_SERVER_AS=("${as[@]}")
    PG_SERVER_BIN=$bindir
    [ -n "${PG_SERVER_NO_TRAP:-}" ] || trap pg_server_stop EXIT
    "${as[@]}" "$bindir/initdb" -D "$PG_TEST_DIR/data" -U "$user" -A trust --no-sync -E UTF8 \
        --locale=C.UTF-8 >"$PG_TEST_DIR/initdb.log" 2>&1 ||
        { cat "$PG_TEST_DIR/initdb.log" >&2; return 1; }
    # Every role but one signs in without a password: tabulon_password must give its own, for the
    # tests of the password box (the tests create the role).
    "${as[@]}" sed -i '1i local all tabulon_password scram-sha-256' "$PG_TEST_DIR/data/pg_hba.conf"
    pg_server_ctl start || { cat "$PG_TEST_DIR/server.log" >&2; return 1; }
    export TABULON_TEST_PG="postgresql:///postgres?host=$PG_TEST_DIR&user=$user"
    echo "pg-server: running on socket folder $PG_TEST_DIR ($TABULON_TEST_PG)"
}

# pg_ctl on the server of PG_TEST_DIR, with the settings it always starts with: "start",
# "stop -m fast", ...
pg_server_ctl() {
    "${PG_SERVER_AS[@]}" "$PG_SERVER_BIN/pg_ctl" -D "$PG_TEST_DIR/data" -l "$PG_TEST_DIR/server.log" -w -s \
        -o "-c listen_addresses='' -k $PG_TEST_DIR -c fsync=off -c synchronous_commit=off -c full_page_writes=off" "$@"
}

# Takes up the server of a folder another shell started, to run pg_server_ctl or pg_server_stop.
pg_server_use() {
    PG_TEST_DIR=$1
    PG_SERVER_BIN=$(pg_server_bindir)
    PG_SERVER_AS=()
    if [ "$(id -u)" = 0 ]; then PG_SERVER_AS=(runuser -u postgres --); fi
}

pg_server_stop() {
    if [ -n "${PG_TEST_DIR:-}" ] && [ -d "$PG_TEST_DIR/data" ]; then
        "${PG_SERVER_AS[@]}" "$PG_SERVER_BIN/pg_ctl" -D "$PG_TEST_DIR/data" -m immediate -s stop || true
    fi
    [ -n "${PG_TEST_DIR:-}" ] && rm -rf "$PG_TEST_DIR"
    PG_TEST_DIR=
}
