#!/usr/bin/env bash
# Builds the two Debian packages from this build's install rules, unpacks them into a throw-away
# root (dpkg -x) and checks them there as a user and an operator would meet them:
#   - lintian finds no error; the maintainer scripts parse; the unit is valid;
#   - every file an installation needs is where the programs look for it;
#   - the desktop entry and the metainfo validate, and name the installed program and icon;
#   - cantorella depends on the package of every Qt QML module its screens import (the
#     dependencies shared-library analysis cannot see);
#   - the programs' libraries resolve; the unpacked server shows and loads its own prompt files.
# Usage: check-packages.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
BUILD="$1"
SOURCE="$2"
APP_ID=app.cantorella.Cantorella

WORK="$(mktemp -d)"
server_pid=""
cleanup() {
    if [ -n "$server_pid" ]; then kill -KILL "$server_pid" 2>/dev/null || true; fi
    rm -rf "$WORK"
}
trap cleanup EXIT
failures=0
fail() { printf 'FAIL: %s\n' "$*"; failures=$((failures + 1)); }
pass() { printf 'ok: %s\n' "$*"; }

# ---- the packages ------------------------------------------------------------------------------

cpack --config "$BUILD/CPackConfig.cmake" -B "$WORK/out" >"$WORK/cpack.log" 2>&1 \
    || { cat "$WORK/cpack.log"; echo "FAIL: cpack"; exit 1; }
APP_DEB="$(ls "$WORK"/out/cantorella_*.deb)"
SERVER_DEB="$(ls "$WORK"/out/cantorella-server_*.deb)"
ROOT="$WORK/root"
mkdir -p "$ROOT"
dpkg -x "$APP_DEB" "$ROOT"
dpkg -x "$SERVER_DEB" "$ROOT"
pass "built and unpacked $(basename "$APP_DEB") and $(basename "$SERVER_DEB")"

if lintian --fail-on error "$APP_DEB" "$SERVER_DEB" >"$WORK/lintian.log" 2>&1; then
    pass "lintian: no error"
else
    cat "$WORK/lintian.log"
    fail "lintian"
fi

dpkg-deb -e "$SERVER_DEB" "$WORK/control"
for script in postinst prerm postrm; do
    [ -x "$WORK/control/$script" ] && sh -n "$WORK/control/$script" || fail "server package: $script missing or not valid sh"
done

# ---- what an installation holds ----------------------------------------------------------------

for file in usr/bin/cantorella usr/libexec/cantorella/nowplaying-reader usr/share/man/man1/cantorella{,-server}.1.gz \
    usr/share/applications/$APP_ID.desktop usr/share/metainfo/$APP_ID.metainfo.xml \
    usr/share/icons/hicolor/scalable/apps/$APP_ID.svg \
    usr/share/icons/hicolor/{48x48,64x64,128x128,256x256,512x512}/apps/$APP_ID.png \
    usr/share/doc/cantorella/copyright usr/share/doc/cantorella-server/copyright \
    usr/bin/cantorella-server usr/share/cantorella-server/prompts/{cards,cards-repair,story,story-repair}-v1.txt \
    usr/lib/systemd/system/cantorella-server.service; do
    [ -f "$ROOT/$file" ] || fail "missing /$file"
done
# "WIDTH HEIGHT" of a PNG file, from its header.
png_size() { od -An -tu1 -j16 -N8 "$1" | awk '{ print $3 * 256 + $4, $7 * 256 + $8 }'; }
# The icon's pixel sizes are what their folders say.
for size in 48 64 128 256 512; do
    png="$ROOT/usr/share/icons/hicolor/${size}x${size}/apps/$APP_ID.png"
    [ -f "$png" ] || continue
    [ "$(png_size "$png")" = "$size $size" ] || fail "icon ${size}x${size} is $(png_size "$png")"
done

for program in usr/bin/cantorella usr/libexec/cantorella/nowplaying-reader usr/bin/cantorella-server; do
    if ldd "$ROOT/$program" | grep -q 'not found'; then
        ldd "$ROOT/$program" | grep 'not found'
        fail "/$program: libraries not found"
    fi
done

# ---- desktop entry and metainfo -----------------------------------------------------------------

desktop="$ROOT/usr/share/applications/$APP_ID.desktop"
desktop-file-validate "$desktop" || fail "desktop-file-validate"
entry() { sed -n "s/^$1=//p" "$desktop" | head -n 1; }
[ "$(entry Icon)" = "$APP_ID" ] || fail "desktop entry's Icon is \"$(entry Icon)\", not $APP_ID"
[ -x "$ROOT/usr/bin/$(entry Exec | awk '{ print $1 }')" ] || fail "desktop entry's Exec is not an installed program"
# The window's X11 class is the application name the shell sets.
grep -q "setApplicationName(QStringLiteral(\"$(entry StartupWMClass)\"))" "$SOURCE/src/app/ApplicationShell.cpp" \
    || fail "StartupWMClass \"$(entry StartupWMClass)\" is not the application's name"
grep -q "setDesktopFileName(QStringLiteral(\"$APP_ID\"))" "$SOURCE/src/app/ApplicationShell.cpp" \
    || fail "the application's desktop file name is not $APP_ID"

# Without the network checks: the screenshots are fetched from the project's web address, which
# this machine may not reach (and the test must not need).
metainfo="$ROOT/usr/share/metainfo/$APP_ID.metainfo.xml"
appstreamcli validate --no-net "$metainfo" || fail "appstreamcli validate"
grep -q "<launchable type=\"desktop-id\">$APP_ID.desktop</launchable>" "$metainfo" \
    || fail "metainfo does not launch $APP_ID.desktop"
grep -q '<content_rating type="oars-1.1">' "$metainfo" || fail "metainfo has no OARS rating"
# Each screenshot is one of packaging/screenshots/ (published at its address), of the size it states.
shots=0
while read -r width height name; do
    shots=$((shots + 1))
    shot="$SOURCE/packaging/screenshots/$name"
    [ -f "$shot" ] || { fail "screenshot $name is not in packaging/screenshots/"; continue; }
    [ "$(png_size "$shot")" = "$width $height" ] || fail "screenshot $name is $(png_size "$shot"), not $width $height"
done < <(sed -n 's|.*<image type="source" width="\([0-9]*\)" height="\([0-9]*\)">https://[^<]*/screenshots/\([^<]*\)</image>.*|\1 \2 \3|p' "$metainfo")
[ "$shots" -gt 0 ] || fail "metainfo has no screenshot"
pass "desktop entry and metainfo"

# ---- run-time dependencies shared-library analysis cannot see -----------------------------------

depends="$(dpkg-deb -f "$APP_DEB" Depends | tr ',' '\n' | sed 's/^ *//; s/ .*//')"
qml_root="$(qtpaths6 --query QT_INSTALL_QML)"
while read -r module; do
    qmldir="$qml_root/${module//.//}/qmldir"
    package="$(dpkg -S "$qmldir" 2>/dev/null | head -n 1 | cut -d: -f1)"
    if [ -z "$package" ]; then
        fail "QML module $module: no installed package holds $qmldir"
    elif ! grep -qx "$package" <<<"$depends"; then
        fail "QML module $module is imported but cantorella does not depend on $package"
    fi
done < <(grep -rhoE '^import (Qt[A-Za-z0-9.]*)' "$SOURCE/src" --include='*.qml' | awk '{ print $2 }' | sort -u)
pass "cantorella depends on the packages of its QML imports"

# ---- the server, from where it was unpacked -----------------------------------------------------

server="$ROOT/usr/bin/cantorella-server"
prompts="$ROOT/usr/share/cantorella-server/prompts"
"$server" --help >"$WORK/help.txt" || fail "cantorella-server --help"
grep -qF "default: $prompts" "$WORK/help.txt" || { grep -A1 -- --llm-prompts "$WORK/help.txt"; fail "--help does not name the unpacked prompts"; }

# The prompts are read at start when a language model is configured (never called here).
mkdir -p "$WORK/data"
"$server" --listen 127.0.0.1:0 --data "$WORK/data" --no-online --llm-url http://127.0.0.1:9/v1 --llm-model none \
    >"$WORK/server.log" 2>&1 &
server_pid=$!
for ((i = 0; i < 600; i++)); do
    grep -q 'language model:' "$WORK/server.log" && break
    kill -0 "$server_pid" 2>/dev/null || break
    sleep 0.1
done
if grep -q 'language model:' "$WORK/server.log"; then
    kill -TERM "$server_pid"
    wait "$server_pid" || fail "the unpacked server did not stop cleanly"
    pass "the unpacked server started with its prompts"
else
    cat "$WORK/server.log"
    fail "the unpacked server did not start with its prompts"
fi
server_pid=""
[ -f "$WORK/data/anon-key" ] || fail "the server generated no keys in its data folder"

# The unit, pointed at the unpacked program (verify checks that ExecStart can run).
unit="$ROOT/usr/lib/systemd/system/cantorella-server.service"
grep -qx 'ExecStart=/usr/bin/cantorella-server' "$unit" || fail "the unit does not start /usr/bin/cantorella-server"
mkdir -p "$WORK/units"
sed "s|^ExecStart=/usr/bin/|ExecStart=$ROOT/usr/bin/|" "$unit" >"$WORK/units/cantorella-server.service"
systemd-analyze verify "$WORK/units/cantorella-server.service" || fail "systemd-analyze verify"

if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed"
    exit 1
fi
echo "packages checked"
