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
#   ./scripts/run.sh --no-build  the demo on the build folder as it is: installs and builds nothing
#                             (the build makes the demo songs too).
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
BUILDS="${CANTORELLA_DEMO_BUILDS:-1}"
# How long the server may take to listen and seed the demo songs before the demo gives up.
SERVER_START_LIMIT=90

say() { printf 'run.sh: %s\n' "$*"; }
die() { printf 'run.sh: %s\n' "$*" >&2; exit 1; }

require_display() {
    if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
        die "no graphical display (neither DISPLAY nor WAYLAND_DISPLAY is set). Run this from a desktop session; ./scripts/test.sh runs everything headless."
    fi
}

# ---- stopping, always within a bound --------------------------------------------------------------

# Waits until process PID has ended, at most SECONDS seconds: ends_within PID SECONDS.
ends_within() {
    local pid="$1" deadline=$((SECONDS + $2))
    while kill -0 "$pid" 2>/dev/null; do
        ((SECONDS < deadline)) || return 1
        sleep 0.1
    done
}

# Asks each process to end (SIGTERM) and kills whichever has not within GRACE seconds (the server
# lets requests in flight finish for up to 10 s): end_processes GRACE PID...
end_processes() {
    local grace="$1" pid
    shift
    for pid in "$@"; do kill -TERM "$pid" 2>/dev/null || true; done
    for pid in "$@"; do
        if ! ends_within "$pid" "$grace"; then
            printf 'run.sh: pid %s did not end within %s s of SIGTERM; killing it\n' "$pid" "$grace" >&2
            kill -KILL "$pid" 2>/dev/null || true
        fi
        wait "$pid" 2>/dev/null || true
    done
}

# ---- the demo, inside its own session bus --------------------------------------------------------

demo_session() {
    local keyring app_pid="" mpv_pid="" server_pid="" keyring_pid="" url=""
    keyring="$(mktemp -d)"
    chmod 0700 "$keyring"
    mkdir -p "$DEMO/data" "$DEMO/config" "$DEMO/audio" "$DEMO/logs" "$DEMO/server"
    echo "$$" >"$DEMO/session.pid"

    stop_all() {
        trap - INT TERM EXIT ERR
        local pids=() pid
        for pid in "$app_pid" "$mpv_pid" "$server_pid"; do [ -n "$pid" ] && pids+=("$pid"); done
        ((${#pids[@]} == 0)) || end_processes 15 "${pids[@]}"
        [ -n "$keyring_pid" ] && kill -TERM "$keyring_pid" 2>/dev/null || true
        rm -rf "$keyring" "$DEMO/session.pid"
    }
    trap 'stop_all; exit 130' INT
    trap 'stop_all; exit 143' TERM
    trap 'stop_all' EXIT
    # A command that fails says so before the demo ends, instead of ending it without a word.
    set -E
    trap 'die "stopped: \"$BASH_COMMAND\" failed with status $? (line $LINENO)"' ERR

    # A keyring of its own, unlocked, that lives as long as this bus (never the user's own).
    printf 'demo' | XDG_RUNTIME_DIR="$keyring" XDG_DATA_HOME="$keyring" \
        timeout --foreground 30 gnome-keyring-daemon --unlock --components=secrets >/dev/null
    keyring_pid="$(timeout --foreground 10 dbus-send --session --print-reply --dest=org.freedesktop.DBus / \
        org.freedesktop.DBus.GetConnectionUnixProcessID string:org.freedesktop.secrets 2>/dev/null \
        | awk '/uint32/ { print $2 }')" || true

    local songs=() folder audio
    for folder in "$CONTENT"/*/; do
        [ -f "$folder/meta.json" ] || continue
        audio="$DEMO/audio/$(basename "$folder").ogg"
        if [ ! -f "$audio" ]; then
            [ "$BUILDS" -eq 1 ] || die "$audio is missing: the build makes the demo songs (target cantorella_demo_songs)"
            say "making the demo songs (speech at every lyric time stamp)…"
            "$ROOT/scripts/lib/demo-songs.sh" "$CONTENT" "$DEMO/audio"
        fi
        songs+=("$audio")
    done

    mkdir -p "$DEMO/server/lyrics"
    for folder in "$CONTENT"/*/; do
        [ -f "$folder/lyrics.lrc" ] || continue
        cp "$folder/lyrics.lrc" "$DEMO/server/lyrics/$(basename "$folder").lrc"
    done
    local online=(--no-online)
    if [ "${CANTORELLA_DEMO_ONLINE:-0}" -eq 1 ]; then online=(); fi

    # The server's first log line names the port it took; the seed line follows once the demo
    # songs are in. A first start makes its keys and database, which on a busy machine (a build's
    # writes still on their way to the disk) can take many seconds.
    say "starting the server (log: $DEMO/logs/server.log)…"
    "$SERVER" --listen 127.0.0.1:0 --data "$DEMO/server" --seed "$CONTENT" --lyrics-dir "$DEMO/server/lyrics" \
        "${online[@]}" 2>"$DEMO/logs/server.log" &
    server_pid=$!
    local deadline=$((SECONDS + SERVER_START_LIMIT))
    until [ -n "$url" ] && grep -q ' seed: ' "$DEMO/logs/server.log"; do
        kill -0 "$server_pid" 2>/dev/null \
            || die "the server ended before it was ready; its log ends: $(tail -n 5 "$DEMO/logs/server.log")"
        ((SECONDS < deadline)) \
            || die "the server was not ready within $SERVER_START_LIMIT s; its log ends: $(tail -n 5 "$DEMO/logs/server.log")"
        sleep 0.1
        url="$(sed -n 's/^[^ ]* listening on \(http[^ ]*\)$/\1/p' "$DEMO/logs/server.log")"
    done
    say "server on $url"

    # Audible where there is a sound server; silent (still playing, for MPRIS) where there is none.
    say "starting the demo player (log: $DEMO/logs/mpv.log)…"
    mpv --no-config --script="$MPRIS_SCRIPT" --no-video --ao=pulse,alsa,null --loop-playlist=inf \
        --no-terminal "${songs[@]}" >"$DEMO/logs/mpv.log" 2>&1 &
    mpv_pid=$!

    say "starting Cantorella (log: $DEMO/logs/cantorella.log)…"
    CANTORELLA_API_BASE_URL="$url" CANTORELLA_AUTH_BASE_URL="$url" \
        CANTORELLA_AUTH_ANON_KEY="$(cat "$DEMO/server/anon-key")" \
        XDG_DATA_HOME="$DEMO/data" XDG_CONFIG_HOME="$DEMO/config" \
        "$APP" >"$DEMO/logs/cantorella.log" 2>&1 &
    app_pid=$!

    say "running: server on $url, demo player mpv (pid $mpv_pid), Cantorella (pid $app_pid)"
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
export CANTORELLA_DEMO_ONLINE=0 CANTORELLA_DEMO_BUILDS=1
for argument in "$@"; do
    case "$argument" in
        --real) REAL=1 ;;
        --online) CANTORELLA_DEMO_ONLINE=1 ;;
        --no-build) CANTORELLA_DEMO_BUILDS=0 ;;
        *) die "unknown argument '$argument' (--online, --real and --no-build are known)" ;;
    esac
done

require_display
if [ "$CANTORELLA_DEMO_BUILDS" -eq 1 ]; then
    "$ROOT/scripts/install-deps.sh"
else
    [ -x "$APP" ] && [ -x "$SERVER" ] || die "--no-build: $APP or $SERVER is missing; build first (scripts/build.sh)"
fi

# Root installs; the build and the window belong to the user who asked for them.
if [ "$(id -u)" -eq 0 ] && [ -n "${SUDO_USER:-}" ] && [ "$SUDO_USER" != root ]; then
    exec sudo -u "$SUDO_USER" env DISPLAY="${DISPLAY:-}" WAYLAND_DISPLAY="${WAYLAND_DISPLAY:-}" \
        XAUTHORITY="${XAUTHORITY:-}" XDG_RUNTIME_DIR="${XDG_RUNTIME_DIR:-}" \
        DBUS_SESSION_BUS_ADDRESS="${DBUS_SESSION_BUS_ADDRESS:-}" "$0" "$@"
fi

if [ "$CANTORELLA_DEMO_BUILDS" -eq 1 ]; then
    CANTORELLA_BUILD_DIR="$BUILD" "$ROOT/scripts/build.sh"
fi

if [ "$REAL" -eq 1 ]; then
    exec "$APP"
fi

# Ctrl+C reaches every process of the demo at once; dbus-run-session ends at once, while the
# demo's own shell still stops the application, the player and the server. Wait for it, so the
# prompt comes back only when everything has ended (it ends its processes within 15 s each).
wait_for_demo_end() {
    local pid
    pid="$(cat "$DEMO/session.pid" 2>/dev/null)" || return 0
    [ -z "$pid" ] || ends_within "$pid" 60 || say "the demo's shell (pid $pid) has not ended within 60 s"
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
