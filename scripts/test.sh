#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test headless. Exits non-zero on any failure.
# Extra arguments go to ctest (for example: -L store).
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
"$ROOT/scripts/install-deps.sh"
"$ROOT/scripts/build.sh"
# A clean build leaves gigabytes of objects waiting to be written; until they are, every fsync of
# a test (the stores commit with one) waits behind them, for seconds, and timing checks fail.
sync

# A throw-away home and runtime folder: Qt, mesa and the keyring write there.
SCRATCH="$(mktemp -d)"
trap 'rm -rf "$SCRATCH"' EXIT
mkdir -p "$SCRATCH/home" "$SCRATCH/runtime"
chmod 0700 "$SCRATCH/runtime"
export HOME="$SCRATCH/home" XDG_RUNTIME_DIR="$SCRATCH/runtime"
export XDG_DATA_HOME="$SCRATCH/home/.local/share" XDG_CONFIG_HOME="$SCRATCH/home/.config"
export QT_QPA_PLATFORM=offscreen
unset DISPLAY WAYLAND_DISPLAY DBUS_SESSION_BUS_ADDRESS

cd "$ROOT/build"
# One private session bus for the whole run, with an unlocked keyring on it for the
# secret-store integration test. Tests that need a bus of their own start one.
exec dbus-run-session -- bash -c '
    eval "$(printf test | gnome-keyring-daemon --unlock --components=secrets 2>/dev/null)" || true
    ctest --output-on-failure --parallel "$(nproc)" "$@"
' ctest-run "$@"
