#!/usr/bin/env bash
# The store under load, on SQLite and on PostgreSQL (a throw-away cluster of this script, with the
# server's default durability: fsync and synchronous commit on):
#   1. CLIENTS concurrent sign-ups for SECONDS (each client signs up new addresses back to back);
#   2. CLIENTS concurrent 5 MB backup PUTs (each client three in a row);
#   3. 10,000 refreshes of one refresh chain, one after another, and then the rows of the
#      refresh-token table.
# Each line: requests, statuses (count × status; 0 = no answer), latency p50 and p99.
#
#   bench/server/store-load.sh [-c CLIENTS] [-d SECONDS] [-s sqlite|postgresql|both]
#   CANTORELLA_SERVER=/other/cantorella-server bench/server/store-load.sh   (another build, for A/B)
#
# Needs a build (./scripts/build.sh, or CANTORELLA_BUILD_DIR), python3, and for PostgreSQL
# postgresql-15 (with psql). As root, PostgreSQL runs as the system user cantorella-pgtest (created
# when missing, as the tests do).
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/../.." && pwd)"
BUILD="${CANTORELLA_BUILD_DIR:-$ROOT/build}"
SERVER="${CANTORELLA_SERVER:-$BUILD/src/server/cantorella-server}"
CLIENTS=100
DURATION=15
STORES=both
while getopts "c:d:s:" option; do
    case "$option" in
        c) CLIENTS="$OPTARG" ;;
        d) DURATION="$OPTARG" ;;
        s) STORES="$OPTARG" ;;
        *) echo "usage: $0 [-c CLIENTS] [-d SECONDS] [-s sqlite|postgresql|both]" >&2; exit 2 ;;
    esac
done
source "$ROOT/bench/server/common.sh"
BENCH_AT_EXIT=stop_postgres
bench_setup python3
LOAD="$ROOT/bench/server/store-load.py"
PG_BIN=/usr/lib/postgresql/15/bin
PG_DATA=""
AS_PG=()
# The server's stores start empty (no demo songs).
SEED=no

stop_postgres() {
    [ -z "$PG_DATA" ] || "${AS_PG[@]}" "$PG_BIN/pg_ctl" -D "$PG_DATA" -m fast -w stop >/dev/null 2>&1 || true
}

start_postgres() {
    if [ "$(id -u)" = 0 ]; then
        id cantorella-pgtest >/dev/null 2>&1 \
            || PATH="$PATH:/usr/sbin" useradd --system --no-create-home --shell /usr/sbin/nologin cantorella-pgtest
        mkdir -p "$SCRATCH/pg"
        chown cantorella-pgtest "$SCRATCH/pg"
        AS_PG=(runuser -u cantorella-pgtest --)
    fi
    PG_DATA="$SCRATCH/pg/data"
    "${AS_PG[@]}" "$PG_BIN/initdb" -D "$PG_DATA" -U postgres -A trust -E UTF8 --locale=C --no-instructions >/dev/null
    PG_PORT="$(free_port)"
    "${AS_PG[@]}" "$PG_BIN/pg_ctl" -D "$PG_DATA" -l "$SCRATCH/pg/server.log" -w -t 60 \
        -o "-c listen_addresses=127.0.0.1 -c port=$PG_PORT -c unix_socket_directories=$SCRATCH/pg -c max_connections=100" \
        start >/dev/null
    psql -h 127.0.0.1 -p "$PG_PORT" -U postgres -qc 'CREATE DATABASE bench' >/dev/null
}

refresh_rows() { # refresh_rows STORE
    if [ "$1" = sqlite ]; then
        python3 -c 'import sqlite3, sys; print(sqlite3.connect(sys.argv[1]).execute("SELECT count(*) FROM refresh_tokens").fetchone()[0])' \
            "$SCRATCH/sqlite/cantorella.sqlite"
    else
        psql -h 127.0.0.1 -p "$PG_PORT" -U postgres -d bench -tAc 'SELECT count(*) FROM refresh_tokens'
    fi
}

run_store() { # run_store sqlite|postgresql
    local store="$1" anon rows_before
    if [ "$store" = postgresql ]; then
        start_postgres
        export CANTORELLA_ANON_KEY="bench-anon-key" CANTORELLA_JWT_KEY="bench-token-key-of-at-least-32-characters"
        start_server postgresql --database "postgresql://postgres@127.0.0.1:$PG_PORT/bench"
        anon="$CANTORELLA_ANON_KEY"
    else
        unset CANTORELLA_ANON_KEY CANTORELLA_JWT_KEY
        start_server sqlite
        anon="$(cat "$SCRATCH/sqlite/anon-key")"
    fi
    BASE="http://127.0.0.1:$PORT"
    echo "== $store ($SERVER; $(nproc) cores shared with whatever else runs)"
    python3 "$LOAD" "$BASE" "$anon" signups "$CLIENTS" "$DURATION"
    python3 "$LOAD" "$BASE" "$anon" backups "$CLIENTS" 5 3
    rows_before="$(refresh_rows "$store")"
    python3 "$LOAD" "$BASE" "$anon" refresh 10000
    echo "refresh-token rows: $rows_before before the chain's sign-up, $(refresh_rows "$store") after its refreshes"
    echo "500 answers in the log: $(grep -c ' 500 ' "$SCRATCH/$store.log" || true);" \
        "\"database is locked\": $(grep -c 'database is locked' "$SCRATCH/$store.log" || true)"
    stop_server
}

case "$STORES" in
    both) run_store sqlite; run_store postgresql ;;
    sqlite|postgresql) run_store "$STORES" ;;
    *) echo "$0: -s takes sqlite, postgresql or both" >&2; exit 2 ;;
esac
