#!/bin/sh
# Placeholder prompts, so a first test call says something: speaks every
# text of prompts/prompts.tsv (the prompts of the call flow) into
# OUT/audios/NAME.wav and every text of prompts/digits.tsv (what Asterisk's
# Portuguese SAY NUMBER plays) into OUT/sounds/pt_BR/digits/NAME.wav, with
# espeak-ng (voice pt-br) and sox: 8 kHz, mono, 16-bit, as Asterisk plays
# them best. Studio recordings replace them before going live.
# Usage: tools/make-prompts.sh [OUT]   (default build/prompts)
set -eu

ROOT=$(cd "$(dirname "$0")/.." && pwd)
OUT=${1:-build/prompts}
mkdir -p "$OUT/audios" "$OUT/sounds/pt_BR/digits"
SPOKEN=$(mktemp)
trap 'rm -f "$SPOKEN"' EXIT INT TERM
TAB=$(printf '\t')

# speak TABLE DIR: one WAV per "NAME<TAB>TEXT" line ("#" lines are notes).
speak() {
    count=0
    while IFS="$TAB" read -r name text; do
        case "$name" in '' | '#'*) continue ;; esac
        espeak-ng -v pt-br -s 150 -w "$SPOKEN" -- "$text"
        sox "$SPOKEN" -r 8000 -c 1 -b 16 -e signed-integer "$2/$name.wav"
        count=$((count + 1))
    done <"$1"
    echo "$count files in $2"
}

speak "$ROOT/prompts/prompts.tsv" "$OUT/audios"
speak "$ROOT/prompts/digits.tsv" "$OUT/sounds/pt_BR/digits"
