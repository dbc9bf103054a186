#!/bin/sh
# A valid answer of about 300 kB: more than a pipe holds, so the source must read while the
# child still writes.
[ -n "$STUB_STATE_DIR" ] && echo call >> "$STUB_STATE_DIR/calls"
printf '{"t":"Large Song","a":"Big","l":"","d":100,"e":1,"r":0,"dbgInfoKeys":["'
head -c 300000 /dev/zero | tr '\0' 'k'
printf '"]}\n'
