#!/bin/sh
# A well-formed answer, but the exit status says the read failed.
[ -n "$STUB_STATE_DIR" ] && echo call >> "$STUB_STATE_DIR/calls"
printf '%s\n' '{"t":"Should Not Count","r":1}'
exit 3
