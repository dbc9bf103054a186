#!/usr/bin/env bash
# Lyrics lookups under load, beside nginx serving the same answer as a static file; and the time
# the server takes to index an LRC folder of 20,000 files. Prints figures; not a test.
#
#   bench/server/lyrics.sh [SECONDS]    each load run lasts SECONDS (default 10)
#
# Load: wrk, 64 connections, 4 threads, POST /api/track for
#   - a cached song (a seeded demo song: one database read),
#   - an LRC-folder hit (index lookup, file read, LRC check, language detection),
# and GET of the same JSON from nginx. The server runs with --no-online. BUILD is
# $CANTORELLA_BUILD_DIR, else build/; the server binary must be built.
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/../.." && pwd)"
BUILD="${CANTORELLA_BUILD_DIR:-$ROOT/build}"
SERVER="$BUILD/src/server/cantorella-server"
DURATION="${1:-10}"
FILES=20000
[ -x "$SERVER" ] || { echo "build $SERVER first" >&2; exit 1; }
command -v wrk >/dev/null && command -v nginx >/dev/null || { echo "needs wrk and nginx" >&2; exit 1; }

WORK="$(mktemp -d)"
chmod 0755 "$WORK" # nginx's workers read the static file as another user
server_pid="" nginx_pid=""
cleanup() {
    [ -n "$server_pid" ] && kill -TERM "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null || true
    [ -n "$nginx_pid" ] && kill -TERM "$nginx_pid" 2>/dev/null && wait "$nginx_pid" 2>/dev/null || true
    rm -rf "$WORK"
}
trap cleanup EXIT

free_port() { python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }

# Half the files tagged, half named "Artist - Title.lrc"; 100 sub-folders; ~1.3 KB each.
python3 - "$WORK/lrc" "$FILES" <<'PY'
import os, sys
root, count = sys.argv[1], int(sys.argv[2])
words = "the night is long and the road goes on under a silver moon tonight".split()
for i in range(count):
    folder = os.path.join(root, "folder%03d" % (i % 100))
    os.makedirs(folder, exist_ok=True)
    lines = ["[%02d:%02d.%02d]%s" % (s // 60, s % 60, (i + s) % 100,
             " ".join(words[(i + s + k) % len(words)] for k in range(6))) for s in range(0, 150, 5)]
    title, artist = "Song %d" % i, "Artist %d" % (i % 997)
    if i % 2:
        name, text = "file%d.lrc" % i, "[ti:%s]\n[ar:%s]\n" % (title, artist) + "\n".join(lines) + "\n"
    else:
        name, text = "%s - %s.lrc" % (artist, title), "\n".join(lines) + "\n"
    with open(os.path.join(folder, name), "w") as f:
        f.write(text)
PY

"$SERVER" --listen 127.0.0.1:0 --data "$WORK/data" --seed "$ROOT/demo/songs" --lyrics-dir "$WORK/lrc" \
    --no-online 2>"$WORK/server.log" &
server_pid=$!
url=""
for _ in $(seq 300); do
    url="$(sed -n 's/^.* listening on \(http[^ ]*\)$/\1/p' "$WORK/server.log")"
    [ -n "$url" ] && grep -q ' seed: ' "$WORK/server.log" && break
    kill -0 "$server_pid" 2>/dev/null || { cat "$WORK/server.log" >&2; exit 1; }
    sleep 0.1
done
index_line="$(grep -o 'lyrics folder: .*' "$WORK/server.log")"

token="$(curl -fsS -X POST "$url/auth/v1/signup" -H "apikey: $(cat "$WORK/data/anon-key")" \
    -H 'Content-Type: application/json' -d '{"email":"bench@example.com","password":"bench-secret"}' \
    | python3 -c 'import json, sys; print(json.load(sys.stdin)["access_token"])')"

cached_body='{"title":"Amazing Grace","artist":"Traditional","duration":82,"targetLanguage":"en"}'
folder_body='{"title":"Song 12345","artist":"Artist 381","duration":150,"targetLanguage":"en"}'
for name in cached folder; do
    body_var="${name}_body"
    cat >"$WORK/$name.lua" <<LUA
wrk.method = "POST"
wrk.body = '${!body_var}'
wrk.headers["Content-Type"] = "application/json"
wrk.headers["Authorization"] = "Bearer $token"
LUA
done
# The static file holds exactly the server's answer for the cached song.
mkdir -p "$WORK/static"
curl -fsS -X POST "$url/api/track" -H "Authorization: Bearer $token" -H 'Content-Type: application/json' \
    -d "$cached_body" >"$WORK/static/track.json"
curl -fsS -o /dev/null -X POST "$url/api/track" -H "Authorization: Bearer $token" \
    -H 'Content-Type: application/json' -d "$folder_body"

nginx_port="$(free_port)"
cat >"$WORK/nginx.conf" <<CONF
daemon off;
worker_processes auto;
pid $WORK/nginx.pid;
error_log $WORK/nginx-error.log;
events { worker_connections 4096; }
http {
    access_log off;
    server { listen 127.0.0.1:$nginx_port; root $WORK/static; default_type application/json; }
}
CONF
nginx -c "$WORK/nginx.conf" -p "$WORK" &
nginx_pid=$!
sleep 0.5

run() { # label, wrk arguments…
    local label="$1" out
    shift
    out="$(wrk -t4 -c64 -d"${DURATION}s" --latency "$@")"
    [ -n "${VERBOSE:-}" ] && echo "$out"
    printf '%-34s %10s req/s   p99 %s\n' "$label" \
        "$(awk '/^Requests\/sec/ { print $2 }' <<<"$out")" "$(awk '$1 == "99%" { print $2 }' <<<"$out")"
    if grep -q 'Non-2xx' <<<"$out"; then grep 'Non-2xx' <<<"$out"; fi
}

echo "index: $index_line"
run "nginx static file (GET)" "http://127.0.0.1:$nginx_port/track.json"
run "/api/track cached (POST)" -s "$WORK/cached.lua" "$url/api/track"
run "/api/track LRC folder hit (POST)" -s "$WORK/folder.lua" "$url/api/track"
