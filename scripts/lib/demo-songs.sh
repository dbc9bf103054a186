#!/usr/bin/env bash
# Makes the demo's audio: for every song folder of CONTENT (meta.json + lyrics.lrc), OUT/<folder>.ogg,
# a tagged file that speaks each lyric line at its time stamp (so the line that lights is the line
# you hear). A file newer than its sources and this script is kept. The build runs this (target
# cantorella_demo_songs); scripts/run.sh runs it again only when it builds.
#
#   demo-songs.sh CONTENT OUT [NAME]    (with NAME, only the song of folder CONTENT/NAME)
set -euo pipefail
CONTENT="$1"
OUT="$2"
ONLY="${3:-}"
SELF="${BASH_SOURCE[0]}"
SCRATCH="$(mktemp -d)"
trap 'rm -rf "$SCRATCH"' EXIT

# The value of a string or number member of a flat, one-member-a-line JSON object: json_value FILE KEY.
json_value() {
    sed -n -e "s/^[[:space:]]*\"$2\"[[:space:]]*:[[:space:]]*\"\(.*\)\"[[:space:]]*,\{0,1\}[[:space:]]*$/\1/p" \
        -e "s/^[[:space:]]*\"$2\"[[:space:]]*:[[:space:]]*\([-0-9.eE+]*\)[[:space:]]*,\{0,1\}[[:space:]]*$/\1/p" "$1" | head -n 1
}

# "seconds<TAB>text" for every stamped lyric line with text, one per stamp, in time order.
lrc_lines() {
    awk '
        /^\[[a-z]+:/ { next }                       # ID tags
        {
            line = $0; n = 0
            while (match(line, /^\[[0-9]+:[0-9]+(\.[0-9]+)?\]/)) {
                stamp = substr(line, 2, RLENGTH - 2)
                split(stamp, part, ":")
                times[++n] = part[1] * 60 + part[2]
                line = substr(line, RLENGTH + 1)
            }
            gsub(/^[ \t]+|[ \t\r]+$/, "", line)
            if (line == "") next
            for (i = 1; i <= n; i++) printf "%.2f\t%s\n", times[i], line
        }' "$1" | sort -n -k1,1
}

make_song() {
    local folder="$1" out="$2"
    if [ -f "$out" ] && [ "$out" -nt "$folder/lyrics.lrc" ] && [ "$out" -nt "$folder/meta.json" ] \
        && [ "$out" -nt "$SELF" ]; then
        return
    fi
    local title artist album duration language work
    title="$(json_value "$folder/meta.json" title)"
    artist="$(json_value "$folder/meta.json" artist)"
    album="$(json_value "$folder/meta.json" album)"
    duration="$(json_value "$folder/meta.json" duration)"
    language="$(json_value "$folder/meta.json" language)"
    work="$SCRATCH/$(basename "$folder")"
    mkdir -p "$work"
    sox -n -r 22050 -c 1 "$work/base.wav" trim 0 "$duration"
    local inputs=(-v 1 "$work/base.wav") i=0 start text next gap lines
    mapfile -t lines < <(lrc_lines "$folder/lyrics.lrc")
    for ((i = 0; i < ${#lines[@]}; i++)); do
        start="${lines[i]%%$'\t'*}"
        text="${lines[i]#*$'\t'}"
        if ((i + 1 < ${#lines[@]})); then next="${lines[i + 1]%%$'\t'*}"; else next="$duration"; fi
        gap="$(awk -v a="$start" -v b="$next" 'BEGIN { g = b - a - 0.1; if (g < 0.3) g = 0.3; printf "%.2f", g }')"
        printf '%s' "$text" | espeak-ng -v "${language:-en}" -s 150 --stdin -w "$work/say.wav"
        # Each line: spoken, cut off before the next line starts, moved to its time stamp.
        sox -V1 "$work/say.wav" -r 22050 -c 1 "$work/line$i.wav" trim 0 "$gap" pad "$start"
        inputs+=(-v 1 "$work/line$i.wav")
    done
    sox -m "${inputs[@]}" --comment "TITLE=$title" --add-comment "ARTIST=$artist" \
        --add-comment "ALBUM=$album" "$out.tmp.ogg" trim 0 "$duration"
    mv "$out.tmp.ogg" "$out"
}

mkdir -p "$OUT"
for folder in "$CONTENT"/*/; do
    [ -f "$folder/meta.json" ] || continue
    [ -z "$ONLY" ] || [ "$(basename "$folder")" = "$ONLY" ] || continue
    make_song "${folder%/}" "$OUT/$(basename "$folder").ogg"
done
