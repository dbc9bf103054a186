#!/usr/bin/env bash
# Builds the two Debian packages from this build's install rules, unpacks them into a throw-away
# root (dpkg -x) and checks them there as a user and an operator would meet them:
#   - lintian finds no error; the maintainer scripts parse; the unit is valid;
#   - every file an installation needs is where the programs look for it;
#   - the desktop entry and the metainfo validate, and name the installed program and icon;
#   - cantorella depends on the package of every Qt QML module its screens import (the
#     dependencies shared-library analysis cannot see);
#   - the programs' libraries resolve; the unpacked server shows and loads its own prompt files;
#   - the programs are hardened and stripped as Debian's own (lintian shows no hardening tag);
#   - each manual page lists every option and variable its program's --help lists;
#   - the server package's scripts, run into a throw-away root: the data folder before the user,
#     the desktop program's settings published on a first installation (mode 0644, the local
#     address and the key the server reads), kept on an upgrade, removed on purge.
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

# With the informational tags, where the hardening ones are.
if lintian --display-info --fail-on error "$APP_DEB" "$SERVER_DEB" >"$WORK/lintian.log" 2>&1; then
    pass "lintian: no error"
else
    cat "$WORK/lintian.log"
    fail "lintian"
fi
if grep -E 'hardening-|binary-has-unneeded-section' "$WORK/lintian.log"; then
    fail "lintian: the programs are not hardened or not stripped as Debian's"
else
    pass "lintian: no hardening or unneeded-section tag"
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
# Its hints too (two main categories list the program twice in a menu).
validation="$(desktop-file-validate "$desktop" 2>&1)" && [ -z "$validation" ] \
    || fail "desktop-file-validate: $validation"
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

# ---- the server package's scripts, into a throw-away root ---------------------------------------

# The commands that would change the machine record their calls instead; adduser notes whether the
# home folder it is given exists already (adduser warns when it does not).
STUBS="$WORK/stubs"
mkdir -p "$STUBS"
for command in getent chown deb-systemd-helper systemctl deb-systemd-invoke; do
    printf '#!/bin/sh\necho "%s $*" >>"$CALLS"\n[ "%s" != getent ]\n' "$command" "$command" >"$STUBS/$command"
done
printf '#!/bin/sh\nfor a; do home=$a; [ "$prev" = --home ] && break; prev=$a; done\n[ -d "$DPKG_ROOT$home" ] && echo "adduser: home present" >>"$CALLS" || echo "adduser: home missing" >>"$CALLS"\n' \
    >"$STUBS/adduser"
chmod +x "$STUBS"/*
# Runs a maintainer script of the server package in the throw-away root TARGET.
script() {
    local target="$1" name="$2"
    shift 2
    DPKG_ROOT="$target" CALLS="$target/calls" PATH="$STUBS:$PATH" sh "$WORK/control/$name" "$@" >>"$target/output"
}
settings=etc/xdg/com.cantorella/Cantorella.conf
# scenario | scripts run, ";"-separated | settings file expected
while IFS='|' read -r scenario runs expected; do
    target="$WORK/scripts-$scenario"
    mkdir -p "$target"
    [ "$scenario" = operator-unit ] && mkdir -p "$target/etc/systemd/system/cantorella-server.service.d" \
        && touch "$target/etc/systemd/system/cantorella-server.service.d/override.conf"
    IFS=';' read -ra steps <<<"$runs"
    for step in "${steps[@]}"; do
        # shellcheck disable=SC2086
        script "$target" $step || fail "$scenario: $step failed"
    done
    grep -qx 'adduser: home present' "$target/calls" || fail "$scenario: the user was made before its home folder"
    file="$target/$settings"
    if [ "$expected" = none ]; then
        [ ! -e "$file" ] || fail "$scenario: $settings was written"
        continue
    fi
    [ -f "$file" ] || { fail "$scenario: no $settings"; continue; }
    [ "$(stat -c %a "$file")" = 644 ] || fail "$scenario: $settings has mode $(stat -c %a "$file")"
    [ "$(stat -c %a "$target/var/lib/cantorella-server")" = 700 ] || fail "$scenario: the data folder is not 0700"
    [ "$(stat -c %a "$target/var/lib/cantorella-server/anon-key")" = 600 ] || fail "$scenario: anon-key is not 0600"
    key="$(cat "$target/var/lib/cantorella-server/anon-key")"
    [ "${#key}" = 43 ] || fail "$scenario: anon-key is not 32 bytes in base64url"
    published="$(sed -n '/^\[Server\]$/,$p' "$file" | grep -v '^\[')"
    [ "$published" = "CANTORELLA_API_BASE_URL=http://127.0.0.1:8787
CANTORELLA_AUTH_BASE_URL=http://127.0.0.1:8787
CANTORELLA_AUTH_ANON_KEY=$key" ] || fail "$scenario: $settings holds: $published"
    [ ! -e "$target/var/lib/cantorella-server/token-key" ] || fail "$scenario: the token key was made outside the server"
done <<'CASES'
first-installation|postinst configure|published
reinstallation|postinst configure;postinst configure 0.1|published
operator-unit|postinst configure|none
purged|postinst configure;postrm purge|none
CASES
# The unit expects the key where the postinst put it, and the server reads it from there.
grep -qx 'Environment=CANTORELLA_SERVER_DATA=/var/lib/cantorella-server' "$ROOT/usr/lib/systemd/system/cantorella-server.service" \
    || fail "the unit's data folder is not the one the postinst publishes the key of"
grep -q '^CANTORELLA_API_BASE_URL=http://127.0.0.1:8787$' "$WORK/scripts-first-installation/$settings" \
    && grep -qx 'Environment=CANTORELLA_SERVER_LISTEN=127.0.0.1:8787' "$ROOT/usr/lib/systemd/system/cantorella-server.service" \
    || fail "the published address is not the one the unit listens on"
pass "the server package's scripts publish the local server for the desktop program"

# ---- the server, from where it was unpacked -----------------------------------------------------

server="$ROOT/usr/bin/cantorella-server"
prompts="$ROOT/usr/share/cantorella-server/prompts"
"$server" --help >"$WORK/help.txt" || fail "cantorella-server --help"
grep -qF "default: $prompts" "$WORK/help.txt" || { grep -A1 -- --llm-prompts "$WORK/help.txt"; fail "--help does not name the unpacked prompts"; }

# The prompts are read at start when a language model is configured (never called here). The data
# folder is the one the package's scripts made: the server takes the key they published.
data="$WORK/scripts-first-installation/var/lib/cantorella-server"
"$server" --listen 127.0.0.1:0 --data "$data" --no-online --llm-url http://127.0.0.1:9/v1 --llm-model none \
    >"$WORK/server.log" 2>&1 &
server_pid=$!
for ((i = 0; i < 600; i++)); do
    grep -q 'language model:' "$WORK/server.log" && break
    kill -0 "$server_pid" 2>/dev/null || break
    sleep 0.1
done
if grep -q 'language model:' "$WORK/server.log"; then
    origin="$(sed -n 's/.*listening on \(http:[^ ]*\).*/\1/p' "$WORK/server.log" | head -n 1)"
    key="$(sed -n 's/^CANTORELLA_AUTH_ANON_KEY=//p' "$WORK/scripts-first-installation/$settings")"
    status="$(curl -s --max-time 30 -o /dev/null -w '%{http_code}' -H "apikey: $key" -H 'Content-Type: application/json' \
        --data '{"email":"ada@example.com","password":"secret-1"}' "$origin/auth/v1/signup")"
    [ "$status" = 200 ] || fail "a sign-up with the published key got $status from $origin"
    kill -TERM "$server_pid"
    wait "$server_pid" || fail "the unpacked server did not stop cleanly"
    pass "the unpacked server started with its prompts"
else
    cat "$WORK/server.log"
    fail "the unpacked server did not start with its prompts"
fi
server_pid=""
[ -f "$data/token-key" ] || fail "the server generated no token key in its data folder"

# ---- manual pages: every option and variable of --help ------------------------------------------

# One row per name --help lists (an option, or a variable that sets something), looked for as a
# whole word in the page's source without its font changes and dash escapes.
"$ROOT/usr/bin/cantorella" --help >"$WORK/app-help.txt" || fail "cantorella --help"
for program in cantorella cantorella-server; do
    page="$ROOT/usr/share/man/man1/$program.1.gz"
    zcat "$page" >"$WORK/$program.1"
    sed 's/\\f[BIRP]//g; s/\\-/-/g' "$WORK/$program.1" >"$WORK/$program.words"
    warnings="$(LC_ALL=C.UTF-8 MANWIDTH=100 man --warnings -l "$WORK/$program.1" 2>&1 >/dev/null)" \
        && [ -z "$warnings" ] || fail "man $program: $warnings"
    help="$WORK/help.txt"
    [ "$program" = cantorella ] && help="$WORK/app-help.txt"
    rows=0
    while read -r name; do
        rows=$((rows + 1))
        grep -qE -- "(^|[^A-Za-z0-9_-])$name([^A-Za-z0-9_-]|\$)" "$WORK/$program.words" \
            || fail "man $program does not document $name"
    done < <(grep -oE -- '^  (--[a-z][a-z-]*|CANTORELLA_[A-Z_]+)|\(CANTORELLA_[A-Z_]+\)' "$help" | tr -d ' ()' | sort -u)
    [ "$rows" -gt 5 ] || fail "$program --help lists $rows settings"
done
# Every variable the program's sources read is one --help lists.
while read -r variable; do
    grep -q "^  $variable\$" "$WORK/app-help.txt" || fail "cantorella reads $variable, which --help does not list"
done < <(grep -rhoE '"CANTORELLA_[A-Z_]+"' "$SOURCE/src" --include='*.cpp' --include='*.h' --exclude-dir=server \
    | tr -d '"' | sort -u)
pass "manual pages list every setting of --help"

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
