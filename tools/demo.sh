#!/bin/sh
# A whole sample call in emulator mode: starts the back-office simulator on a
# free loopback port with the example customers, runs ivr-orvel with a robot
# file standing in for the caller and Asterisk, then shows what the back
# office received. Usage: tools/demo.sh [build-dir] [robot-file]
set -eu

BUILD=${1:-build}
ROBOT=${2:-examples/robots/identified-by-phone.xml}
ROOT=$(cd "$(dirname "$0")/.." && pwd)
cd "$ROOT"

SIM="$BUILD/tools/backoffice-sim/backoffice-sim"
IVR="$BUILD/sites/orvel/ivr-orvel"
WORK=$(mktemp -d)
SIM_PID=""

cleanup() {
    if [ -n "$SIM_PID" ]; then
        kill "$SIM_PID" 2>/dev/null || true
        wait "$SIM_PID" 2>/dev/null || true
    fi
    rm -rf "$WORK"
}
trap cleanup EXIT INT TERM

"$SIM" --port 0 --data examples/backoffice/customers.json --token change-me \
    --journal "$WORK/journal.jsonl" >"$WORK/sim.out" 2>"$WORK/sim.err" &
SIM_PID=$!

PORT=""
for _ in $(seq 1 50); do
    PORT=$(sed -n 's/^listening on 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$WORK/sim.out" | head -n 1)
    [ -n "$PORT" ] && break
    sleep 0.1
done
if [ -z "$PORT" ]; then
    echo "the back-office simulator did not start:" >&2
    cat "$WORK/sim.err" >&2
    exit 1
fi

sed -e "s#http://127.0.0.1:8080#http://127.0.0.1:$PORT#" \
    -e "s#/var/log/asterisk/ivr-orvel-debug.log#$WORK/debug.log#" \
    examples/config/orvel.json >"$WORK/orvel.json"

echo "== back-office simulator on 127.0.0.1:$PORT, robot $ROBOT"
echo "== call trace (ivr-orvel -e -r $ROBOT atendimento orvel.json)"
"$IVR" -e -r "$ROBOT" atendimento "$WORK/orvel.json"
STATUS=$?

echo
echo "== requests received by the back office"
if command -v python3 >/dev/null 2>&1; then
    python3 - "$WORK/journal.jsonl" <<'PY'
import json, sys
for line in open(sys.argv[1], encoding="utf-8"):
    line = line.strip()
    if not line:
        continue
    entry = json.loads(line)
    body = entry.get("body") or ""
    print("%-4s %s %s" % (entry.get("method", "?"), entry.get("path", "?"), body.strip()))
PY
else
    cat "$WORK/journal.jsonl"
fi
echo
echo "== ivr-orvel exited with status $STATUS"
