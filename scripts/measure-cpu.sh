#!/usr/bin/env bash
# Measures the player window's CPU use while a song plays: the process's CPU time (user + system,
# all threads, from /proc) divided by wall time, as a share of one core. Everything runs headless
# under xvfb-run, on a session bus of its own (dbus-run-session), with the local server
# (cantorella-server, seeded with the demo songs) and mpv (mpv-mpris) looping a demo song; the window is 800 × 950 and signed in to a demo account.
#
# Runs (default: all, one after another):
#   lyrics-gated     the lyrics view alone, animations gated off (CANTORELLA_REDUCE_MOTION=1)
#   lyrics-animated  the lyrics view alone, animations on
#   app-gated        the main window (lyrics and the Now tab), animations gated off
#   app-animated     the main window, animations on
#   bare-snap        a plain Qt Quick window: 40 lines, a new active line every 2.5 s, snapped
#   bare-animated    the same with a 400 ms animated scroll
# Every window is focused (the harness asks for the focus; a run whose window did not get it stops).
# Goals checked: lyrics-gated ≤ 2 %, app-gated ≤ 3 %; both gated runs ≤ 2 × bare-snap and both
# animated runs ≤ 1.5 × bare-animated (the bare window measured in the same invocation).
#
# Exit status: 0 all measured goals met, 1 a goal missed, 2 wrong usage or a run could not start.
# Needs a build (./scripts/build.sh) and xvfb-run, dbus-run-session, mpv, mpv-mpris, sox.
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
# shellcheck source=lib/measure-rig.sh
. "$ROOT/scripts/lib/measure-rig.sh"
ALL_RUNS=(lyrics-gated lyrics-animated app-gated app-animated bare-snap bare-animated)

usage() {
    cat <<EOF
usage: $0 [-d SECONDS] [-w SECONDS] [-l FOLDER [-p]] [RUN...]
  -d SECONDS   how long each run is measured (default 60)
  -w SECONDS   settling time after the window shows its lines, not measured (default 3)
  -l FOLDER    keep each run's output there (RUN.log); with QSG_RENDER_TIMING=1 in the
               environment it lists every frame the window renders, with
               CANTORELLA_HARNESS_TRACE=1 what changed on screen before each frame
  -p           also record a perf profile of each measured span into FOLDER (RUN.perf.data;
               read it with perf report -i); the sampling adds a little to the figures
  RUN          any of: ${ALL_RUNS[*]} (default: all)
Prints one line per run (CPU % of one core, frames a second) and the goals; exits 1 when a goal
is missed. What a part of the window costs: CANTORELLA_HARNESS_HIDE=NAME,… hides the items of
that objectName (cls:TYPE: of that type; nolayer:NAME: turns their layer off) in the measured
windows; compare with runs without it, interleaved. What one frame costs: with
CANTORELLA_HARNESS_REDRAW=1 the measured windows redraw continuously (as often as the frame
pacer lets them), so CPU % ÷ frames a second is the cost of a frame with nothing changed.
EOF
}

DURATION=60
WARMUP=3
LOGS=""
PROFILE=""
while getopts ":d:w:l:ph" opt; do
    case "$opt" in
        d) DURATION="$OPTARG" ;;
        w) WARMUP="$OPTARG" ;;
        l) LOGS="$(mkdir -p "$OPTARG" && cd "$OPTARG" && pwd)" ;;
        p) PROFILE=1 ;;
        h) usage; exit 0 ;;
        *) usage >&2; exit 2 ;;
    esac
done
shift $((OPTIND - 1))
[[ "$DURATION" =~ ^[0-9]+$ && "$DURATION" -gt 0 ]] || { usage >&2; exit 2; }
[[ "$WARMUP" =~ ^[0-9]+$ ]] || { usage >&2; exit 2; }
[ -z "$PROFILE" ] || [ -n "$LOGS" ] || { usage >&2; exit 2; }
RUNS=("$@")
[ ${#RUNS[@]} -gt 0 ] || RUNS=("${ALL_RUNS[@]}")
for run in "${RUNS[@]}"; do
    [[ " ${ALL_RUNS[*]} " == *" $run "* ]] || { usage >&2; exit 2; }
done

# ---- outside: a virtual display and a session bus of our own, then this script again inside ----
if [ -z "${CANTORELLA_MEASURE_INSIDE:-}" ] && [ -n "$PROFILE" ]; then
    command -v perf >/dev/null || die "perf is not installed"
fi
rig_enter "$0" -d "$DURATION" -w "$WARMUP" ${LOGS:+-l "$LOGS"} ${PROFILE:+-p} "${RUNS[@]}"

# ---- inside: a throw-away home, so settings, caches and diagnostics stay out of the person's own ----
rig_prepare
CLK_TCK="$(getconf CLK_TCK)"

# User + system clock ticks of the process, all its threads (fields 14 and 15 of stat; the
# command name, field 2, may hold spaces, so count from its closing parenthesis).
cpu_ticks() {
    sed 's/^.*) //' "/proc/$1/stat" | awk '{ print $12 + $13 }'
}

# The frames the harness's window has swapped so far (it logs "frames N" once a second).
frames_swapped() {
    grep -E '^frames [0-9]+$' "$1" | tail -n 1 | awk '{ print $2 + 0 }'
}

# Measures one run: sets RESULT to its CPU share of one core in percent and FPS to the frames a
# second its window swapped.
measure() {
    local run="$1" log="${LOGS:-$SCRATCH}/$1.log" args=() reduce=0 pid t0 t1 c0 c1 f0 f1
    case "$run" in
        lyrics-gated) args=(--view lyrics); reduce=1 ;;
        lyrics-animated) args=(--view lyrics) ;;
        app-gated) args=(--view app); reduce=1 ;;
        app-animated) args=(--view app) ;;
        bare-snap) args=(--bare "$BARE_QML") ;;
        bare-animated) args=(--bare "$BARE_QML" animated) ;;
    esac
    if [[ "$run" != bare-* ]]; then
        rig_start_demo_playback
        args+=(--server "$SERVER")
    fi
    CANTORELLA_REDUCE_MOTION="$reduce" "$HARNESS" "${args[@]}" >"$log" 2>&1 &
    pid=$!
    STARTED+=("$pid")
    wait_for_line "$log" '^ready$' 90 "$pid" >/dev/null || die "$run: the window did not show its lines: $(tail -n 20 "$log")"
    # The figures are for a focused window (the harness asks for the focus and logs the state).
    wait_for_line "$log" '^window active: true$' 10 "$pid" >/dev/null \
        || die "$run: the window did not get the focus: $(tail -n 20 "$log")"
    sleep "$WARMUP"
    t0="$(date +%s.%N)"; c0="$(cpu_ticks "$pid")"; f0="$(frames_swapped "$log")"
    if [ -n "$PROFILE" ]; then
        perf record -F 499 -g -p "$pid" -o "$LOGS/$run.perf.data" -- sleep "$DURATION" >/dev/null 2>&1
    else
        sleep "$DURATION"
    fi
    t1="$(date +%s.%N)"; c1="$(cpu_ticks "$pid")"; f1="$(frames_swapped "$log")"
    [ "$(grep -E '^window active: ' "$log" | tail -n 1)" = "window active: true" ] \
        || die "$run: the window lost the focus: $(tail -n 20 "$log")"
    kill "$pid"
    wait "$pid" 2>/dev/null || true
    RESULT="$(awk -v c="$((c1 - c0))" -v hz="$CLK_TCK" -v t0="$t0" -v t1="$t1" \
        'BEGIN { printf "%.2f", 100 * c / hz / (t1 - t0) }')"
    FPS="$(awk -v f="$((f1 - f0))" -v t0="$t0" -v t1="$t1" 'BEGIN { printf "%.1f", f / (t1 - t0) }')"
}

declare -A CPU
printf '%-16s %s\n' "run" "CPU (% of one core, ${DURATION} s)   frames a second"
for run in "${RUNS[@]}"; do
    measure "$run"
    CPU[$run]="$RESULT"
    printf '%-16s %6s %22s\n' "$run" "${CPU[$run]}" "$FPS"
done

# Goals, for the runs that were measured.
status=0 # check() (the rig) sets it to 1 when a goal is missed
# ratio_check DESCRIPTION RUN COMPARATOR FACTOR: RUN uses at most FACTOR times what the bare
# COMPARATOR does.
ratio_check() {
    if [ -n "${CPU[$2]:-}" ] && [ -n "${CPU[$3]:-}" ]; then
        check "$1 ≤ $4 × $3 (${CPU[$2]} vs ${CPU[$3]}: $(awk -v a="${CPU[$2]}" -v b="${CPU[$3]}" \
            'BEGIN { if (b > 0) printf "%.2f ×", a / b; else printf "no bare figure" }'))" "${CPU[$2]} <= $4 * ${CPU[$3]}"
    fi
}
if [ -n "${CPU[lyrics-gated]:-}" ]; then
    check "lyrics, gated off ≤ 2 % (${CPU[lyrics-gated]})" "${CPU[lyrics-gated]} <= 2"
fi
if [ -n "${CPU[app-gated]:-}" ]; then
    check "lyrics and Now tab, gated off ≤ 3 % (${CPU[app-gated]})" "${CPU[app-gated]} <= 3"
fi
ratio_check "lyrics, gated off" lyrics-gated bare-snap 2
ratio_check "lyrics and Now tab, gated off" app-gated bare-snap 2
ratio_check "lyrics, animated" lyrics-animated bare-animated 1.5
ratio_check "lyrics and Now tab, animated" app-animated bare-animated 1.5
exit "$status"
