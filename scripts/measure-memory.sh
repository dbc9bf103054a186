#!/usr/bin/env bash
# Measures the application's resident memory as it plays one new song after another, beside a
# plain Qt Quick window measured in the same run. The real program (build/src/app/cantorella)
# starts signed in from a session in the keyring (scripts/lib/measure-rig.sh: headless under
# xvfb-run, a session bus and keyring of its own, the local server), mpv (mpv-mpris) plays a
# playlist of generated songs, each with lyrics of its own on the server (English and Chinese
# lines, see make_songs), and `playerctl next` moves on once a song's lyrics are on screen and
# have settled. After each song: VmRSS and Pss (smaps_rollup).
#
#   bare      tools/cpu-harness/BareLyrics.qml: 40 text lines in a Flickable, 800 × 950
#   song N    the application after the N-th song showed its lyrics
# Goals checked: the application ≤ bare + 60 MiB (its largest RSS), and its growth from the
# first song to the last ≤ 5 MiB.
#
# Exit status: 0 goals met, 1 a goal missed, 2 wrong usage or the rig could not start.
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
# shellcheck source=lib/measure-rig.sh
. "$ROOT/scripts/lib/measure-rig.sh"

usage() {
    cat <<EOF
usage: $0 [-n SONGS] [-w SECONDS] [-x] [-l FOLDER] [-H]
  -n SONGS     how many different songs are played (default 20)
  -w SECONDS   settling time after a song's lyrics show, before its memory is read (default 4)
  -x           every song's Chinese lines hold characters no other song uses (default:
               bilingual lyrics drawing on one body of natural Chinese text)
  -l FOLDER    keep the application's, the player's and the plain window's logs there
  -H           attach heaptrack to the application after the first song: a profile of what
               the later songs allocate, into FOLDER (needs -l; the figures then include
               heaptrack's own memory: read the profile, not the table)
Prints one line per song (RSS and Pss in MiB) and the goals; exits 1 when a goal is missed.
EOF
}

SONGS=20
SETTLE=4
LOGS=""
HEAPTRACK=""
DISTINCT=""
while getopts ":n:w:xl:Hh" opt; do
    case "$opt" in
        n) SONGS="$OPTARG" ;;
        w) SETTLE="$OPTARG" ;;
        l) LOGS="$(mkdir -p "$OPTARG" && cd "$OPTARG" && pwd)" ;;
        x) DISTINCT=1 ;;
        H) HEAPTRACK=1 ;;
        h) usage; exit 0 ;;
        *) usage >&2; exit 2 ;;
    esac
done
shift $((OPTIND - 1))
[ $# -eq 0 ] || { usage >&2; exit 2; }
[[ "$SONGS" =~ ^[0-9]+$ && "$SONGS" -ge 2 && "$SONGS" -le 200 ]] || { usage >&2; exit 2; }
[[ "$SETTLE" =~ ^[0-9]+$ ]] || { usage >&2; exit 2; }
[ -z "$HEAPTRACK" ] || [ -n "$LOGS" ] || { usage >&2; exit 2; }
[ -z "$HEAPTRACK" ] || command -v heaptrack >/dev/null || die "heaptrack is not installed"

rig_enter "$0" -n "$SONGS" -w "$SETTLE" ${DISTINCT:+-x} ${LOGS:+-l "$LOGS"} ${HEAPTRACK:+-H}
rig_prepare
LOGS="${LOGS:-$SCRATCH}"
export LC_ALL=C.UTF-8

# SONGS songs of 60 s: tagged audio, and an LRC file each for the server, 28 lines two seconds
# apart. By default bilingual lyrics, as many lyric files have them: an English line, then its
# Chinese line, taken in turn from the Chinese of the demo songs' cards and stories (natural
# text, so later songs mostly reuse characters earlier ones brought). With -x every Chinese line
# holds ten characters no other song uses: the glyph caches meet new glyphs all the time.
make_songs() {
    local i k c t line chinese="" at=0
    PLAYLIST=()
    mkdir -p "$SCRATCH/lyrics" "$SCRATCH/audio"
    [ -n "$DISTINCT" ] || chinese="$(cat "$ROOT"/demo/songs/*/cards.json "$ROOT"/demo/songs/*/story.txt \
        | grep -oP '[\x{4e00}-\x{9fff}]+' | tr -d '\n')"
    for ((i = 1; i <= SONGS; i++)); do
        {
            printf '[ti:Memory Song %d]\n[ar:Cantorella Test]\n[length:01:00]\n' "$i"
            for ((k = 0; k < 28; k++)); do
                if [ -n "$DISTINCT" ]; then
                    line=""
                    for ((c = 0; c < 10; c++)); do
                        printf -v line '%s\\u%04x' "$line" $((0x4e00 + ((i - 1) * 280 + k * 10 + c) * 3 % 20900))
                    done
                    printf -v line '%b song %d line %d, a walk by the river' "$line" "$i" "$k"
                elif ((k % 2 == 0)); then
                    line="Song $i, line $k: the river runs $((i * k)) miles down to the sea"
                else
                    line="${chinese:at:12}"
                    at=$(((at + 12) % (${#chinese} - 12)))
                fi
                t=$((500 + 2000 * k))
                printf '[%02d:%02d.%02d]%s\n' $((t / 60000)) $((t / 1000 % 60)) $((t % 1000 / 10)) "$line"
            done
        } >"$SCRATCH/lyrics/song-$i.lrc"
        sox -n -r 8000 -c 1 --comment "TITLE=Memory Song $i" --add-comment "ARTIST=Cantorella Test" \
            "$SCRATCH/audio/song-$i.ogg" synth 60 sine 440 vol 0.3
        PLAYLIST+=("$SCRATCH/audio/song-$i.ogg")
    done
}

mib() { awk -v k="$1" 'BEGIN { printf "%.1f", k / 1024 }'; }

make_songs
rig_start_server "$SCRATCH/lyrics"

# The plain window first, alone, after the same settling time.
"$HARNESS" --bare "$BARE_QML" >"$LOGS/bare.log" 2>&1 &
bare=$!
STARTED+=("$bare")
wait_for_line "$LOGS/bare.log" '^ready$' 30 "$bare" >/dev/null || die "the plain window did not start: $(tail -n 20 "$LOGS/bare.log")"
sleep "$SETTLE"
read -r BARE_RSS BARE_PSS < <(memory_kib "$bare")
kill "$bare"
wait "$bare" 2>/dev/null || true
printf '%-8s %9s %9s\n' "" "RSS MiB" "Pss MiB"
printf '%-8s %9s %9s\n' "bare" "$(mib "$BARE_RSS")" "$(mib "$BARE_PSS")"

mpv --no-config --script="$MPRIS_SCRIPT" --no-video --ao=null --no-terminal "${PLAYLIST[@]}" \
    >"$LOGS/mpv.log" 2>&1 &
STARTED+=($!)

APP_LOG="$LOGS/cantorella.log"
export QT_LOGGING_RULES="com.cantorella.lyrics-sync.debug=true"
# The log exists before the loop counts its lines (the started program opens it later).
: >"$APP_LOG"
"$APP" >"$APP_LOG" 2>&1 &
app=$!
STARTED+=("$app")

first=""
peak=0
rss=0
for ((song = 1; song <= SONGS; song++)); do
    from=$(($(wc -l <"$APP_LOG") + 1))
    [ "$song" -eq 1 ] || playerctl -p mpv next
    # The song's first line became the active one (a song is left long before its end, so
    # line 0 becomes active again only in the next song).
    wait_for_line "$APP_LOG" 'activeLineIndex changed: .* → Optional\(0\)' 30 "$app" "$from" >/dev/null \
        || die "song $song: its lyrics did not show: $(tail -n 20 "$APP_LOG")"
    sleep "$SETTLE"
    read -r rss pss < <(memory_kib "$app")
    [ -n "$first" ] || first="$rss"
    [ "$rss" -le "$peak" ] || peak="$rss"
    printf '%-8s %9s %9s\n' "song $song" "$(mib "$rss")" "$(mib "$pss")"
    if [ "$song" -eq 1 ] && [ -n "$HEAPTRACK" ]; then
        # From here on every allocation is recorded, with its stack: what the later songs add.
        heaptrack -o "$LOGS/cantorella.heaptrack" -p "$app" >"$LOGS/heaptrack.log" 2>&1 &
        tracker=$!
        STARTED+=("$tracker")
        wait_for_line "$LOGS/heaptrack.log" 'injecting|heaptrack output will be written' 60 >/dev/null || true
        sleep 5
    fi
done
if [ -n "$HEAPTRACK" ]; then
    # heaptrack writes its profile once the application has ended. Killed, it frees nothing
    # first: the profile's "leaked" allocations are what the later songs left behind.
    kill -KILL "$app"
    wait "$tracker" 2>/dev/null || true
fi

status=0
check() { # check DESCRIPTION AWK-CONDITION
    if awk "BEGIN { exit !($2) }"; then
        printf 'met:    %s\n' "$1"
    else
        printf 'MISSED: %s\n' "$1"
        status=1
    fi
}
over=$((peak - BARE_RSS))
growth=$((rss - first))
check "largest RSS ≤ bare + 60 MiB (bare + $(mib "$over"))" "$over <= 60 * 1024"
check "growth from song 1 to song $SONGS ≤ 5 MiB ($(mib "$growth"))" "$growth <= 5 * 1024"
exit "$status"
