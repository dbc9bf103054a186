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
source "$ROOT/bench/server/common.sh"
bench_store_script 100 15 python3 "$@"
LOAD="$ROOT/bench/server/store-load.py"
# The server's stores start empty (no demo songs).
SEED=no

refresh_rows() { # refresh_rows STORE
    if [ "$1" = sqlite ]; then
        python3 -c 'import sqlite3, sys; print(sqlite3.connect(sys.argv[1]).execute("SELECT count(*) FROM refresh_tokens").fetchone()[0])' \
            "$SCRATCH/sqlite/cantorella.sqlite"
    else
        psql -h 127.0.0.1 -p "$PG_PORT" -U postgres -d bench -tAc 'SELECT count(*) FROM refresh_tokens'
    fi
}

run_store() { # run_store sqlite|postgresql
    local store="$1" rows_before
    start_store "$store"
    echo "== $store ($SERVER; $(nproc) cores shared with whatever else runs)"
    python3 "$LOAD" "$BASE" "$ANON" signups "$CLIENTS" "$DURATION"
    python3 "$LOAD" "$BASE" "$ANON" backups "$CLIENTS" 5 3
    rows_before="$(refresh_rows "$store")"
    python3 "$LOAD" "$BASE" "$ANON" refresh 10000
    echo "refresh-token rows: $rows_before before the chain's sign-up, $(refresh_rows "$store") after its refreshes"
    echo "500 answers in the log: $(grep -c ' 500 ' "$SCRATCH/$store.log" || true);" \
        "\"database is locked\": $(grep -c 'database is locked' "$SCRATCH/$store.log" || true)"
    stop_server
}

for_stores run_store
