#!/usr/bin/env bash
# Installs what is missing, builds, and starts Cantorella with its local demo:
#   - a session bus of its own (dbus-run-session), a private runtime folder and a throw-away,
#     unlocked keyring on it;
#   - cantorella-server on a free port (sign-in service and backend, SQLite under
#     BUILD/demo/server/, seeded with the demo songs), so accounts and backups survive a restart;
#     its LRC folder BUILD/demo/server/lyrics/ holds the demo songs' lyrics (more .lrc files put
#     there are found within a minute); it looks nothing up online unless --online is given;
#   - mpv with mpv-mpris looping the demo songs, each a tagged audio file that speaks every lyric
#     line at its time stamp;
#   - the application pointed at the server, its data and settings under BUILD/demo/, its log in
#     BUILD/demo/logs/cantorella.log.
# Ctrl+C, or closing the window, ends all three. BUILD is $CANTORELLA_BUILD_DIR, else build/.
#
#   ./scripts/run.sh --online the demo, and lyrics of songs it does not have from the open online
#                             lyrics database (needs the internet).
#   ./scripts/run.sh --real   the application alone, on the compiled-in addresses and the
#                             desktop's own session bus, keyring and players.
#
# Installing needs root (sudo is used when it is there); the application runs as the invoking user.
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
BUILD="${CANTORELLA_BUILD_DIR:-$ROOT/build}"
APP="$BUILD/src/app/cantorella"
SERVER="$BUILD/src/server/cantorella-server"
CONTENT="$ROOT/demo/songs"
DEMO="$BUILD/demo"
MPRIS_SCRIPT=/usr/lib/mpv-mpris/mpris.so

say() { printf 'run.sh: %s\n' "$*"; }
die() { printf 'run.sh: %s\n' "$*" >&2; exit 1; }

require_display() {
    if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
        die "no graphical display (neither DISPLAY nor WAYLAND_DISPLAY is set). Run this from a desktop session; ./scripts/test.sh runs everything headless."
    fi
}

# ---- demo audio -------------------------------------------------------------------------------

# The value of a string or number member of a flat, one-member-a-line JSON object: json_value FILE KEY.
json_value() {
    sed -n -e "s/^[[:space:]]*\"$2\"[[:space:]]*:[[:space:]]*\"\(.*\)\"[[:space:]]*,\{0,1\}[[:space:]]*$/\1/p" \
        -e "s/^[[:space:]]*\"$2\"[[:space:]]*:[[:space:]]*\([-0-9.eE+]*\)[[:space:]]*,\{0,1\}[[:space:]]*$/\1/p" "$1" | head -n 1
}

# "seconds<TAB>text" for every stamped lyric line with text, one per stamp, in time order.
lrc_lines() {
    awk '
        /^\[[a-z]+:/ { next }                       # ID tags
        {
            line = $0; n = 0
            while (match(line, /^\[[0-9]+:[0-9]+(\.[0-9]+)?\]/)) {
                stamp = substr(line, 2, RLENGTH - 2)
                split(stamp, part, ":")
                times[++n] = part[1] * 60 + part[2]
                line = substr(line, RLENGTH + 1)
            }
            gsub(/^[ \t]+|[ \t\r]+$/, "", line)
            if (line == "") next
            for (i = 1; i <= n; i++) printf "%.2f\t%s\n", times[i], line
        }' "$1" | sort -n -k1,1
}

# Builds DIR/song.ogg for one demo song unless it is newer than its sources.
make_song() {
    local folder="$1" out="$2"
    if [ -f "$out" ] && [ "$out" -nt "$folder/lyrics.lrc" ] && [ "$out" -nt "$folder/meta.json" ] \
        && [ "$out" -nt "$0" ]; then
        return
    fi
    local title artist album duration language work
    title="$(json_value "$folder/meta.json" title)"
    artist="$(json_value "$folder/meta.json" artist)"
    album="$(json_value "$folder/meta.json" album)"
    duration="$(json_value "$folder/meta.json" duration)"
    language="$(json_value "$folder/meta.json" language)"
    work="$(mktemp -d)"
    sox -n -r 22050 -c 1 "$work/base.wav" trim 0 "$duration"
    local inputs=(-v 1 "$work/base.wav") i=0 start text next gap
    mapfile -t lines < <(lrc_lines "$folder/lyrics.lrc")
    for ((i = 0; i < ${#lines[@]}; i++)); do
        start="${lines[i]%%$'\t'*}"
        text="${lines[i]#*$'\t'}"
        if ((i + 1 < ${#lines[@]})); then next="${lines[i + 1]%%$'\t'*}"; else next="$duration"; fi
        gap="$(awk -v a="$start" -v b="$next" 'BEGIN { g = b - a - 0.1; if (g < 0.3) g = 0.3; printf "%.2f", g }')"
        printf '%s' "$text" | espeak-ng -v "${language:-en}" -s 150 --stdin -w "$work/say.wav"
        # Each line: spoken, cut off before the next line starts, moved to its time stamp.
        sox -V1 "$work/say.wav" -r 22050 -c 1 "$work/line$i.wav" trim 0 "$gap" pad "$start"
        inputs+=(-v 1 "$work/line$i.wav")
    done
    sox -m "${inputs[@]}" --comment "TITLE=$title" --add-comment "ARTIST=$artist" \
        --add-comment "ALBUM=$album" "$out.tmp.ogg" trim 0 "$duration"
    mv "$out.tmp.ogg" "$out"
    rm -rf "$work"
}

# ---- the demo, inside its own session bus --------------------------------------------------------

demo_session() {
    local keyring app_pid="" mpv_pid="" server_pid="" keyring_pid="" url=""
    keyring="$(mktemp -d)"
    chmod 0700 "$keyring"
    mkdir -p "$DEMO/data" "$DEMO/config" "$DEMO/audio" "$DEMO/logs" "$DEMO/server"
    echo "$$" >"$DEMO/session.pid"

    stop_all() {
        trap - INT TERM EXIT
        for pid in "$app_pid" "$mpv_pid" "$server_pid"; do
            [ -n "$pid" ] && kill -TERM "$pid" 2>/dev/null || true
        done
        for pid in "$app_pid" "$mpv_pid" "$server_pid"; do
            [ -n "$pid" ] && wait "$pid" 2>/dev/null || true
        done
        [ -n "$keyring_pid" ] && kill -TERM "$keyring_pid" 2>/dev/null || true
        rm -rf "$keyring" "$DEMO/session.pid"
    }
    trap 'stop_all; exit 130' INT
    trap 'stop_all; exit 143' TERM
    trap 'stop_all' EXIT

    # A keyring of its own, unlocked, that lives as long as this bus (never the user's own).
    printf 'demo' | XDG_RUNTIME_DIR="$keyring" XDG_DATA_HOME="$keyring" \
        gnome-keyring-daemon --unlock --components=secrets >/dev/null
    keyring_pid="$(dbus-send --session --print-reply --dest=org.freedesktop.DBus / \
        org.freedesktop.DBus.GetConnectionUnixProcessID string:org.freedesktop.secrets 2>/dev/null \
        | awk '/uint32/ { print $2 }')" || true

    say "making the demo songs (speech at every lyric time stamp)…"
    local songs=()
    for folder in "$CONTENT"/*/; do
        [ -f "$folder/meta.json" ] || continue
        local name
        name="$(basename "$folder")"
        make_song "${folder%/}" "$DEMO/audio/$name.ogg"
        songs+=("$DEMO/audio/$name.ogg")
    done

    mkdir -p "$DEMO/server/lyrics"
    for folder in "$CONTENT"/*/; do
        [ -f "$folder/lyrics.lrc" ] || continue
        cp "$folder/lyrics.lrc" "$DEMO/server/lyrics/$(basename "$folder").lrc"
    done
    local online=(--no-online)
    [ "${CANTORELLA_DEMO_ONLINE:-0}" -eq 1 ] && online=()

    # The server's first log line names the port it took.
    "$SERVER" --listen 127.0.0.1:0 --data "$DEMO/server" --seed "$CONTENT" --lyrics-dir "$DEMO/server/lyrics" \
        "${online[@]}" 2>"$DEMO/logs/server.log" &
    server_pid=$!
    for _ in $(seq 100); do
        url="$(sed -n 's/^[^ ]* listening on \(http[^ ]*\)$/\1/p' "$DEMO/logs/server.log")"
        [ -n "$url" ] && grep -q ' seed: ' "$DEMO/logs/server.log" && break
        kill -0 "$server_pid" 2>/dev/null || die "the server did not start (see $DEMO/logs/server.log)"
        sleep 0.1
    done
    [ -n "$url" ] || die "the server did not say where it listens (see $DEMO/logs/server.log)"

    # Audible where there is a sound server; silent (still playing, for MPRIS) where there is none.
    mpv --no-config --script="$MPRIS_SCRIPT" --no-video --ao=pulse,alsa,null --loop-playlist=inf \
        --no-terminal "${songs[@]}" >"$DEMO/logs/mpv.log" 2>&1 &
    mpv_pid=$!

    CANTORELLA_API_BASE_URL="$url" CANTORELLA_AUTH_BASE_URL="$url" \
        CANTORELLA_AUTH_ANON_KEY="$(cat "$DEMO/server/anon-key")" \
        XDG_DATA_HOME="$DEMO/data" XDG_CONFIG_HOME="$DEMO/config" \
        "$APP" >"$DEMO/logs/cantorella.log" 2>&1 &
    app_pid=$!

    say "server on $url (log: $DEMO/logs/server.log), demo player mpv (pid $mpv_pid), Cantorella (pid $app_pid)"
    say "Cantorella's log: $DEMO/logs/cantorella.log"
    say "sign in: register any e-mail address with a password of 6 or more characters; it stays registered."
    say "Ctrl+C or closing the window ends the demo."
    local status=0
    wait "$app_pid" || status=$?
    app_pid=""
    exit "$status"
}

# ---- entry ---------------------------------------------------------------------------------------

if [ "${1:-}" = "__demo-session" ]; then
    demo_session
fi

REAL=0
export CANTORELLA_DEMO_ONLINE=0
for argument in "$@"; do
    case "$argument" in
        --real) REAL=1 ;;
        --online) CANTORELLA_DEMO_ONLINE=1 ;;
        *) die "unknown argument '$argument' (--online and --real are known)" ;;
    esac
done

require_display
"$ROOT/scripts/install-deps.sh"

# Root installs; the build and the window belong to the user who asked for them.
if [ "$(id -u)" -eq 0 ] && [ -n "${SUDO_USER:-}" ] && [ "$SUDO_USER" != root ]; then
    exec sudo -u "$SUDO_USER" env DISPLAY="${DISPLAY:-}" WAYLAND_DISPLAY="${WAYLAND_DISPLAY:-}" \
        XAUTHORITY="${XAUTHORITY:-}" XDG_RUNTIME_DIR="${XDG_RUNTIME_DIR:-}" \
        DBUS_SESSION_BUS_ADDRESS="${DBUS_SESSION_BUS_ADDRESS:-}" "$0" "$@"
fi

CANTORELLA_BUILD_DIR="$BUILD" "$ROOT/scripts/build.sh"

if [ "$REAL" -eq 1 ]; then
    exec "$APP"
fi

# Ctrl+C reaches every process of the demo at once; dbus-run-session ends at once, while the
# demo's own shell still stops the application, the player and the server. Wait for it, so the
# prompt comes back only when everything has ended.
wait_for_demo_end() {
    local pid
    pid="$(cat "$DEMO/session.pid" 2>/dev/null)" || return 0
    while [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; do sleep 0.1; done
}
# A runtime folder of the demo's own (0700, as the desktop's is); a Wayland display named relative
# to the desktop's runtime folder keeps its full path.
RUNTIME="$(mktemp -d)"
chmod 0700 "$RUNTIME"
trap 'wait_for_demo_end; rm -rf "$RUNTIME"; exit 130' INT
if [ -n "${WAYLAND_DISPLAY:-}" ] && [ "${WAYLAND_DISPLAY#/}" = "$WAYLAND_DISPLAY" ] && [ -n "${XDG_RUNTIME_DIR:-}" ]; then
    export WAYLAND_DISPLAY="$XDG_RUNTIME_DIR/$WAYLAND_DISPLAY"
fi
status=0
XDG_RUNTIME_DIR="$RUNTIME" dbus-run-session -- bash "$0" __demo-session || status=$?
rm -rf "$RUNTIME"
exit "$status"
