#!/usr/bin/env bash
# Measures the application's resident memory as it plays one new song after another, beside a
# plain Qt Quick window measured in the same run. The real program (build/src/app/cantorella)
# starts signed in from a session in the keyring (scripts/lib/measure-rig.sh: headless under
# xvfb-run, a session bus and keyring of its own, the local server), mpv (mpv-mpris) plays a
# playlist of generated songs, each with lyrics of its own on the server (English and Chinese
# lines, see make_songs), and `playerctl next` moves on once a song has settled. After each
# song: VmRSS and Pss (smaps_rollup). Two runs of the program, each with a server, a player and
# a home folder of its own:
#
#   bare      tools/cpu-harness/BareLyrics.qml: 40 text lines in a Flickable, 800 × 950, focused
#   lyrics    the songs' lyrics only: the server has no language model, so a song gets no cards
#             (the figure this script has always reported; the window is not focused)
#   cards     what a user runs: the server writes every song's study cards and story with a
#             stand-in language model on loopback (tools/fake-chat: seven cards a song, their
#             texts taken from the demo songs' cards, and a demo song's story), the window has
#             the input focus (its animations run) and shows the Now tab; a song is read once
#             its lyrics, its cards and its story have arrived and settled
# Goals checked: lyrics ≤ bare + 60 MiB (its largest RSS) and its growth from the first song to
# the last ≤ 5 MiB; cards ≤ bare + 70 MiB and its growth from the fifth song to the last ≤ 3 MiB
# (what the first songs warm up is in the first figure; what grows after them is not bounded).
#
# Exit status: 0 goals met, 1 a goal missed, 2 wrong usage or the rig could not start.
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
# shellcheck source=lib/measure-rig.sh
. "$ROOT/scripts/lib/measure-rig.sh"

usage() {
    cat <<EOF
usage: $0 [-n SONGS] [-w SECONDS] [-x] [-r RUN] [-l FOLDER] [-H]
  -n SONGS     how many different songs are played (default 20)
  -w SECONDS   settling time after a song has shown, before its memory is read (default 4)
  -x           the lyrics run: every song's Chinese lines hold characters no other song uses (default:
               bilingual lyrics drawing on one body of natural Chinese text)
  -r RUN       only this run of the program: lyrics or cards (default both, lyrics first)
  -l FOLDER    keep the programs', players', servers' and the plain window's logs there
  -H           attach heaptrack to the application after the first song of each run: a profile
               of what the later songs allocate, into FOLDER (needs -l; the figures then include
               heaptrack's own memory: read the profile, not the table)
Prints one line per song (RSS and Pss in MiB) and the goals; exits 1 when a goal is missed.
EOF
}

SONGS=20
SETTLE=4
LOGS=""
HEAPTRACK=""
DISTINCT=""
RUNS=(lyrics cards)
while getopts ":n:w:xr:l:Hh" opt; do
    case "$opt" in
        n) SONGS="$OPTARG" ;;
        w) SETTLE="$OPTARG" ;;
        l) LOGS="$(mkdir -p "$OPTARG" && cd "$OPTARG" && pwd)" ;;
        x) DISTINCT=1 ;;
        r) [[ "$OPTARG" =~ ^(lyrics|cards)$ ]] || { usage >&2; exit 2; }; RUNS=("$OPTARG") ;;
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
command -v xdotool >/dev/null || die "xdotool is not installed (./scripts/install-deps.sh)"
FAKE_CHAT="$BUILD/tools/fake-chat/cantorella-fake-chat"
[ -x "$FAKE_CHAT" ] || die "$FAKE_CHAT is missing: build first (./scripts/build.sh)"
# The fifth song, or the one before the last when fewer are played: where the cards run's growth
# is counted from.
FIFTH_SONG=$((SONGS > 5 ? 5 : SONGS - 1))

ONLY=()
[ ${#RUNS[@]} -eq 2 ] || ONLY=(-r "${RUNS[0]}")
rig_enter "$0" -n "$SONGS" -w "$SETTLE" ${DISTINCT:+-x} ${LOGS:+-l "$LOGS"} ${HEAPTRACK:+-H} "${ONLY[@]}"
rig_prepare
LOGS="${LOGS:-$SCRATCH}"
export LC_ALL=C.UTF-8

# SONGS songs of 60 s: tagged audio, and two LRC files each for the servers, 28 lines two
# seconds apart. For the lyrics run, by default bilingual lyrics, as many lyric files have them:
# an English line, then its Chinese line, taken in turn from the Chinese of the demo songs' cards
# and stories (natural text, so later songs mostly reuse characters earlier ones brought); with
# -x every Chinese line holds ten characters no other song uses: the glyph caches meet new glyphs
# all the time. For the cards run, English lyrics (the program makes cards for English songs
# only): the same English lines, and another in place of each Chinese one.
make_songs() {
    local i k c t line english chinese="" at=0
    PLAYLIST=()
    mkdir -p "$SCRATCH/lyrics" "$SCRATCH/lyrics-en" "$SCRATCH/audio"
    [ -n "$DISTINCT" ] || chinese="$(cat "$ROOT"/demo/songs/*/cards.json "$ROOT"/demo/songs/*/story.txt \
        | grep -oP '[\x{4e00}-\x{9fff}]+' | tr -d '\n')"
    for ((i = 1; i <= SONGS; i++)); do
        printf '[ti:Memory Song %d]\n[ar:Cantorella Test]\n[length:01:00]\n' "$i" \
            | tee "$SCRATCH/lyrics/song-$i.lrc" >"$SCRATCH/lyrics-en/song-$i.lrc"
        for ((k = 0; k < 28; k++)); do
            t=$((500 + 2000 * k))
            printf -v t '[%02d:%02d.%02d]' $((t / 60000)) $((t / 1000 % 60)) $((t % 1000 / 10))
            if ((k % 2 == 0)); then
                english="Song $i, line $k: the river runs $((i * k)) miles down to the sea"
            else
                english="Line $k of song $i: and the lights of the harbour shine on the water tonight"
            fi
            printf '%s%s\n' "$t" "$english" >>"$SCRATCH/lyrics-en/song-$i.lrc"
            {
                if [ -n "$DISTINCT" ]; then
                    line=""
                    for ((c = 0; c < 10; c++)); do
                        printf -v line '%s\\u%04x' "$line" $((0x4e00 + ((i - 1) * 280 + k * 10 + c) * 3 % 20900))
                    done
                    printf -v line '%b song %d line %d, a walk by the river' "$line" "$i" "$k"
                elif ((k % 2 == 0)); then
                    line="$english"
                else
                    line="${chinese:at:12}"
                    at=$(((at + 12) % (${#chinese} - 12)))
                fi
                printf '%s%s\n' "$t" "$line"
            } >>"$SCRATCH/lyrics/song-$i.lrc"
        done
        sox -n -r 8000 -c 1 --comment "TITLE=Memory Song $i" --add-comment "ARTIST=Cantorella Test" \
            "$SCRATCH/audio/song-$i.ogg" synth 60 sine 440 vol 0.3
        PLAYLIST+=("$SCRATCH/audio/song-$i.ogg")
    done
}

mib() { awk -v k="$1" 'BEGIN { printf "%.1f", k / 1024 }'; }

make_songs

# The plain window first, alone, after the same settling time.
"$HARNESS" --bare "$BARE_QML" >"$LOGS/bare.log" 2>&1 &
bare=$!
STARTED+=("$bare")
wait_for_line "$LOGS/bare.log" '^ready$' 30 "$bare" >/dev/null || die "the plain window did not start: $(tail -n 20 "$LOGS/bare.log")"
sleep "$SETTLE"
read -r BARE_RSS BARE_PSS < <(memory_kib "$bare")
kill "$bare"
wait "$bare" 2>/dev/null || true
printf '%-15s %9s %9s\n' "" "RSS MiB" "Pss MiB"
printf '%-15s %9s %9s\n' "bare" "$(mib "$BARE_RSS")" "$(mib "$BARE_PSS")"

# measure_run RUN: plays the songs in the program, prints a line per song and sets PEAK, FIRST
# (song 1), FIFTH (song FIFTH_SONG) and LAST: RSS in KiB. Every process it starts is ended
# before it returns, so the next run meets none of them.
measure_run() {
    local run="$1" fake="" llm player app log song line from rss pss tracker="" wid=""
    # A home of its own: the program's store starts empty.
    mkdir -p "$SCRATCH/$run-home"
    export HOME="$SCRATCH/$run-home" XDG_DATA_HOME="$SCRATCH/$run-home/.local/share"
    export XDG_CONFIG_HOME="$SCRATCH/$run-home/.config" XDG_CACHE_HOME="$SCRATCH/$run-home/.cache"
    if [ "$run" = cards ]; then
        "$FAKE_CHAT" "$ROOT/demo/songs" >"$LOGS/fake-chat.log" 2>&1 &
        fake=$!
        STARTED+=("$fake")
        llm="$(wait_for_line "$LOGS/fake-chat.log" '^listening on ' 10 "$fake" | sed 's/^listening on //')"
        [ -n "$llm" ] || die "the stand-in language model did not start: $(cat "$LOGS/fake-chat.log")"
        rig_start_server "$SCRATCH/lyrics-en" --llm-url "$llm" --llm-model stand-in --llm-daily-quota 1000000
    else
        rig_start_server "$SCRATCH/lyrics"
    fi
    local server="$SERVER_PID"

    mpv --no-config --script="$MPRIS_SCRIPT" --no-video --ao=null --no-terminal "${PLAYLIST[@]}" \
        >"$LOGS/mpv-$run.log" 2>&1 &
    player=$!
    STARTED+=("$player")

    log="$LOGS/cantorella-$run.log"
    # The log exists before the loop counts its lines (the started program opens it later).
    : >"$log"
    QT_LOGGING_RULES="com.cantorella.lyrics-sync.debug=true" "$APP" >"$log" 2>&1 &
    app=$!
    STARTED+=("$app")

    FIRST=""
    FIFTH=""
    PEAK=0
    for ((song = 1; song <= SONGS; song++)); do
        from=$(($(wc -l <"$log") + 1))
        [ "$song" -eq 1 ] || playerctl -p mpv next
        # The song's first line became the active one (a song is left long before its end, so
        # line 0 becomes active again only in the next song). The first song plays while the
        # program starts: any of its lines will do.
        line=0
        [ "$song" -gt 1 ] || line='[0-9]+'
        wait_for_line "$log" "activeLineIndex changed: .* → Optional\\($line\\)" 30 "$app" "$from" >/dev/null \
            || die "$run, song $song: its lyrics did not show: $(tail -n 20 "$log")"
        if [ "$run" = cards ]; then
            wait_for_line "$log" '\[cards-client\] CHAIN JSON → success, cards=[1-9]' 60 "$app" "$from" >/dev/null \
                || die "$run, song $song: its cards did not arrive: $(tail -n 20 "$log")"
            wait_for_line "$log" 'Story fetch succeeded' 60 "$app" "$from" >/dev/null \
                || die "$run, song $song: its story did not arrive: $(tail -n 20 "$log")"
            if [ -z "$wid" ]; then
                # Xvfb has no window manager: the focus is given as asked, and nothing takes it.
                wid="$(xdotool search --sync --onlyvisible --pid "$app" | head -n 1)"
                xdotool windowfocus --sync "$wid"
            fi
            [ "$(xdotool getwindowfocus)" = "$wid" ] || die "$run, song $song: the window lost the focus"
        fi
        sleep "$SETTLE"
        read -r rss pss < <(memory_kib "$app")
        [ -n "$FIRST" ] || FIRST="$rss"
        [ "$song" -ne "$FIFTH_SONG" ] || FIFTH="$rss"
        [ "$rss" -le "$PEAK" ] || PEAK="$rss"
        printf '%-15s %9s %9s\n' "$run song $song" "$(mib "$rss")" "$(mib "$pss")"
        if [ "$song" -eq 1 ] && [ -n "$HEAPTRACK" ]; then
            # From here on every allocation is recorded, with its stack: what the later songs add.
            heaptrack -o "$LOGS/cantorella-$run.heaptrack" -p "$app" >"$LOGS/heaptrack-$run.log" 2>&1 &
            tracker=$!
            STARTED+=("$tracker")
            wait_for_line "$LOGS/heaptrack-$run.log" 'injecting|heaptrack output will be written' 60 >/dev/null || true
            sleep 5
        fi
    done
    LAST="$rss"
    if [ -n "$tracker" ]; then
        # heaptrack writes its profile once the application has ended. Killed, it frees nothing
        # first: the profile's "leaked" allocations are what the later songs left behind.
        kill -KILL "$app"
        wait "$tracker" 2>/dev/null || true
    fi
    kill "$app" "$player" "$server" $fake 2>/dev/null || true
    wait "$app" "$player" "$server" $fake 2>/dev/null || true
}

status=0 # check() (the rig) sets it to 1 when a goal is missed
goals=()
for run in "${RUNS[@]}"; do
    measure_run "$run"
    over=$((PEAK - BARE_RSS))
    if [ "$run" = lyrics ]; then
        growth=$((LAST - FIRST))
        goals+=("lyrics: largest RSS ≤ bare + 60 MiB (bare + $(mib "$over"))|$over <= 60 * 1024"
            "lyrics: growth from song 1 to song $SONGS ≤ 5 MiB ($(mib "$growth"))|$growth <= 5 * 1024")
    else
        growth=$((LAST - FIFTH))
        goals+=("cards: largest RSS ≤ bare + 70 MiB (bare + $(mib "$over"))|$over <= 70 * 1024"
            "cards: growth from song $FIFTH_SONG to song $SONGS ≤ 3 MiB ($(mib "$growth"))|$growth <= 3 * 1024")
    fi
done
for goal in "${goals[@]}"; do
    check "${goal%|*}" "${goal##*|}"
done
exit "$status"
