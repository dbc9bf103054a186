#!/usr/bin/env bash
# Load figures of cantorella-server, side by side with nginx serving the same JSON as static files:
#   1. GET /healthz, a seeded POST /api/track (a cached song) and a POST /api/track answered from
#      an LRC folder of 20,000 files (signed in), 64 connections, wrk; nginx: GET of the same
#      answer bodies as files, on the same machine, in the same run; the time to index the folder;
#   2. password sign-ins per second (argon2id bounds them: ~0.1 s of one core each);
#   3. a 50 MB backup PUT then GET: time, and the server's peak RSS (VmHWM, reset just before the PUT).
# Everything runs on 127.0.0.1 as processes of this script, on free ports, in a scratch folder.
#
#   bench/server/run.sh [-d SECONDS]      (default 10 s per wrk run)
#
# Needs a build (./scripts/build.sh, or CANTORELLA_BUILD_DIR), wrk, nginx, curl, python3.
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/../.." && pwd)"
BUILD="${CANTORELLA_BUILD_DIR:-$ROOT/build}"
SERVER="$BUILD/src/server/cantorella-server"
DURATION=10
while getopts "d:" option; do
    case "$option" in
        d) DURATION="$OPTARG" ;;
        *) echo "usage: $0 [-d SECONDS]" >&2; exit 2 ;;
    esac
done
source "$ROOT/bench/server/common.sh"
bench_setup

# ---- the server and nginx, side by side ----------------------------------------------------------
# 20,000 LRC files in 100 folders, ~1.3 KB each: half tagged [ti:]/[ar:], half named "Artist - Title.lrc".
python3 - "$SCRATCH/lrc" 20000 <<'PY'
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
start_server load --lyrics-dir "$SCRATCH/lrc"
BASE="http://127.0.0.1:$PORT"
ANON="$(cat "$SCRATCH/load/anon-key")"
TOKEN="$(sign_up "$BASE" "$ANON" bench@example.com)"
TRACK_BODY='{"title":"Amazing Grace","artist":"Traditional","duration":82,"targetLanguage":"en"}'
post_script "$SCRATCH/track.lua" "$TOKEN" "$ANON" "$TRACK_BODY"
FOLDER_BODY='{"title":"Song 12345","artist":"Artist 381","duration":150,"targetLanguage":"en"}'
post_script "$SCRATCH/folder.lua" "$TOKEN" "$ANON" "$FOLDER_BODY"

save_answers "$TOKEN" "track=$TRACK_BODY" "folder-track=$FOLDER_BODY"
chmod -R a+rX "$SCRATCH/www"
start_nginx 1024 "access_log $SCRATCH/nginx-access.log;"

echo "== 64 connections, ${DURATION} s each (wrk -t4), $(nproc) cores shared with whatever else runs"
wrk_run "cantorella-server GET /healthz" 4 64 "$BASE/healthz"
wrk_run "nginx GET /healthz (file)" 4 64 "$NGINX_BASE/healthz"
wrk_run "cantorella-server POST /api/track" 4 64 "$BASE/api/track" "$SCRATCH/track.lua"
wrk_run "nginx GET /track (same JSON)" 4 64 "$NGINX_BASE/track"
wrk_run "cantorella-server POST /api/track (LRC)" 4 64 "$BASE/api/track" "$SCRATCH/folder.lua"
wrk_run "nginx GET /folder-track (same JSON)" 4 64 "$NGINX_BASE/folder-track"
echo "== $(grep -o 'lyrics folder: .*' "$SCRATCH/load.log")"

echo "== password sign-ins (argon2id, interactive limits: ~0.1 s and 64 MiB each, one per core at a time)"
post_script "$SCRATCH/signin.lua" "" "$ANON" '{"email":"bench@example.com","password":"bench-password"}'
wrk_run "POST /auth/v1/token (password)" 4 16 "$BASE/auth/v1/token?grant_type=password" "$SCRATCH/signin.lua"

# ---- 50 MB backup on a fresh process, for its peak memory ------------------------------------------
start_server backup
BACKUP_BASE="http://127.0.0.1:$PORT"
BACKUP_TOKEN="$(sign_up "$BACKUP_BASE" "$(cat "$SCRATCH/backup/anon-key")" backup@example.com)"
python3 -c 'import sys; sys.stdout.write("{\"library\":\"" + "x" * (50 * 1000 * 1000 - 16) + "\"}")' >"$SCRATCH/backup.json"
SIZE="$(stat -c %s "$SCRATCH/backup.json")"
# The sign-up's password hash took 64 MiB for a moment: start the peak afresh (clear_refs 5).
echo 5 >"/proc/$SERVER_PID/clear_refs"
BEFORE="$(awk '/VmRSS/ { print $2 }' "/proc/$SERVER_PID/status")"
PUT_TIME="$(curl -sf -o /dev/null -w '%{time_total}' -X PUT -H "Authorization: Bearer $BACKUP_TOKEN" \
    -H 'Content-Type: application/json' --data-binary "@$SCRATCH/backup.json" "$BACKUP_BASE/api/backup?namespace=en")"
GET_TIME="$(curl -sf -o "$SCRATCH/backup.back" -w '%{time_total}' -H "Authorization: Bearer $BACKUP_TOKEN" \
    "$BACKUP_BASE/api/backup?namespace=en")"
AFTER="$(awk '/VmHWM/ { print $2 }' "/proc/$SERVER_PID/status")"
cmp -s "$SCRATCH/backup.json" "$SCRATCH/backup.back" && SAME="byte-identical" || SAME="DIFFERENT"
echo "== backup of $((SIZE / 1000000)) MB: PUT ${PUT_TIME} s, GET ${GET_TIME} s ($SAME);" \
    "server peak RSS $((AFTER / 1024)) MiB (RSS before the PUT $((BEFORE / 1024)) MiB; document $((SIZE / 1048576)) MiB)"
