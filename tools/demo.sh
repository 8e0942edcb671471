#!/bin/sh
# Sample calls in emulator mode: each starts the back-office simulator on a
# free loopback port with the example customers, runs ivr-orvel with a robot
# file standing in for the caller and Asterisk, then shows the program's
# exit status and every request the back office received.
#
# Without a robot file: a whole successful call, then a failed one (a
# blocked customer accepts the trust unlock, the back office refuses it).
# Usage: tools/demo.sh [build-dir] [robot-file]
# IVR=path runs another ivr-orvel (an unpacked package's, say) and
# EXAMPLES=dir takes the configuration and robots from another examples tree.
set -u

BUILD=${1:-build}
ROOT=$(cd "$(dirname "$0")/.." && pwd)
cd "$ROOT"

SIM="$BUILD/tools/backoffice-sim/backoffice-sim"
IVR=${IVR:-$BUILD/sites/orvel/ivr-orvel}
EXAMPLES=${EXAMPLES:-examples}
case "$IVR" in /*) ;; *) IVR="$ROOT/$IVR" ;; esac
WORK=$(mktemp -d)
SIM_PID=""

stop_simulator() {
    if [ -n "$SIM_PID" ]; then
        kill "$SIM_PID" 2>/dev/null || true
        wait "$SIM_PID" 2>/dev/null || true
        SIM_PID=""
    fi
}

cleanup() {
    stop_simulator
    rm -rf "$WORK"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

show_journal() {
    if command -v python3 >/dev/null 2>&1; then
        python3 - "$1" <<'PY'
import json, sys
for line in open(sys.argv[1], encoding="utf-8"):
    line = line.strip()
    if not line:
        continue
    entry = json.loads(line)
    body = entry.get("body") or ""
    print("%-4s %s -> %s %s" % (entry.get("method", "?"), entry.get("path", "?"),
                                entry.get("status", "?"), body.strip()))
PY
    else
        cat "$1"
    fi
}

# call TITLE ROBOT [SIMULATOR-OPTION...]: one call against a fresh simulator.
# Fails (status 1) only when the demo itself cannot run; the program's own
# exit status is shown, whatever it is.
call() {
    title=$1
    robot=$2
    shift 2
    : >"$WORK/journal.jsonl"
    "$SIM" --port 0 --data "$EXAMPLES/backoffice/customers.json" --token change-me \
        --journal "$WORK/journal.jsonl" "$@" >"$WORK/sim.out" 2>"$WORK/sim.err" &
    SIM_PID=$!

    port=""
    for _ in $(seq 1 50); do
        port=$(sed -n 's/^listening on 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$WORK/sim.out" | head -n 1)
        [ -n "$port" ] && break
        sleep 0.1
    done
    if [ -z "$port" ]; then
        echo "the back-office simulator did not start:" >&2
        cat "$WORK/sim.err" >&2
        stop_simulator
        return 1
    fi

    sed -e "s#http://127.0.0.1:8080#http://127.0.0.1:$port#" \
        -e "s#/var/log/asterisk/ivr-orvel-debug.log#$WORK/debug.log#" \
        "$EXAMPLES/config/orvel.json" >"$WORK/orvel.json"

    echo "== $title"
    echo "== back-office simulator on 127.0.0.1:$port${*:+ ($*)}, robot $robot"
    echo "== call trace (ivr-orvel -e -r $robot atendimento orvel.json)"
    status=0
    # A robot name with a "." is read from ./NAME: run beside the robot.
    (cd "$(dirname "$robot")" && "$IVR" -e -r "$(basename "$robot")" atendimento "$WORK/orvel.json") || status=$?

    echo
    echo "== requests received by the back office"
    show_journal "$WORK/journal.jsonl"
    echo
    echo "== ivr-orvel exited with status $status"
    stop_simulator
}

if [ $# -ge 2 ]; then
    call "call with robot $2" "$2"
    exit $?
fi

call "a whole call: customer identified by phone, invoice sent" \
    "$EXAMPLES/robots/identified-by-phone.xml" || exit 1
echo
call "a failed call: the back office refuses the trust unlock (answers 503)" \
    "$EXAMPLES/robots/blocked-trust-unlock.xml" --status unlock=503 || exit 1
