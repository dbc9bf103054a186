#!/bin/sh
# Ignores SIGTERM (the disposition survives exec), so only SIGKILL ends it.
[ -n "$STUB_STATE_DIR" ] && echo call >> "$STUB_STATE_DIR/calls"
trap '' TERM
exec sleep 60
