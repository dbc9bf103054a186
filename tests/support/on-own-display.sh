#!/usr/bin/env bash
# Runs a command on a virtual X display of its own and exits with the command's status.
#
#   on-own-display.sh WIDTHxHEIGHTxDEPTH COMMAND [ARG...]
#
# Xvfb chooses the display number itself (-displayfd) and claims it with its lock file, so tests
# started side by side never share one. (xvfb-run -a picks a number by looking for a free lock
# file before its server takes it; two runs started together can pick the same number, and the
# loser's program then fails with "could not connect to display".)
# The display takes only clients that show a cookie made for this run; it listens on no TCP port.
# It never resets: by default Xvfb resets when its last client leaves, and a program that connects
# during the reset is refused. Tests start helpers that connect and leave first (the accessibility
# bus's launcher sets a property on the root window), so the test's own connection could come just
# then.
set -euo pipefail
[[ $# -ge 2 ]] || { echo "usage: $0 WIDTHxHEIGHTxDEPTH COMMAND [ARG...]" >&2; exit 2; }
screen="$1"
shift

scratch="$(mktemp -d -t own-display.XXXXXX)"
server_pid=""
cleanup() {
    if [[ -n "$server_pid" ]]; then
        kill "$server_pid" 2>/dev/null || true
        wait "$server_pid" 2>/dev/null || true
    fi
    rm -rf "$scratch"
}
trap cleanup EXIT
trap 'exit 143' TERM INT

cookie="$(mcookie)"
# The server accepts every cookie in its file, whatever display the entry names.
xauth -q -f "$scratch/server-auth" add :0 . "$cookie" 2>/dev/null

exec {number_fd}>"$scratch/display-number"
Xvfb -displayfd "$number_fd" -noreset -nolisten tcp -auth "$scratch/server-auth" -screen 0 "$screen" \
    >"$scratch/xvfb.log" 2>&1 &
server_pid=$!
exec {number_fd}>&-

# Xvfb writes the number once it accepts connections; a busy machine can take a while.
for _ in $(seq 1200); do
    [[ -s "$scratch/display-number" ]] && break
    kill -0 "$server_pid" 2>/dev/null || break
    sleep 0.05
done
number="$(tr -dc 0-9 <"$scratch/display-number")"
if [[ -z "$number" ]]; then
    echo "$0: Xvfb did not start:" >&2
    cat "$scratch/xvfb.log" >&2
    exit 1
fi

xauth -q -f "$scratch/client-auth" add ":$number" . "$cookie" 2>/dev/null
status=0
DISPLAY=":$number" XAUTHORITY="$scratch/client-auth" "$@" || status=$?
exit "$status"
