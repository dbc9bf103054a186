#!/usr/bin/env bash
# Measures the application's start-up: from exec to the first frame that shows the player, for a
# user signed in from an earlier run. The real program (build/src/app/cantorella) is started N
# times in the rig of scripts/lib/measure-rig.sh (headless under xvfb-run, a session bus and
# keyring of its own with the stored session, the local server, mpv with mpv-mpris playing a
# demo song); each start is a fresh process with the same home folder, so from the second start
# on the store file and the shader caches (Qt's and Mesa's, in ~/.cache) exist, as on a desktop.
# The first start, with empty caches, takes two to three times as long; it counts like the rest.
#
# The time is taken from outside: the script notes the wall clock right before it execs the
# program; the program's first player frame is its "FirstPlayerFrame" point of interest, logged
# with the wall clock in milliseconds (QT_MESSAGE_PATTERN). Prints each start, then the median,
# minimum and maximum. With -c the plain Qt Quick window of tools/cpu-harness/BareStartup.qml (the
# same modules, font and style, nothing of the program's own; its "FirstFrame" point) takes turns
# with the program: what of the start-up is the toolkit's own.
# Goal checked: median ≤ 400 ms.
#
# Exit status: 0 goal met, 1 goal missed, 2 wrong usage or the rig could not start.
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
# shellcheck source=lib/measure-rig.sh
. "$ROOT/scripts/lib/measure-rig.sh"

usage() {
    cat <<EOF
usage: $0 [-n STARTS] [-b PROGRAM] [-c] [-l FOLDER]
  -n STARTS    how many starts are timed (default 11)
  -b PROGRAM   also time this other build of the program (a copy of an earlier one), its
               starts taking turns with the build's, so that both meet the same load
  -c           also time the plain Qt Quick window (the comparator), taking turns the same way
  -l FOLDER    keep each start's log there (start-N.log, other-N.log, bare-N.log)
Prints one line per start (ms from exec to the first player frame), the median, minimum and
maximum; exits 1 when the median is over 400 ms.
EOF
}

STARTS=11
LOGS=""
OTHER=""
BARE=""
while getopts ":n:b:cl:h" opt; do
    case "$opt" in
        n) STARTS="$OPTARG" ;;
        b) OTHER="$(realpath "$OPTARG")" ;;
        c) BARE=1 ;;
        l) LOGS="$(mkdir -p "$OPTARG" && cd "$OPTARG" && pwd)" ;;
        h) usage; exit 0 ;;
        *) usage >&2; exit 2 ;;
    esac
done
shift $((OPTIND - 1))
[ $# -eq 0 ] || { usage >&2; exit 2; }
[[ "$STARTS" =~ ^[0-9]+$ && "$STARTS" -ge 1 ]] || { usage >&2; exit 2; }
[ -z "$OTHER" ] || [ -x "$OTHER" ] || die "$OTHER is not a program"

rig_enter "$0" -n "$STARTS" ${OTHER:+-b "$OTHER"} ${BARE:+-c} ${LOGS:+-l "$LOGS"}
rig_prepare
LOGS="${LOGS:-$SCRATCH}"

rig_start_server
sox -n -r 8000 -c 1 --comment "TITLE=Amazing Grace" --add-comment "ARTIST=Traditional" \
    "$SCRATCH/grace.ogg" synth 82 sine 440 vol 0.3
mpv --no-config --script="$MPRIS_SCRIPT" --no-video --ao=null --no-terminal --loop-file=inf \
    "$SCRATCH/grace.ogg" >/dev/null 2>&1 &
STARTED+=($!)

export TZ=UTC
export QT_LOGGING_RULES="com.cantorella.PointsOfInterest.debug=true"
export QT_MESSAGE_PATTERN='%{time yyyy-MM-dd HH:mm:ss.zzz} %{category} %{message}'

# One start of PROGRAM, logged as NAME-N: sets RESULT to the milliseconds from exec to the
# first player frame (POINT, default FirstPlayerFrame; ARGS go to the program).
time_start() {
    local program="$1" log="$LOGS/$2-$3.log" point="${4:-FirstPlayerFrame}" pid line stamp t0
    shift 4 2>/dev/null || shift $#
    # The subshell notes the time and becomes the program: nothing runs between the two.
    (
        printf '%s\n' "$EPOCHREALTIME" >"$SCRATCH/exec-time"
        exec "$program" "$@" >"$log" 2>&1
    ) &
    pid=$!
    STARTED+=("$pid")
    line="$(wait_for_line "$log" "event $point\$" 30 "$pid")" \
        || die "$2 $3: no player frame: $(tail -n 20 "$log")"
    kill "$pid"
    wait "$pid" 2>/dev/null || true
    stamp="$(date -u -d "$(cut -d ' ' -f 1,2 <<<"$line")" +%s.%N)"
    t0="$(cat "$SCRATCH/exec-time")"
    RESULT="$(awk -v a="$t0" -v b="$stamp" 'BEGIN { printf "%.0f", (b - a) * 1000 }')"
}

# Prints "median min max" of the numbers given.
summary() {
    printf '%s\n' "$@" | sort -n | awk '
        { v[NR] = $1 }
        END { m = (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2; print m, v[1], v[NR] }'
}

times=()
others=()
bares=()
for ((n = 1; n <= STARTS; n++)); do
    time_start "$APP" start "$n"
    times+=("$RESULT")
    line="$(printf 'start %2d %6s ms' "$n" "$RESULT")"
    if [ -n "$OTHER" ]; then
        time_start "$OTHER" other "$n"
        others+=("$RESULT")
        line+="$(printf '   other build %6s ms' "$RESULT")"
    fi
    if [ -n "$BARE" ]; then
        time_start "$HARNESS" bare "$n" FirstFrame --bare "$ROOT/tools/cpu-harness/BareStartup.qml"
        bares+=("$RESULT")
        line+="$(printf '   plain window %6s ms' "$RESULT")"
    fi
    printf '%s\n' "$line"
done
if [ -n "$OTHER" ]; then
    read -r median low high < <(summary "${others[@]}")
    printf 'other build: median %s ms, min %s ms, max %s ms (%d starts)\n' "$median" "$low" "$high" "$STARTS"
fi
if [ -n "$BARE" ]; then
    read -r median low high < <(summary "${bares[@]}")
    printf 'plain window: median %s ms, min %s ms, max %s ms (%d starts)\n' "$median" "$low" "$high" "$STARTS"
fi
read -r median low high < <(summary "${times[@]}")
printf 'median %s ms, min %s ms, max %s ms (%d starts)\n' "$median" "$low" "$high" "$STARTS"
if awk -v m="$median" 'BEGIN { exit !(m <= 400) }'; then
    printf 'met:    median start-up ≤ 400 ms (%s)\n' "$median"
    exit 0
fi
printf 'MISSED: median start-up ≤ 400 ms (%s)\n' "$median"
exit 1
