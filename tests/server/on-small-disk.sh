#!/bin/sh
# Runs the server named by CANTORELLA_TEST_SERVER_BINARY with the command line given, its data
# folder (--data) on a file system of CANTORELLA_TEST_DISK_SIZE (e.g. 8m) of its own: a tmpfs
# mounted in a user and mount namespace of its own, so no privilege is needed and nothing
# outside sees it.
set -eu
data=""
previous=""
for argument in "$@"; do
    if [ "$previous" = "--data" ]; then data="$argument"; fi
    previous="$argument"
done
exec unshare --map-root-user --mount sh -c 'mount -t tmpfs -o size="$1" tmpfs "$2" && shift 2 && exec "$@"' \
    sh "$CANTORELLA_TEST_DISK_SIZE" "$data" "$CANTORELLA_TEST_SERVER_BINARY" "$@"
