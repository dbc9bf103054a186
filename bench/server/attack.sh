#!/usr/bin/env bash
# cantorella-server facing clients on its own, each figure beside nginx in the same run:
#   1. 5,000 slowloris connections (request heads a byte a second, reopened when closed) held
#      open: a normal client's p99 (wrk -t1 -c4 GET /healthz);             goal ≤ 50 ms
#   2. 10,000 idle kept-alive connections: RSS, and a normal client's p99;  goal ≤ 256 MiB, ≤ 20 ms
#   3. 16 concurrent 64 MiB backup GETs and 16 PUTs: peak RSS;              goal ≤ 256 MiB
#      (nginx: GETs of a 64 MiB file and PUTs through its WebDAV module)
#   4. cached POST /api/track and GET /healthz at 64 connections (wrk -t4): requests a second
#      against nginx's static files of the same bodies, p99;             goal ≥ 70 % of nginx, ≤ 5 ms
# Everything runs on 127.0.0.1 as processes of this script, on free ports, in a scratch folder.
# The machine's other load shows in every figure: run several rounds (-r) and read them together.
#
#   bench/server/attack.sh [-d SECONDS] [-r ROUNDS]      (default 10 s per wrk run, 1 round)
#
# Needs a build (./scripts/build.sh, or CANTORELLA_BUILD_DIR), wrk, nginx, curl, python3, and an
# open-files limit of 20,000 or more (raised here up to the hard limit).
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/../.." && pwd)"
source "$ROOT/bench/server/common.sh"
bench_nginx_rounds "$@"

SLOW_COUNT=5000
IDLE_COUNT=10000
BACKUPS=16

# rss_kib PID…: the resident memory of the processes together, in KiB.
rss_kib() { local pid total=0; for pid in "$@"; do total=$((total + $(awk '/^VmRSS/ { print $2 }' "/proc/$pid/status"))); done; echo "$total"; }
# peak_kib PID…: the peak resident memory of each since its last reset, summed, in KiB.
peak_kib() { local pid total=0; for pid in "$@"; do total=$((total + $(awk '/^VmHWM/ { print $2 }' "/proc/$pid/status"))); done; echo "$total"; }
reset_peaks() { local pid; for pid in "$@"; do echo 5 >"/proc/$pid/clear_refs"; done; }
nginx_pids() { echo "$NGINX_PID" $(pgrep -P "$NGINX_PID" || true); }


# ---- the servers ---------------------------------------------------------------------------------
# Idle connections are kept for the whole run, and there is room for them and the normal client.
start_track_server attack --keep-alive-timeout 300 --max-connections $((IDLE_COUNT + 100))
ATTACK_PID="$SERVER_PID"
mkdir -p "$SCRATCH/www/dav" "$SCRATCH/nginx-body"
python3 -c 'import sys; sys.stdout.write("{\"library\":\"" + "x" * (64 * 1024 * 1024 - 16) + "\"}")' >"$SCRATCH/www/backup"
chmod -R a+rwX "$SCRATCH/www" "$SCRATCH/nginx-body"
start_nginx 20000 "access_log off; keepalive_timeout 300s; client_max_body_size 70m; client_body_temp_path $SCRATCH/nginx-body;" \
    "location /dav/ { dav_methods PUT; }"

# A fresh server for the backups' peak memory, with one account per transfer and a backup each.
start_server backup
BACKUP_BASE="http://127.0.0.1:$PORT"
BACKUP_PID="$SERVER_PID"
BACKUP_ANON="$(cat "$SCRATCH/backup/anon-key")"
for ((i = 0; i < BACKUPS; i++)); do
    BACKUP_TOKENS[i]="$(sign_up "$BACKUP_BASE" "$BACKUP_ANON" "backup$i@example.com")"
    curl -sf -o /dev/null -X PUT -H "Authorization: Bearer ${BACKUP_TOKENS[i]}" --data-binary "@$SCRATCH/www/backup" \
        "$BACKUP_BASE/api/backup?namespace=en"
done

echo "== cantorella-server beside nginx (worker_processes auto) on $(nproc) cores shared with whatever else" \
    "runs; load average $(cut -d' ' -f1-3 /proc/loadavg); ${DURATION} s per wrk run, $ROUNDS round(s)"
for ((round = 1; round <= ROUNDS; round++)); do
    echo "---- round $round"
    echo "1. $SLOW_COUNT slowloris connections held open; a normal client (wrk -t1 -c4 GET /healthz), goal p99 ≤ 50 ms"
    for target in server nginx; do
        if [ "$target" = server ]; then port="${BASE##*:}"; url="$BASE/healthz"; else port="$NGINX_PORT"; url="$NGINX_BASE/healthz"; fi
        hold slow "$port" "$SLOW_COUNT"
        wrk_run "   $target, slowloris held" 1 4 "$url"
        unhold
        echo "   $(cat "$SCRATCH/hold.out")"
    done

    echo "2. $IDLE_COUNT idle kept-alive connections; goal server RSS ≤ 256 MiB, a normal client's p99 ≤ 20 ms"
    for target in server nginx; do
        if [ "$target" = server ]; then port="${BASE##*:}"; url="$BASE/healthz"; pids="$ATTACK_PID"; else port="$NGINX_PORT"; url="$NGINX_BASE/healthz"; pids="$(nginx_pids)"; fi
        before="$(rss_kib $pids)"
        hold idle "$port" "$IDLE_COUNT"
        held="$(rss_kib $pids)"
        wrk_run "   $target, idle held" 1 4 "$url"
        after="$(rss_kib $pids)"
        unhold
        echo "   $target RSS: $((before / 1024)) MiB before, $((held / 1024)) MiB holding them, $((after / 1024)) MiB after the client; $(cat "$SCRATCH/hold.out")"
    done

    echo "3. $BACKUPS concurrent 64 MiB backup GETs and $BACKUPS PUTs; goal peak RSS ≤ 256 MiB"
    for target in server nginx; do
        if [ "$target" = server ]; then pids="$BACKUP_PID"; else pids="$(nginx_pids)"; fi
        reset_peaks $pids
        base_rss="$(rss_kib $pids)"
        start=$(date +%s.%N)
        transfers=()
        for ((i = 0; i < BACKUPS; i++)); do
            if [ "$target" = server ]; then
                auth=(-H "Authorization: Bearer ${BACKUP_TOKENS[i]}")
                get="$BACKUP_BASE/api/backup?namespace=en"; put="$get"
            else
                auth=(); get="$NGINX_BASE/backup"; put="$NGINX_BASE/dav/backup$i"
            fi
            curl -sf "${auth[@]}" -o "$SCRATCH/got$i" "$get" & transfers+=($!)
            curl -sf "${auth[@]}" -o /dev/null -X PUT --data-binary "@$SCRATCH/www/backup" "$put" & transfers+=($!)
        done
        failed=0
        for pid in "${transfers[@]}"; do wait "$pid" || failed=$((failed + 1)); done
        seconds="$(echo "$(date +%s.%N) - $start" | bc)"
        peak="$(peak_kib $pids)"
        same=0
        for ((i = 0; i < BACKUPS; i++)); do cmp -s "$SCRATCH/got$i" "$SCRATCH/www/backup" && same=$((same + 1)); done
        rm -f "$SCRATCH"/got* "$SCRATCH"/www/dav/*
        printf '   %-7s peak RSS %4d MiB (%d MiB before); %.1f s; %d of %d GETs byte-identical; %d transfers failed\n' \
            "$target" $((peak / 1024)) $((base_rss / 1024)) "$seconds" "$same" "$BACKUPS" "$failed"
    done

    echo "4. 64 connections (wrk -t4); goal ≥ 70 % of nginx's requests a second, p99 ≤ 5 ms"
    compare_cached "$SCRATCH/track.lua"
done
