#!/bin/sh
# Checks the output of make prompts: every name of prompts/prompts.tsv and
# prompts/digits.tsv has its WAV file, and each is 8 kHz, mono, 16-bit, not
# empty, and has at most 50 ms of silence (below 1% of full scale) at its
# start and at its end. Usage: tools/check-prompts.sh [OUT]   (default
# build/prompts)
set -eu
ROOT=$(cd "$(dirname "$0")/.." && pwd)
OUT=${1:-build/prompts}
exec python3 - "$ROOT/prompts" "$OUT" <<'PY'
import array, os, sys, wave
tables, out = sys.argv[1], sys.argv[2]
LIMIT_MS = 50
QUIET = 32768 // 100  # 1% of full scale, as tools/make-prompts.sh trims


def silence_ms(samples, rate):
    """Milliseconds of silence before the first and after the last sound."""
    loud = [index for index, sample in enumerate(samples) if abs(sample) >= QUIET]
    if not loud:
        return len(samples) * 1000 // rate, len(samples) * 1000 // rate
    return loud[0] * 1000 // rate, (len(samples) - 1 - loud[-1]) * 1000 // rate


bad = 0
checked = 0
longest = 0
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
                frames = audio.readframes(audio.getnframes())
        except (OSError, wave.Error) as failure:
            print("%s: %s" % (path, failure))
            bad += 1
            continue
        if shape != (8000, 1, 2, True):
            print("%s: %d Hz, %d channel(s), %d-byte samples, %s" %
                  (path, shape[0], shape[1], shape[2], "frames" if shape[3] else "no frames"))
            bad += 1
            continue
        samples = array.array("h", frames)
        if sys.byteorder == "big":
            samples.byteswap()
        lead, trail = silence_ms(samples, shape[0])
        longest = max(longest, lead, trail)
        if lead > LIMIT_MS or trail > LIMIT_MS:
            print("%s: %d ms of silence at the start, %d ms at the end (at most %d ms each)" %
                  (path, lead, trail, LIMIT_MS))
            bad += 1
print("%d prompt files checked, %d wrong; longest silence at a start or end %d ms" % (checked, bad, longest))
sys.exit(1 if bad else 0)
PY
