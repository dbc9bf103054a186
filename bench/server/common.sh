# Helpers shared by the server's load scripts (sourced, not run). The caller sets ROOT, SERVER
# and DURATION (or calls bench_round_options), then calls bench_setup; or it sets ROOT and calls
# bench_nginx_rounds or bench_store_script, which do all of that.

# bench_round_options ARG…: -d SECONDS per run (DURATION, default 10) and -r ROUNDS (ROUNDS, default 1).
bench_round_options() {
    local option OPTIND=1
    DURATION=10
    ROUNDS=1
    while getopts "d:r:" option; do
        case "$option" in
            d) DURATION="$OPTARG" ;;
            r) ROUNDS="$OPTARG" ;;
            *) echo "usage: $0 [-d SECONDS] [-r ROUNDS]" >&2; exit 2 ;;
        esac
    done
}

# bench_nginx_rounds ARG…: the start of a script that measures the server beside nginx in rounds:
# SERVER (built in CANTORELLA_BUILD_DIR, or build/), -d/-r (bench_round_options), the tools and the
# build (bench_setup), and an open-files limit for 20,000 connections.
bench_nginx_rounds() {
    BUILD="${CANTORELLA_BUILD_DIR:-$ROOT/build}"
    SERVER="$BUILD/src/server/cantorella-server"
    bench_round_options "$@"
    bench_setup
    bench_open_files 20000
}

# bench_open_files COUNT: raises the open-files limit up to the hard limit; stops the script when
# it stays below COUNT.
bench_open_files() {
    ulimit -n "$(ulimit -Hn)" 2>/dev/null || true
    [ "$(ulimit -n)" = unlimited ] || [ "$(ulimit -n)" -ge "$1" ] \
        || { echo "$0: needs ulimit -n of $1 or more (hard limit $(ulimit -Hn))" >&2; exit 2; }
}

# hold MODE PORT COUNT: starts bench/server/hold.py for long enough (HOLD_PID) and waits until its
# connections are open; unhold ends it. Its line of counts is then in $SCRATCH/hold.out.
hold() {
    rm -f "$SCRATCH/ready"
    python3 "$ROOT/bench/server/hold.py" "$1" "$2" "$3" "$((DURATION + 60))" "$SCRATCH/ready" >"$SCRATCH/hold.out" &
    HOLD_PID=$!
    PIDS+=("$HOLD_PID")
    local i
    for ((i = 0; i < 600; i++)); do
        [ -f "$SCRATCH/ready" ] && return 0
        sleep 0.1
    done
    echo "   ($1: $3 connections were not all open after 60 s)"
}
unhold() { kill -TERM "$HOLD_PID" 2>/dev/null || true; wait "$HOLD_PID" 2>/dev/null || true; }

# bench_setup [TOOL…]: checks the tools (by default wrk, nginx, curl and python3) and the build;
# makes SCRATCH (removed on exit) and PIDS (processes ended on exit); sets NGINX when nginx is one
# of the tools. A caller that starts more than processes names its own clean-up in BENCH_AT_EXIT
# (run at exit, after the processes have ended and before SCRATCH goes).
bench_setup() {
    local tool tools=("$@")
    [ ${#tools[@]} -gt 0 ] || tools=(wrk nginx curl python3)
    for tool in "${tools[@]}"; do
        command -v "$tool" >/dev/null || PATH="$PATH:/usr/sbin" command -v "$tool" >/dev/null \
            || { echo "$0: $tool is missing" >&2; exit 2; }
    done
    [ -x "$SERVER" ] || { echo "$0: build cantorella-server first ($SERVER)" >&2; exit 2; }
    NGINX="$(PATH="$PATH:/usr/sbin" command -v nginx || true)"
    SCRATCH="$(mktemp -d)"
    chmod 0755 "$SCRATCH"
    PIDS=()
    trap bench_cleanup EXIT
}

bench_cleanup() {
    local pid
    for pid in "${PIDS[@]}"; do kill -TERM "$pid" 2>/dev/null || true; done
    for pid in "${PIDS[@]}"; do wait "$pid" 2>/dev/null || true; done
    [ -z "${BENCH_AT_EXIT:-}" ] || $BENCH_AT_EXIT
    rm -rf "$SCRATCH"
}

free_port() { python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }

# start_server NAME [FLAG…]: starts a server with its own data folder, seeded with the demo songs
# (SEED=no: empty); waits until it is listening (and seeded); sets PORT and SERVER_PID. Every load
# client runs on 127.0.0.1, so one address's share of the connections is the whole table unless
# a FLAG says otherwise (the last of a flag given twice holds).
start_server() {
    local name="$1" ready=' seed: ' seed=(--seed "$ROOT/demo/songs") i
    shift
    [ "${SEED:-yes}" = yes ] || { ready=' listening on '; seed=(); }
    mkdir -p "$SCRATCH/$name"
    "$SERVER" --listen 127.0.0.1:0 --data "$SCRATCH/$name" "${seed[@]}" --no-online \
        --signins-per-minute 1000000 --signups-per-minute 1000000 --max-connections-per-address 1000000 \
        "$@" 2>"$SCRATCH/$name.log" &
    SERVER_PID=$!
    PIDS+=("$SERVER_PID")
    for ((i = 0; i < 300; i++)); do
        grep -q "$ready" "$SCRATCH/$name.log" 2>/dev/null && break
        kill -0 "$SERVER_PID" 2>/dev/null || break
        sleep 0.1
    done
    PORT="$(sed -n 's/.* listening on http:\/\/127\.0\.0\.1:\([0-9]*\)$/\1/p' "$SCRATCH/$name.log")"
    [ -n "$PORT" ] || { echo "$0: the server did not start: $(cat "$SCRATCH/$name.log")" >&2; exit 1; }
}

stop_server() {
    kill -TERM "$SERVER_PID" 2>/dev/null || true
    wait "$SERVER_PID" 2>/dev/null || true
}

# start_nginx CONNECTIONS [HTTP_DIRECTIVES [SERVER_DIRECTIVES]]: nginx serving $SCRATCH/www (JSON by
# default) on a free port, CONNECTIONS per worker, keep-alive as cantorella-server's (1,000
# requests, and nginx's own default); waits until it answers /healthz. Sets NGINX_PORT, NGINX_PID
# and NGINX_BASE.
start_nginx() {
    local connections="$1" http="${2:-}" server="${3:-}" limit="" backlog="" i
    # Beyond the usual 1,024 open files the workers need a limit of their own, and the listening
    # socket a longer queue of connections not yet accepted.
    [ "$connections" -le 1024 ] || { limit="worker_rlimit_nofile $connections;"; backlog=" backlog=1024"; }
    NGINX_PORT="$(free_port)"
    cat >"$SCRATCH/nginx.conf" <<CONF
worker_processes auto;
$limit
daemon off;
pid $SCRATCH/nginx.pid;
error_log $SCRATCH/nginx-error.log;
user $(id -un);
events { worker_connections $connections; }
http {
    default_type application/json;
    keepalive_requests 1000;
    $http
    server {
        listen 127.0.0.1:$NGINX_PORT$backlog;
        root $SCRATCH/www;
        $server
    }
}
CONF
    "$NGINX" -c "$SCRATCH/nginx.conf" -p "$SCRATCH" &
    NGINX_PID=$!
    PIDS+=("$NGINX_PID")
    NGINX_BASE="http://127.0.0.1:$NGINX_PORT"
    for ((i = 0; i < 50; i++)); do curl -sf "$NGINX_BASE/healthz" >/dev/null && break; sleep 0.1; done
}

# save_answers TOKEN NAME=BODY…: the answers of the server at BASE nginx serves beside it: GET /healthz into
# $SCRATCH/www/healthz, and for each NAME the POST /api/track of BODY into $SCRATCH/www/NAME.
save_answers() {
    local token="$1" pair
    shift
    mkdir -p "$SCRATCH/www"
    curl -sf "$BASE/healthz" >"$SCRATCH/www/healthz"
    for pair in "$@"; do
        curl -sf -H "Authorization: Bearer $token" -H 'Content-Type: application/json' -d "${pair#*=}" \
            "$BASE/api/track" >"$SCRATCH/www/${pair%%=*}"
    done
}

# start_track_server NAME [FLAG…]: start_server, then BASE, an account signed up on it (ANON,
# TOKEN), the wrk script $SCRATCH/track.lua asking for a seeded (cached) song, and nginx's copies of
# the answers (save_answers: /healthz and /track).
start_track_server() {
    local body='{"title":"Amazing Grace","artist":"Traditional","duration":82,"targetLanguage":"en"}'
    start_server "$@"
    BASE="http://127.0.0.1:$PORT"
    ANON="$(cat "$SCRATCH/$1/anon-key")"
    TOKEN="$(sign_up "$BASE" "$ANON" bench@example.com)"
    post_script "$SCRATCH/track.lua" "$TOKEN" "$ANON" "$body"
    save_answers "$TOKEN" "track=$body"
}

# sign_up BASE ANONKEY EMAIL: prints the access token.
sign_up() {
    curl -sf -H "apikey: $2" -H 'Content-Type: application/json' \
        -d "{\"email\":\"$3\",\"password\":\"bench-password\"}" "$1/auth/v1/signup" \
        | python3 -c 'import json, sys; print(json.load(sys.stdin)["access_token"])'
}

# wrk_run NAME THREADS CONNECTIONS URL [LUA]: one line "NAME  req/s  p50  p99"; sets RPS and P99_MS.
wrk_run() {
    local name="$1" threads="$2" connections="$3" url="$4" script="${5:-}" out
    out="$(wrk -t"$threads" -c"$connections" -d"${DURATION}s" --latency ${script:+-s "$script"} "$url")"
    local p50 p99 errors
    RPS="$(awk '/^Requests\/sec:/ { print $2 }' <<<"$out")"
    p50="$(awk '$1 == "50%" { print $2 }' <<<"$out")"
    p99="$(awk '$1 == "99%" { print $2 }' <<<"$out")"
    P99_MS="$(to_ms "$p99")"
    errors="$(awk '/Non-2xx|Socket errors/ { $1 = $1; print }' <<<"$out" | tr '\n' ' ')"
    printf '%-40s %10s req/s   p50 %-9s p99 %-9s %s\n' "$name" "$RPS" "$p50" "$p99" "$errors"
}

# to_ms 1.23ms|456.00us|1.2s: the time in milliseconds.
to_ms() {
    awk -v t="$1" 'BEGIN { v = t + 0; if (t ~ /us$/) v /= 1000; else if (t ~ /ms$/) v += 0; else if (t ~ /s$/) v *= 1000; printf "%.2f", v }'
}

# post_script FILE BEARER APIKEY BODY: a wrk script that POSTs BODY as JSON.
post_script() {
    cat >"$1" <<LUA
wrk.method = "POST"
wrk.headers["Content-Type"] = "application/json"
wrk.headers["Authorization"] = "Bearer $2"
wrk.headers["apikey"] = "$3"
wrk.body = [[$4]]
LUA
}

# compare_cached TRACK_LUA: the server at BASE (GET /healthz, and the cached POST /api/track of
# TRACK_LUA) beside nginx's files of the same answers (save_answers) at 64 connections (wrk -t4):
# rates, p99 and the server's share of nginx's rate; the load average before each pair.
compare_cached() {
    local server_rps
    echo "   load average $(cut -d' ' -f1-3 /proc/loadavg)"
    wrk_run "   server GET /healthz" 4 64 "$BASE/healthz"; server_rps="$RPS"
    wrk_run "   nginx GET /healthz (file)" 4 64 "$NGINX_BASE/healthz"
    echo "   /healthz: $(awk -v a="$server_rps" -v b="$RPS" 'BEGIN { printf "%.0f", 100 * a / b }') % of nginx"
    echo "   load average $(cut -d' ' -f1-3 /proc/loadavg)"
    wrk_run "   server POST /api/track (cached)" 4 64 "$BASE/api/track" "$1"; server_rps="$RPS"
    wrk_run "   nginx GET /track (same JSON)" 4 64 "$NGINX_BASE/track"
    echo "   /api/track: $(awk -v a="$server_rps" -v b="$RPS" 'BEGIN { printf "%.0f", 100 * a / b }') % of nginx"
}

# A throw-away PostgreSQL cluster (fsync and synchronous commit on, as the server's default) with
# the database "bench", on a free port (PG_PORT); as root it runs as the system user
# cantorella-pgtest (created when missing, as the tests do). A caller sets BENCH_AT_EXIT=stop_postgres.
PG_BIN=/usr/lib/postgresql/15/bin
PG_DATA=""
AS_PG=()

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

# start_store sqlite|postgresql [FLAG…]: start_server on that store (PostgreSQL: on the cluster of
# start_postgres, started when not yet, with both keys given); sets BASE and ANON as well.
start_store() {
    local store="$1"
    shift
    if [ "$store" = postgresql ]; then
        [ -n "$PG_DATA" ] || start_postgres
        export CANTORELLA_ANON_KEY="bench-anon-key" CANTORELLA_JWT_KEY="bench-token-key-of-at-least-32-characters"
        start_server postgresql --database "postgresql://postgres@127.0.0.1:$PG_PORT/bench" "$@"
        ANON="$CANTORELLA_ANON_KEY"
    else
        unset CANTORELLA_ANON_KEY CANTORELLA_JWT_KEY
        start_server sqlite "$@"
        ANON="$(cat "$SCRATCH/sqlite/anon-key")"
    fi
    BASE="http://127.0.0.1:$PORT"
}

# store_options "$@": -c CLIENTS, -d SECONDS (DURATION), -s sqlite|postgresql|both (STORES), over
# the caller's defaults.
store_options() {
    local option OPTIND=1
    while getopts "c:d:s:" option; do
        case "$option" in
            c) CLIENTS="$OPTARG" ;;
            d) DURATION="$OPTARG" ;;
            s) STORES="$OPTARG" ;;
            *) echo "usage: $0 [-c CLIENTS] [-d SECONDS] [-s sqlite|postgresql|both]" >&2; exit 2 ;;
        esac
    done
    case "$STORES" in
        both|sqlite|postgresql) ;;
        *) echo "$0: -s takes sqlite, postgresql or both" >&2; exit 2 ;;
    esac
}

# bench_store_script CLIENTS SECONDS "TOOL…" ARG…: the start of a script that loads the stores:
# SERVER (CANTORELLA_SERVER, or the one built in CANTORELLA_BUILD_DIR or build/), CLIENTS and
# DURATION by default, both stores, the options over them (store_options), the PostgreSQL cluster
# stopped at exit, and the tools (a list in one word) and the build checked (bench_setup).
bench_store_script() {
    local tools
    BUILD="${CANTORELLA_BUILD_DIR:-$ROOT/build}"
    SERVER="${CANTORELLA_SERVER:-$BUILD/src/server/cantorella-server}"
    CLIENTS="$1"
    DURATION="$2"
    STORES=both
    read -ra tools <<<"$3"
    shift 3
    store_options "$@"
    BENCH_AT_EXIT=stop_postgres
    bench_setup "${tools[@]}"
}

# for_stores FUNCTION: FUNCTION sqlite and FUNCTION postgresql, or the one STORES names.
for_stores() {
    if [ "$STORES" = both ]; then "$1" sqlite; "$1" postgresql; else "$1" "$STORES"; fi
}
