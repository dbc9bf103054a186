#!/usr/bin/env bash
# One account's backups beside everyone else, on SQLite and on PostgreSQL (a throw-away cluster):
#   1. 300 uploads from one account trickling 5,000 B/s each: other clients' sign-ups (store-load.py,
#      CLIENTS clients for SECONDS), beside the same sign-ups alone;  goal all 200, p50 ≤ 2× alone
#   2. 16 stalled readers of one 64 MiB backup: the spool's bytes;
#      goal ≤ 64 MiB (SQLite lends its document files: 0), plus a piece per reader in memory
#   3. 32 parallel 64 MiB upload loops from one account beside the sign-ups;  goal no 503,
#      p50 ≤ 2× alone
# Each sign-up line: requests, statuses (count × status; 0 = no answer), p50 and p99. The machine's
# other load shows in every figure: each section names the load average when it starts.
#
#   bench/server/fair-share.sh [-c CLIENTS] [-d SECONDS] [-s sqlite|postgresql|both]
#   CANTORELLA_SERVER=/other/cantorella-server bench/server/fair-share.sh   (another build, for A/B)
#
# Needs a build (./scripts/build.sh, or CANTORELLA_BUILD_DIR), python3, and for PostgreSQL
# postgresql-15 (with psql); about 5 GiB free for the scratch folder.
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/../.." && pwd)"
source "$ROOT/bench/server/common.sh"
bench_store_script 8 20 "python3 curl" "$@"
ulimit -n "$(ulimit -Hn)" 2>/dev/null || true
LOAD="$ROOT/bench/server/store-load.py"
SHARE="$ROOT/bench/server/fair-share.py"
SEED=no

load() { cut -d' ' -f1-3 /proc/loadavg; }

# signups NAME: the sign-up line of CLIENTS clients for DURATION seconds; sets P50 (ms).
signups() {
    local line
    line="$(python3 "$LOAD" "$BASE" "$ANON" signups "$CLIENTS" "$DURATION")"
    P50="$(sed -n 's/.* p50 *\([0-9.]*\) ms.*/\1/p' <<<"$line")"
    echo "   $1: $(sed 's/^clients signing up for [0-9]* s *//' <<<"$line")"
}

# ratio A B: A / B to one decimal.
ratio() { python3 -c "import sys; print(f'{float(sys.argv[1]) / float(sys.argv[2]):.1f}')" "$1" "$2"; }

run_store() { # run_store sqlite|postgresql
    local store="$1" token control peak spool i
    start_store "$store"
    token="$(sign_up "$BASE" "$ANON" "uploader-$store@example.com")"
    echo "== $store ($SERVER; $(nproc) cores shared with whatever else runs)"

    echo "1. 300 uploads of one account at 5,000 B/s; load average $(load)"
    signups "sign-ups alone"
    control="$P50"
    python3 "$SHARE" "$BASE" "$token" trickle 300 5000 $((DURATION + 10)) >"$SCRATCH/trickle.out" &
    local trickle=$!
    sleep 3 # the uploads are under way
    signups "sign-ups beside them"
    echo "   p50 $(ratio "$P50" "$control")× alone"
    wait "$trickle"
    echo "   $(cat "$SCRATCH/trickle.out")"

    echo "2. 16 stalled readers of one 64 MiB backup; load average $(load)"
    python3 -c 'import sys; sys.stdout.write("{\"library\":\"" + "x" * (64 * 1024 * 1024 - 16) + "\"}")' >"$SCRATCH/backup"
    curl -sf -o /dev/null -X PUT -H "Authorization: Bearer $token" --data-binary "@$SCRATCH/backup" "$BASE/api/backup?namespace=en"
    rm -f "$SCRATCH/backup"
    rm -f "$SCRATCH/ready"
    python3 "$SHARE" "$BASE" "$token" stall 16 10 "$SCRATCH/ready" &
    local stall=$!
    for ((i = 0; i < 600; i++)); do
        [ -f "$SCRATCH/ready" ] && break
        sleep 0.1
    done
    peak=0
    for ((i = 0; i < 10; i++)); do
        spool="$(python3 "$SHARE" spool "$SERVER_PID" "$SCRATCH/$store")"
        [ "$spool" -gt "$peak" ] && peak="$spool"
        sleep 0.5
    done
    echo "   $(cat "$SCRATCH/ready" 2>/dev/null || echo 'the readers did not get their heads');" \
        "spool $((peak / 1024 / 1024)) MiB at most; server RSS $(($(awk '/^VmRSS/ { print $2 }' "/proc/$SERVER_PID/status") / 1024)) MiB"
    wait "$stall"

    echo "3. 32 parallel 64 MiB upload loops of one account; load average $(load)"
    python3 "$SHARE" "$BASE" "$token" loops 32 64 $((DURATION + 10)) >"$SCRATCH/loops.out" &
    local loops=$!
    sleep 3
    signups "sign-ups beside them"
    echo "   p50 $(ratio "$P50" "$control")× alone"
    wait "$loops"
    echo "   $(cat "$SCRATCH/loops.out")"
    echo "   500 answers in the log: $(grep -c ' 500 ' "$SCRATCH/$store.log" || true)"
    stop_server
}

for_stores run_store
