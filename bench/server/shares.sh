#!/usr/bin/env bash
# cantorella-server shared fairly between clients, each figure beside nginx in the same run:
#   1. one address (127.0.0.1) holding 10,000 unfinished request heads (a byte a second, reopened
#      when closed): another client (127.0.0.2) asks GET /healthz on a new connection every
#      20 ms;                                                goal ≥ 99 % answered, p99 ≤ 50 ms
#      (the server with its default share of 256 connections per address; nginx as it comes)
#   2. cached POST /api/track and GET /healthz at 64 connections (wrk -t4) against nginx's files
#      of the same bodies;                                   goal ≥ 70 % of nginx, p99 ≤ 5 ms
# Everything runs on loopback as processes of this script, on free ports, in a scratch folder.
# The load average is printed beside each figure: on a busy machine, run several rounds (-r).
#
#   bench/server/shares.sh [-d SECONDS] [-r ROUNDS]      (default 10 s per run, 1 round)
#
# Needs a build (./scripts/build.sh, or CANTORELLA_BUILD_DIR), wrk, nginx, curl, python3, and an
# open-files limit of 20,000 or more (raised here up to the hard limit).
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/../.." && pwd)"
source "$ROOT/bench/server/common.sh"
bench_nginx_rounds "$@"

HEADS=10000
PROBE_EVERY=0.02
PROBES="$(awk -v d="$DURATION" -v e="$PROBE_EVERY" 'BEGIN { printf "%d", d / e }')"

# The server with the default share per address (start_server lifts it for load clients).
start_track_server shares --max-connections-per-address 256
chmod -R a+rX "$SCRATCH/www"
start_nginx 20000 "access_log off;"

echo "== cantorella-server beside nginx (worker_processes auto) on $(nproc) cores shared with whatever else runs;" \
    "${DURATION} s per run, $ROUNDS round(s)"
for ((round = 1; round <= ROUNDS; round++)); do
    echo "---- round $round"
    echo "1. 127.0.0.1 holds $HEADS unfinished heads; 127.0.0.2 probes GET /healthz every ${PROBE_EVERY} s;" \
        "goal ≥ 99 % answered, p99 ≤ 50 ms"
    for target in server nginx; do
        if [ "$target" = server ]; then port="$PORT"; else port="$NGINX_PORT"; fi
        hold slow "$port" "$HEADS"
        echo "   $target, load average $(cut -d' ' -f1-3 /proc/loadavg): $(python3 "$ROOT/bench/server/probe.py" "$port" 127.0.0.2 "$PROBES" "$PROBE_EVERY")"
        unhold
        echo "   $(cat "$SCRATCH/hold.out")"
    done

    echo "2. 64 connections (wrk -t4); goal ≥ 70 % of nginx's requests a second, p99 ≤ 5 ms"
    compare_cached "$SCRATCH/track.lua"
done
