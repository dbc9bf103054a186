#!/bin/sh
# Takes 0.4 s and notes any overlap with another run of itself.
[ -n "$STUB_STATE_DIR" ] && echo call >> "$STUB_STATE_DIR/calls"
mkdir "$STUB_STATE_DIR/running" 2>/dev/null || echo overlap >> "$STUB_STATE_DIR/overlaps"
sleep 0.4
rmdir "$STUB_STATE_DIR/running" 2>/dev/null
printf '%s\n' '{"t":"Slow Song","a":"Stub Artist","d":200,"e":10,"r":0}'
