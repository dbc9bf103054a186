#!/usr/bin/env bash
# Cards and lyrics under load, with wrk (Debian's), against a real cantorella-server on loopback
# (SQLite in a temporary folder, the demo songs seeded) whose language model is a local fake:
#   1. cached POST /api/cards (a seeded demo song) at 64 connections: requests/s and p99;
#   2. the same for a cached POST /api/track while SLOW (default 200) generations of new songs are
#      held open by the fake model (it answers after a minute): a slow card must never queue a
#      lyrics lookup, so p99 should stay within 20 ms.
# Usage: bench/server/llm-bench.sh [BUILD_DIR]   (environment: DURATION=10s SLOW=200 CONNECTIONS=64)
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/../.." && pwd)"
BUILD="${1:-${CANTORELLA_BUILD_DIR:-$ROOT/build}}"
SERVER="$BUILD/src/server/cantorella-server"
DURATION="${DURATION:-10s}"
SLOW="${SLOW:-200}"
CONNECTIONS="${CONNECTIONS:-64}"
[ -x "$SERVER" ] || { echo "build the server first: cmake --build $BUILD --target cantorella-server" >&2; exit 1; }
command -v wrk >/dev/null || { echo "wrk is missing (apt-get install wrk)" >&2; exit 1; }

WORK="$(mktemp -d)"
PIDS=()
cleanup() {
    for pid in "${PIDS[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$WORK"
}
trap cleanup EXIT

# The fake model: every chat request is answered after FAKE_DELAY seconds with one card.
FAKE_DELAY=60 python3 - >"$WORK/fake.port" 2>"$WORK/fake.log" <<'PY' &
import http.server, json, os, sys, time
class Fake(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        self.rfile.read(int(self.headers.get("Content-Length", 0)))
        time.sleep(float(os.environ["FAKE_DELAY"]))
        card = {"en": "la", "cn": "啦", "note": "n", "example": "e", "tag": "t", "lineTimestamp": 1}
        body = json.dumps({"choices": [{"message": {"role": "assistant", "content": json.dumps({"cards": [card]})}}]}).encode()
        self.send_response(200)
        self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)
    def log_message(self, *args):
        pass
class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True
    request_queue_size = 1024
server = Server(("127.0.0.1", 0), Fake)
print(server.server_address[1], flush=True)
server.serve_forever()
PY
PIDS+=($!)
for _ in $(seq 50); do [ -s "$WORK/fake.port" ] && break; sleep 0.1; done
FAKE_URL="http://127.0.0.1:$(cat "$WORK/fake.port")/v1"

# Room for the slow generations and the benchmark's connections at once: the server holds one
# request thread per open request.
"$SERVER" --listen 127.0.0.1:0 --data "$WORK/data" --seed "$ROOT/demo/songs" \
    --llm-url "$FAKE_URL" --llm-model bench --llm-max-concurrent "$SLOW" --llm-daily-quota 100000 \
    --threads $((SLOW + CONNECTIONS + 64)) 2>"$WORK/server.log" &
PIDS+=($!)
BASE=""
for _ in $(seq 100); do
    BASE="$(sed -n 's/.*listening on \(http:[^ ]*\).*/\1/p' "$WORK/server.log" | head -1)"
    [ -n "$BASE" ] && grep -q "seed: " "$WORK/server.log" && break
    sleep 0.1
done
[ -n "$BASE" ] || { cat "$WORK/server.log" >&2; exit 1; }

ANON="$(cat "$WORK/data/anon-key")"
TOKEN="$(curl -sf -X POST "$BASE/auth/v1/signup" -H "apikey: $ANON" -H 'Content-Type: application/json' \
    -d '{"email":"bench@example.com","password":"bench-secret"}' |
    python3 -c 'import json,sys; print(json.load(sys.stdin)["access_token"])')"

LYRICS="$(python3 -c 'import json,sys; print(json.dumps(open(sys.argv[1]).read()))' "$ROOT/demo/songs/amazing-grace/lyrics.lrc")"
post_script() { # FILE BODY
    cat >"$1" <<LUA
wrk.method = "POST"
wrk.body = [==[$2]==]
wrk.headers["Content-Type"] = "application/json"
wrk.headers["Authorization"] = "Bearer $TOKEN"
LUA
}
post_script "$WORK/cards.lua" "{\"title\":\"Amazing Grace\",\"artist\":\"Traditional\",\"lyrics\":$LYRICS}"
post_script "$WORK/track.lua" '{"title":"Amazing Grace","artist":"Traditional","duration":82}'

summary() { # LABEL < wrk output
    awk -v label="$1" '/Requests\/sec/ {rps=$2} /^ +99%/ {p99=$2} /Non-2xx/ {bad=$NF}
        END {printf "%-48s %10s req/s   p99 %8s   non-2xx %s\n", label, rps, p99, (bad == "" ? 0 : bad)}'
}

echo "cantorella-server at $BASE; fake model at $FAKE_URL; $CONNECTIONS connections, $DURATION each"
wrk -t4 -c"$CONNECTIONS" -d"$DURATION" --latency -s "$WORK/cards.lua" "$BASE/api/cards" | summary "cached /api/cards"
wrk -t4 -c"$CONNECTIONS" -d"$DURATION" --latency -s "$WORK/track.lua" "$BASE/api/track" | summary "cached /api/track (idle)"

for i in $(seq "$SLOW"); do
    curl -s -o /dev/null -X POST "$BASE/api/cards" -H 'Content-Type: application/json' -H "Authorization: Bearer $TOKEN" \
        -d "{\"title\":\"Slow $i\",\"artist\":\"Bench\",\"lyrics\":\"[00:01.00]la la\"}" &
    PIDS+=($!)
done
sleep 3
echo "calls open at the fake model: $(ss -Htn state established "( dport = :$(cat "$WORK/fake.port") )" | wc -l)"
wrk -t4 -c"$CONNECTIONS" -d"$DURATION" --latency -s "$WORK/track.lua" "$BASE/api/track" |
    summary "cached /api/track with $SLOW slow generations"
for pid in "${PIDS[@]:2}"; do kill "$pid" 2>/dev/null || true; done
sleep 2
wrk -t4 -c"$CONNECTIONS" -d"$DURATION" --latency -s "$WORK/track.lua" "$BASE/api/track" |
    summary "cached /api/track after they were dropped"
