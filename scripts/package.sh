#!/usr/bin/env bash
# Installs what is missing, builds, and makes the two Debian packages in build/packages/ (or
# $CANTORELLA_BUILD_DIR/packages/):
#   cantorella_VERSION_ARCH.deb         the desktop program, its menu entry, icon and metainfo
#   cantorella-server_VERSION_ARCH.deb  the server, its prompts and its systemd unit
# and checks them with lintian. Install them with: sudo apt install ./build/packages/*.deb
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
BUILD="${CANTORELLA_BUILD_DIR:-$ROOT/build}"
"$ROOT/scripts/install-deps.sh"
"$ROOT/scripts/build.sh"
rm -rf "$BUILD/packages"
cpack --config "$BUILD/CPackConfig.cmake" -B "$BUILD/packages"
# CPack's staging folders: only the packages stay.
rm -rf "$BUILD/packages/_CPack_Packages"
if ! lintian --fail-on error "$BUILD"/packages/*.deb; then
    echo "package.sh: lintian found errors in the packages" >&2
    exit 1
fi
ls -l "$BUILD"/packages/*.deb
