#!/bin/sh
# Checks the output of make prompts: every name of prompts/prompts.tsv and
# prompts/digits.tsv has its WAV file, and each is 8 kHz, mono, 16-bit and
# not empty. Usage: tools/check-prompts.sh [OUT]   (default build/prompts)
set -eu
ROOT=$(cd "$(dirname "$0")/.." && pwd)
OUT=${1:-build/prompts}
exec python3 - "$ROOT/prompts" "$OUT" <<'PY'
import os, sys, wave
tables, out = sys.argv[1], sys.argv[2]
bad = 0
checked = 0
for table, folder in (("prompts.tsv", "audios"), ("digits.tsv", "sounds/pt_BR/digits")):
    for line in open(os.path.join(tables, table), encoding="utf-8"):
        if not line.strip() or line.startswith("#"):
            continue
        name = line.split("\t", 1)[0]
        path = os.path.join(out, folder, name + ".wav")
        checked += 1
        try:
            with wave.open(path, "rb") as audio:
                shape = (audio.getframerate(), audio.getnchannels(), audio.getsampwidth(), audio.getnframes() > 0)
        except (OSError, wave.Error) as failure:
            print("%s: %s" % (path, failure))
            bad += 1
            continue
        if shape != (8000, 1, 2, True):
            print("%s: %d Hz, %d channel(s), %d-byte samples, %s" %
                  (path, shape[0], shape[1], shape[2], "frames" if shape[3] else "no frames"))
            bad += 1
print("%d prompt files checked, %d wrong" % (checked, bad))
sys.exit(1 if bad else 0)
PY
