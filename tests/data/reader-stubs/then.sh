#!/bin/sh
# Call 1 prints the fixed track; call n runs the (n-1)th stub named in $STUB_NEXT (file names in
# this folder, separated by spaces), the last one repeating.
echo call >> "$STUB_STATE_DIR/calls"
calls=$(wc -l < "$STUB_STATE_DIR/calls")
here=$(dirname "$0")
if [ "$calls" -eq 1 ]; then
    STUB_STATE_DIR= exec "$here/fixed.sh"
fi
i=1
for stub in $STUB_NEXT; do
    pick=$stub
    i=$((i + 1))
    [ "$i" -ge "$calls" ] && break
done
STUB_STATE_DIR= exec "$here/$pick"
