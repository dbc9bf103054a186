#!/usr/bin/env bash
# Installs what is missing, builds, and starts Cantorella with its local demo.
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
"$ROOT/scripts/install-deps.sh"
"$ROOT/scripts/build.sh"
exec "$ROOT/build/src/app/cantorella" "$@"
