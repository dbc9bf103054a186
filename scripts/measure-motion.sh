#!/usr/bin/env bash
# Measures how smoothly the player moves, from outside: the screen is recorded at 60 frames a
# second (ffmpeg x11grab, under xvfb-run like the other measuring scripts) while the player window
# (the CPU harness's main window, 800 × 950, signed in, a demo song playing) scrolls, and then
# while a plain Qt Quick window (tools/cpu-harness/BareMotion.qml: a ListView and a 0.4 s
# NumberAnimation, ease-in-out) scrolls the same distance in the same time, in the same run.
# A probe (cantorella-motion-probe) finds how far each recorded frame moved; a scroll is a run of
# moving frames. For each scroll it counts the frames that moved, the largest move in a frame, the
# median move and the longest hold (the time between two moving frames).
#
# What moves:
#   cards    the Now tab's card list scrolling to the lit card (when a line with a card plays)
#   lyrics   the lyrics moving to the next line
#   return   the lyrics' automatic return 3 s after a wheel scroll (xdotool turns the wheel)
#
# The render profile is forced with -P (CANTORELLA_RENDER_PROFILE); without it the program
# decides (on a machine without a GPU: software). Goals checked, per what moves:
#   hardware: frames ≥ 0.8 × the plain window's, largest move ≤ 1.5 × the plain window's
#   software: at least 10 frames in a 0.4 s scroll; for the cards also no hold over two frames at
#             the scroll's pace of 60 a second, largest move ≤ 1.5 × the plain window's
# Figures are medians over the scrolls seen, the largest move the largest seen. The recording
# shares the machine with the windows it records: repeat, and compare within one run.
#
# Exit status: 0 goals met, 1 a goal missed, 2 wrong usage or the rig could not run.
# Needs a build (./scripts/build.sh) and xvfb-run, dbus-run-session, mpv, mpv-mpris, sox,
# ffmpeg, xdotool.
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
# shellcheck source=lib/measure-rig.sh
. "$ROOT/scripts/lib/measure-rig.sh"
PROBE="$BUILD/tools/motion-probe/cantorella-motion-probe"
BARE_MOTION_QML="$ROOT/tools/cpu-harness/BareMotion.qml"

usage() {
    cat <<EOF
usage: $0 [-P software|hardware] [-d SECONDS] [-k FOLDER]
  -P PROFILE   force the render profile (default: the program decides)
  -d SECONDS   how long the playing song is recorded for lyric and card scrolls (default 40)
  -k FOLDER    keep the recordings, a screenshot and the per-frame moves there
Prints, for each of cards, lyrics and return, the player's and the plain window's scrolls,
frames that moved (median), largest move in a frame, median move and longest hold; each card
scroll at its song time; then the goals.
EOF
}

FORCED=""
RECORD=40
KEEP=""
while getopts ":P:d:k:h" opt; do
    case "$opt" in
        P) FORCED="$OPTARG" ;;
        d) RECORD="$OPTARG" ;;
        k) KEEP="$(mkdir -p "$OPTARG" && cd "$OPTARG" && pwd)" ;;
        h) usage; exit 0 ;;
        *) usage >&2; exit 2 ;;
    esac
done
shift $((OPTIND - 1))
[ $# -eq 0 ] || { usage >&2; exit 2; }
[[ -z "$FORCED" || "$FORCED" == software || "$FORCED" == hardware ]] || { usage >&2; exit 2; }
[[ "$RECORD" =~ ^[0-9]+$ && "$RECORD" -ge 10 ]] || { usage >&2; exit 2; }

if [ -z "${CANTORELLA_MEASURE_INSIDE:-}" ]; then
    for tool in ffmpeg xdotool; do
        command -v "$tool" >/dev/null || die "$tool is not installed (./scripts/install-deps.sh)"
    done
    [ -x "$PROBE" ] || die "$PROBE is missing: build first (./scripts/build.sh)"
fi
rig_enter "$0" ${FORCED:+-P "$FORCED"} -d "$RECORD" ${KEEP:+-k "$KEEP"}

rig_prepare
OUT="${KEEP:-$SCRATCH}"

# Where things are on the screen (no window manager: the player window at the top left, the
# plain window at x 820): "WIDTH HEIGHT X Y" of the regions measured, and the point the wheel
# turns at (over the lyrics).
LYRICS_REGION=(350 660 5 200)
CARDS_REGION=(400 840 385 95)
PLAIN_REGION=(440 600 820 0)
WHEEL_AT=(180 500)

# record NAME SECONDS W H X Y: records that region of the screen at 60 frames a second into
# NAME.mkv (lossless grey) and waits for it.
record() {
    ffmpeg -nostdin -loglevel error -f x11grab -draw_mouse 0 -framerate 60 -video_size "$3x$4" -i "$DISPLAY+$5,$6" \
        -t "$2" -c:v ffv1 -pix_fmt gray -y "$OUT/$1.mkv" &
    STARTED+=($!)
    wait $! || die "ffmpeg could not record the screen"
}

# moves NAME RECORDING W H X Y: the per-frame moves ("INDEX CHANGED SHIFT") of that part of a
# recording (X, Y relative to the recording) in NAME.moves.
moves() {
    ffmpeg -nostdin -loglevel error -i "$OUT/$2.mkv" -vf "crop=$3:$4:$5:$6" -f rawvideo -pix_fmt gray - \
        | "$PROBE" "$3" "$4" 220 >"$OUT/$1.moves"
}

# scrolls NAME [FROM_FRAME [TO_FRAME]]: one line per scroll in NAME.moves in that span:
# "FRAMES LARGEST DISTANCE FIRST_FRAME HOLD MOVES", HOLD the longest time in ms between two moving
# frames of the scroll, MOVES its frames' moves (px, comma-separated). A scroll is a run of moving
# frames with gaps of at most 9 frames (150 ms; a step at 10 frames a second comes every 6).
scrolls() {
    awk -v from="${2:-0}" -v to="${3:-1e9}" '
        function flush() {
            if (n > 0) printf "%d %d %d %d %.0f %s\n", n, largest, (distance < 0 ? -distance : distance), first, hold * 1000 / 60, list
            n = 0; largest = 0; distance = 0; hold = 0; list = ""
        }
        $1 < from || $1 > to { next }
        $3 != 0 {
            if (n > 0 && $1 - last > 10) flush()
            if (n == 0) first = $1
            else if ($1 - last > hold) hold = $1 - last
            n++; d = $3 < 0 ? -$3 : $3; if (d > largest) largest = d; distance += $3; last = $1
            list = list (list == "" ? "" : ",") d
        }
        END { flush() }' "$OUT/$1.moves"
}

# The median of the numbers on standard input (one a line); nothing when there are none.
median() {
    sort -n | awk '{ v[NR] = $1 } END { if (NR > 0) print v[int((NR + 1) / 2)] }'
}

# summarise WHAT WINDOW SCROLLS: prints a line and sets FRAMES, LARGEST, DISTANCE, MOVE and HOLD
# (medians; the largest move and the longest hold the largest seen; MOVE the median of every
# frame's move) from the lines scrolls() prints.
declare -A FRAMES LARGEST DISTANCE MOVE HOLD COUNT
summarise() {
    local key="$1 $2" lines="$3"
    COUNT[$key]="$(printf '%s' "$lines" | grep -c . || true)"
    FRAMES[$key]="$(printf '%s\n' "$lines" | awk 'NF { print $1 }' | median)"
    LARGEST[$key]="$(printf '%s\n' "$lines" | awk 'NF { print $2 }' | sort -n | tail -n 1)"
    DISTANCE[$key]="$(printf '%s\n' "$lines" | awk 'NF { print $3 }' | median)"
    MOVE[$key]="$(printf '%s\n' "$lines" | awk 'NF { n = split($6, m, ","); for (i = 1; i <= n; i++) print m[i] }' | median)"
    HOLD[$key]="$(printf '%s\n' "$lines" | awk 'NF { print $5 }' | sort -n | tail -n 1)"
    printf '%-8s %-7s %7s %14s %16s %14s %12s %14s\n' "$1" "$2" "${COUNT[$key]}" "${FRAMES[$key]:--}" \
        "${LARGEST[$key]:--}" "${DISTANCE[$key]:--}" "${MOVE[$key]:--}" "${HOLD[$key]:--}"
}

# ---- the player: a demo song playing, the main window with the lyrics and the Now tab ----
rig_start_demo_playback
LOG="$OUT/player.log"
CANTORELLA_RENDER_PROFILE="$FORCED" "$HARNESS" --server "$SERVER" --view app >"$LOG" 2>&1 &
PLAYER=$!
STARTED+=("$PLAYER")
wait_for_line "$LOG" '^ready$' 90 "$PLAYER" >/dev/null || die "the player did not show its lines: $(tail -n 20 "$LOG")"
wait_for_line "$LOG" '^window active: true$' 10 "$PLAYER" >/dev/null || die "the player did not get the focus"
sleep 3
PROFILE="$(sed -n 's/.*Render profile: \([a-z]*\).*/\1/p' "$LOG" | head -n 1)"
[ -z "$KEEP" ] || ffmpeg -nostdin -loglevel error -f x11grab -video_size 1280x1024 -i "$DISPLAY" -frames:v 1 -y "$OUT/screen.png"

# From 0:25 on: until then the playing line is near the top and the lyrics cannot scroll to it.
playerctl --player=mpv position 25 || die "could not seek the demo song"
sleep 1
# The automatic return: the wheel scrolls the lyrics (they stop following), and 3 s later they
# return. Only the scroll that starts 2.5 to 4.3 s into the recording counts (the wheel turns
# at 0.3 s).
xdotool mousemove "${WHEEL_AT[@]}"
record wheel 6 800 950 0 0 &
recording=$!
sleep 0.3
xdotool click --repeat 3 --delay 40 5
wait "$recording" || die "ffmpeg could not record the screen"
moves return wheel "${LYRICS_REGION[@]}"
# Lyric and card scrolls as the song goes on.
# Where the song is when the recording starts: each card scroll is listed at its song time.
START_AT="$(playerctl --player=mpv position 2>/dev/null || echo 0)"
record player "$RECORD" 800 950 0 0
moves lyrics player "${LYRICS_REGION[@]}"
moves cards player "${CARDS_REGION[@]}"
kill "$PLAYER" 2>/dev/null || true
wait "$PLAYER" 2>/dev/null || true

LYRIC_SCROLLS="$(scrolls lyrics)"
CARD_SCROLLS="$(scrolls cards)"
RETURN_SCROLLS="$(scrolls return 150 258 | awk '$3 >= 20' | head -n 1)"

# ---- the plain window, the same distances in 0.4 s ----
plain() { # plain WHAT DISTANCE
    local log="$OUT/plain-$1.log" pid
    "$HARNESS" --bare "$BARE_MOTION_QML" "distance=$2" duration=400 >"$log" 2>&1 &
    pid=$!
    STARTED+=("$pid")
    wait_for_line "$log" '^ready$' 30 "$pid" >/dev/null || die "the plain window did not show: $(tail -n 5 "$log")"
    sleep 1.5
    record "plain-$1" 6 "${PLAIN_REGION[@]}"
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    moves "plain-$1" "plain-$1" "${PLAIN_REGION[0]}" "${PLAIN_REGION[1]}" 0 0
    scrolls "plain-$1"
}
distance_of() { printf '%s\n' "$1" | awk 'NF { print $3 }' | median; }
d="$(distance_of "$CARD_SCROLLS")"; PLAIN_CARDS="$(plain cards "${d:-280}")"
d="$(distance_of "$LYRIC_SCROLLS")"; PLAIN_LYRICS="$(plain lyrics "${d:-56}")"
d="$(distance_of "$RETURN_SCROLLS")"; PLAIN_RETURN="$(plain return "${d:-151}")"

echo "render profile: ${PROFILE:-unknown}${FORCED:+ (forced)}"
printf '%-8s %-7s %7s %14s %16s %14s %12s %14s\n' what window scrolls "frames moved" "largest move px" \
    "distance px" "median move" "longest hold ms"
summarise cards player "$CARD_SCROLLS"
summarise cards plain "$PLAIN_CARDS"
summarise lyrics player "$LYRIC_SCROLLS"
summarise lyrics plain "$PLAIN_LYRICS"
summarise return player "$RETURN_SCROLLS"
summarise return plain "$PLAIN_RETURN"

# Each of the player's card scrolls at the song time it starts (a line change and a card change
# coincide on some: compare those with the others).
printf '%s\n' "$CARD_SCROLLS" | awk -v at="$START_AT" 'NF {
    printf "cards at %6.2f s: %2d frames, largest %3d px, longest hold %3d ms, moves %s\n", at + $4 / 60, $1, $2, $5, $6 }'

status=0 # check() (the rig) sets it to 1 when a goal is missed
for what in cards lyrics return; do
    f="${FRAMES[$what player]:-}" l="${LARGEST[$what player]:-}"
    pf="${FRAMES[$what plain]:-}" pl="${LARGEST[$what plain]:-}"
    if [ -z "$f" ] || [ -z "$pf" ]; then
        printf 'MISSED: %s: no scroll seen\n' "$what"
        status=1
        continue
    fi
    if [ "$PROFILE" = hardware ]; then
        check "$what: frames ≥ 0.8 × the plain window's ($f vs $pf)" "$f >= 0.8 * $pf"
        check "$what: largest move ≤ 1.5 × the plain window's ($l vs $pl px)" "$l <= 1.5 * $pl"
    else
        check "$what: at least 10 frames in a 0.4 s scroll ($f)" "$f >= 10"
        if [ "$what" = cards ]; then
            h="${HOLD[$what player]}"
            check "$what: no hold over two frames at 60 a second ($h ms)" "$h <= 2 * 1000 / 60 + 1"
            check "$what: largest move ≤ 1.5 × the plain window's ($l vs $pl px)" "$l <= 1.5 * $pl"
        fi
    fi
done
exit "$status"
