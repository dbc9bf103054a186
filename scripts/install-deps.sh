#!/usr/bin/env bash
# Installs every Debian 12 package that building, running and testing Cantorella needs.
# Idempotent and non-interactive; does nothing when everything is already there.
set -euo pipefail

PACKAGES=(
    # build
    cmake ninja-build ccache g++ pkg-config
    qt6-base-dev qt6-base-private-dev qt6-declarative-dev qt6-shadertools-dev qt6-httpserver-dev
    qt6-5compat-dev qt6-svg-dev
    qcoro-qt6-dev qtkeychain-qt6-dev libsqlite3-dev libbenchmark-dev rapidjson-dev
    # run time (recommendations that the build does not pull in)
    libsecret-1-0 libqt6sql6-sqlite
    qml6-module-qtqml qml6-module-qtqml-workerscript qml6-module-qtqml-models
    qml6-module-qtquick qml6-module-qtquick-window qml6-module-qtquick-controls qml6-module-qtquick-templates
    qml6-module-qtquick-layouts qml6-module-qtquick-particles qml6-module-qtquick-shapes
    qml6-module-qtquick-dialogs qml6-module-qt5compat-graphicaleffects qml6-module-qttest
    fonts-noto-cjk fonts-noto-color-emoji qt6-translations-l10n
    # headless display, session bus, accessibility bus, secret service, demo player and its
    # spoken demo songs
    xvfb xauth libgl1-mesa-dri libegl-mesa0 dbus-daemon dbus-bin at-spi2-core gnome-keyring
    mpv mpv-mpris playerctl sox libsox-fmt-base espeak-ng
    # the server: HTTP in (Boost.Beast), HTTP out, PostgreSQL, passwords and tokens, language
    # detection; cpp-httplib for the fakes of the server's tests
    libboost-dev libcpp-httplib-dev libcurl4-openssl-dev libpqxx-dev libsodium-dev libjwt-dev libcld2-dev
    # a real PostgreSQL for the server's tests; wrk and nginx for its load benchmark
    postgresql-15 wrk nginx-light
    # profiles the measuring scripts take on request (measure-cpu.sh -p, measure-memory.sh -H)
    linux-perf heaptrack
    # packaging (scripts/package.sh, the packaging test): the icon's pixel sizes, the Debian
    # packages' dependencies and checks, desktop entry, metainfo and unit validators
    librsvg2-bin dpkg-dev lintian desktop-file-utils appstream systemd
    # the measuring scripts: measure-motion.sh records the window and scrolls it with the wheel;
    # measure-memory.sh gives the window the input focus
    ffmpeg xdotool
)

missing=()
for p in "${PACKAGES[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    echo "install-deps: all ${#PACKAGES[@]} packages present"
    exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
