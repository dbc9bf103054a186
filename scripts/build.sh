#!/usr/bin/env bash
# Configures (once) and builds everything into build/ at the repository root, or into
# $CANTORELLA_BUILD_DIR when that is set (an existing build folder is built as it is configured).
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
BUILD="${CANTORELLA_BUILD_DIR:-$ROOT/build}"
cd "$ROOT"
LAUNCHER=()
if command -v ccache >/dev/null; then LAUNCHER=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache); fi
if [ ! -f "$BUILD/build.ninja" ]; then
    cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${LAUNCHER[@]}"
fi
cmake --build "$BUILD" --parallel "$(nproc)"
