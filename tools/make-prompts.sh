#!/bin/sh
# Placeholder prompts, so a first test call says something: speaks every
# text of prompts/prompts.tsv (the prompts of the call flow) into
# OUT/audios/NAME.wav and every text of prompts/digits.tsv (what Asterisk's
# Portuguese SAY NUMBER plays) into OUT/sounds/pt_BR/digits/NAME.wav, with
# espeak-ng (voice pt-br) and sox: 8 kHz, mono, 16-bit, as Asterisk plays
# them best, with the synthesiser's leading and trailing silence cut to
# 20 ms (tools/check-prompts.sh allows 50 ms): Asterisk plays the digits of
# a number one file after another, and a pause inside "setecentos e sete"
# sounds like the end of it. Studio recordings replace them before going live.
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
        # Until 5 ms above 1% of full scale (the check's threshold) is
        # silence, cut at both ends (the second cut on the reversed sound).
        sox "$SPOKEN" -r 8000 -c 1 -b 16 -e signed-integer "$2/$name.wav" \
            silence 1 0.005 1% reverse silence 1 0.005 1% reverse pad 0.02 0.02
        count=$((count + 1))
    done <"$1"
    echo "$count files in $2"
}

speak "$ROOT/prompts/prompts.tsv" "$OUT/audios"
speak "$ROOT/prompts/digits.tsv" "$OUT/sounds/pt_BR/digits"
