#!/bin/sh
# Never stops printing.
[ -n "$STUB_STATE_DIR" ] && echo call >> "$STUB_STATE_DIR/calls"
exec yes '{"t":"Flood","a":"x","l":"y","d":1,"e":0,"r":1}'
