# Shared by scripts/measure-cpu.sh, measure-memory.sh, measure-motion.sh and measure-startup.sh
# (sourced, not run): the rig they measure the application in. Headless under xvfb-run, on a session bus of its own
# (dbus-run-session) with a throw-away unlocked keyring, the local server (cantorella-server)
# on 127.0.0.1 and an account whose session waits in the keyring, so the application starts
# signed in exactly as it does on a desktop.
#
# The sourcing script sets ROOT; it calls rig_enter "$0" ARGS… first (which re-runs it inside
# xvfb-run and dbus-run-session), then rig_prepare, then what it needs.

# die MESSAGE: says it under the measuring script's name and exits 2 (the rig could not run).
die() { printf '%s: %s\n' "$(basename "$0")" "$*" >&2; exit 2; }
# A goal: prints "met:" or "MISSED:" and its description; a missed goal sets the caller's status to 1.
check() { # check DESCRIPTION AWK-CONDITION
    if awk "BEGIN { exit !($2) }"; then
        printf 'met:    %s\n' "$1"
    else
        printf 'MISSED: %s\n' "$1"
        status=1
    fi
}

BUILD="$ROOT/build"
# CANTORELLA_MEASURE_APP: another build of the program to measure (e.g. a copy of an earlier one).
APP="${CANTORELLA_MEASURE_APP:-$BUILD/src/app/cantorella}"
# CANTORELLA_MEASURE_HARNESS: another build of the CPU harness (it holds the views measure-cpu.sh runs).
HARNESS="${CANTORELLA_MEASURE_HARNESS:-$BUILD/tools/cpu-harness/cantorella-cpu-harness}"
BACKEND="$BUILD/src/server/cantorella-server"
READER="$BUILD/src/app/nowplaying-reader"
STORE_SESSION="$BUILD/tools/store-session/cantorella-store-session"
BARE_QML="$ROOT/tools/cpu-harness/BareLyrics.qml"
MPRIS_SCRIPT=/usr/lib/mpv-mpris/mpris.so
ANON_KEY=local-demo-anon-key

# Outside: checks what the rig needs, then runs SCRIPT ARGS… again on a virtual display and a
# session bus of its own. Inside (CANTORELLA_MEASURE_INSIDE set) it returns at once.
rig_enter() {
    [ -z "${CANTORELLA_MEASURE_INSIDE:-}" ] || return 0
    local tool file
    for tool in xvfb-run dbus-run-session gnome-keyring-daemon mpv playerctl sox; do
        command -v "$tool" >/dev/null || die "$tool is not installed (./scripts/install-deps.sh)"
    done
    [ -f "$MPRIS_SCRIPT" ] || die "mpv-mpris is not installed ($MPRIS_SCRIPT)"
    for file in "$APP" "$HARNESS" "$BACKEND" "$READER" "$STORE_SESSION"; do
        [ -x "$file" ] || die "$file is missing: build first (./scripts/build.sh)"
    done
    unset DISPLAY WAYLAND_DISPLAY DBUS_SESSION_BUS_ADDRESS
    export CANTORELLA_MEASURE_INSIDE=1
    exec xvfb-run -a -s "-screen 0 1280x1024x24" dbus-run-session -- "$@"
}

# Inside: a scratch folder and throw-away home (removed on exit, with every process started
# through rig_started), the keyring, and the environment the application reads.
rig_prepare() {
    SCRATCH="$(mktemp -d)"
    STARTED=()
    trap rig_cleanup EXIT
    trap 'exit 130' INT TERM
    mkdir -p "$SCRATCH/home" "$SCRATCH/runtime" "$SCRATCH/keyring"
    chmod 0700 "$SCRATCH/runtime" "$SCRATCH/keyring"
    export HOME="$SCRATCH/home" XDG_RUNTIME_DIR="$SCRATCH/runtime"
    export XDG_DATA_HOME="$SCRATCH/home/.local/share" XDG_CONFIG_HOME="$SCRATCH/home/.config"
    export XDG_CACHE_HOME="$SCRATCH/home/.cache"
    # Temporary folders too: a measured program is ended by a signal and cannot remove its own.
    mkdir -p "$SCRATCH/tmp"
    export TMPDIR="$SCRATCH/tmp"
    export QT_QPA_PLATFORM=xcb CANTORELLA_NOWPLAYING_READER="$READER" CANTORELLA_AUTH_ANON_KEY="$ANON_KEY"
    # A keyring of its own, unlocked, living as long as this bus; its process is this bus's.
    printf 'measure' | XDG_RUNTIME_DIR="$SCRATCH/keyring" XDG_DATA_HOME="$SCRATCH/keyring" \
        gnome-keyring-daemon --unlock --components=secrets >/dev/null
}

rig_cleanup() {
    local pid
    for pid in "${STARTED[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
    for pid in "${STARTED[@]}"; do
        wait "$pid" 2>/dev/null || true
    done
    rm -rf "$SCRATCH"
}

# Waits until FILE holds a line matching PATTERN (from line FROM on, default 1), for at most
# SECONDS and, given PID, only while that process lives; prints the line.
wait_for_line() {
    local file="$1" pattern="$2" seconds="$3" pid="${4:-}" from="${5:-1}" i
    for ((i = 0; i < seconds * 20; i++)); do
        if tail -n "+$from" "$file" 2>/dev/null | grep -m 1 -E "$pattern"; then
            return 0
        fi
        if [ -n "$pid" ] && ! kill -0 "$pid" 2>/dev/null; then
            return 1
        fi
        sleep 0.05
    done
    return 1
}

# Starts the server with the demo songs and, given a folder, its .lrc files, with any further
# server options after it; sets SERVER to its address and SERVER_PID. Then signs the measuring
# account in and leaves the session in the keyring. Called again (after the last server was
# ended), it starts another server on the same data, so the session in the keyring stays good.
rig_start_server() {
    local lyrics="${1:-}" log
    shift || true
    RIG_SERVERS=$((${RIG_SERVERS:-0} + 1))
    log="$SCRATCH/server-$RIG_SERVERS.log"
    CANTORELLA_ANON_KEY="$ANON_KEY" "$BACKEND" --listen 127.0.0.1:0 --data "$SCRATCH/server" --seed "$ROOT/demo/songs" --no-online \
        ${lyrics:+--lyrics-dir "$lyrics"} "$@" >"$log" 2>&1 &
    SERVER_PID=$!
    STARTED+=("$SERVER_PID")
    SERVER="$(wait_for_line "$log" ' seed: ' 10 >/dev/null \
        && sed -n 's/.* listening on \(http[^ ]*\)$/\1/p' "$log")" \
        || die "the server did not start: $(cat "$log")"
    export CANTORELLA_API_BASE_URL="$SERVER" CANTORELLA_AUTH_BASE_URL="$SERVER"
    "$STORE_SESSION" measure@example.com >"$SCRATCH/store-session.log" 2>&1 \
        || die "could not store a session: $(cat "$SCRATCH/store-session.log")"
}

# Resident memory of a process in KiB: "RSS PSS" (VmRSS from status, Pss from smaps_rollup).
memory_kib() {
    local rss pss
    rss="$(awk '/^VmRSS:/ { print $2 }' "/proc/$1/status")"
    pss="$(awk '/^Pss:/ { print $2 }' "/proc/$1/smaps_rollup")"
    echo "$rss $pss"
}

# For the CPU harness (which signs in by itself): starts the server with the demo songs, setting
# SERVER to its address, and mpv (mpv-mpris) looping a sine tone tagged as the demo song "Amazing
# Grace", so the harness finds its lyrics and cards. Once per run; later calls do nothing.
SERVER=""
rig_start_demo_playback() {
    [ -z "$SERVER" ] || return 0
    sox -n -r 22050 -c 1 --comment "TITLE=Amazing Grace" --add-comment "ARTIST=Traditional" \
        "$SCRATCH/grace.ogg" synth 82 sine 440 vol 0.3
    # The harness signs in with the program's compiled-in anonymous key.
    CANTORELLA_ANON_KEY=local-demo-anon-key "$BACKEND" --listen 127.0.0.1:0 --data "$SCRATCH/server" \
        --seed "$ROOT/demo/songs" >"$SCRATCH/server.log" 2>&1 &
    STARTED+=($!)
    SERVER="$(wait_for_line "$SCRATCH/server.log" ' seed: ' 10 >/dev/null \
        && sed -n 's/.* listening on \(http[^ ]*\)$/\1/p' "$SCRATCH/server.log")" \
        || die "the server did not start: $(cat "$SCRATCH/server.log")"
    mpv --no-config --script="$MPRIS_SCRIPT" --no-video --ao=null --no-terminal --loop-file=inf \
        "$SCRATCH/grace.ogg" >/dev/null 2>&1 &
    STARTED+=($!)
}

