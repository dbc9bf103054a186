#!/bin/sh
[ -n "$STUB_STATE_DIR" ] && echo call >> "$STUB_STATE_DIR/calls"
printf '%s\n' 'this is not { json'
