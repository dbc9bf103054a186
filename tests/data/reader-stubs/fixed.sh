#!/bin/sh
[ -n "$STUB_STATE_DIR" ] && echo call >> "$STUB_STATE_DIR/calls"
printf '%s\n' '{"t":"Fixed Song","a":"Stub Artist","l":"Stub Album","d":200,"e":10,"r":0,"ts":null,"b":"stub","dbgInfoKeys":["xesam:title"]}'
