#!/bin/sh
# Sample calls in emulator mode: each starts the back-office simulator on a
# free loopback port with the example customers, runs the program with a
# robot file standing in for the caller and Asterisk, then shows the
# program's exit status and every request the back office received.
#
# A robot file is for ivr-orvel unless its first comment begins with the
# other program's name ("<!-- ivr-pelion: ..."); the program runs with its
# example configuration (examples/config/orvel.json or pelion.json).
# Without a robot file: a whole successful call, then a failed one (a
# blocked customer accepts the trust unlock, the back office refuses it).
# Usage: tools/demo.sh [build-dir] [robot-file]
# BIN=dir runs the programs of another folder (an unpacked package's
# usr/bin, say) and EXAMPLES=dir takes the configurations and robots from
# another examples tree.
set -u

BUILD=${1:-build}
ROOT=$(cd "$(dirname "$0")/.." && pwd)
cd "$ROOT"

SIM="$BUILD/tools/backoffice-sim/backoffice-sim"
BIN=${BIN:-}
EXAMPLES=${EXAMPLES:-examples}
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

# program ROBOT: the program the robot file is for.
program() {
    if head -n 5 "$1" | grep -q '<!-- *ivr-pelion:'; then echo ivr-pelion; else echo ivr-orvel; fi
}

# call TITLE ROBOT EXPECTED-EXIT [SIMULATOR-OPTION...]: one call against a
# simulator of its own, in a folder of its own (its port file, journal and
# configuration), so no call can read another's port. Fails (status 1) when
# the demo itself cannot run or, given an EXPECTED-EXIT, when the call did
# not end there; the program's own exit status is shown, whatever it is.
CALLS=0
call() {
    title=$1
    robot=$2
    expected=$3
    shift 3
    CALLS=$((CALLS + 1))
    here="$WORK/call-$CALLS"
    mkdir -p "$here"
    name=$(program "$robot")
    site=${name#ivr-}
    ivr=${BIN:+$BIN/$name}
    ivr=${ivr:-$BUILD/sites/$site/$name}
    case "$ivr" in /*) ;; *) ivr="$ROOT/$ivr" ;; esac
    : >"$here/journal.jsonl"
    : >"$here/sim.out"
    "$SIM" --port 0 --data "$EXAMPLES/backoffice/customers.json" --token change-me \
        --journal "$here/journal.jsonl" "$@" >"$here/sim.out" 2>"$here/sim.err" &
    SIM_PID=$!

    port=""
    for _ in $(seq 1 100); do
        port=$(sed -n 's/^listening on 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$here/sim.out" | head -n 1)
        [ -n "$port" ] && break
        kill -0 "$SIM_PID" 2>/dev/null || break
        sleep 0.1
    done
    if [ -z "$port" ]; then
        echo "demo: the back-office simulator for \"$title\" did not start:" >&2
        cat "$here/sim.err" >&2
        stop_simulator
        return 1
    fi

    sed -e "s#http://127.0.0.1:8080#http://127.0.0.1:$port#" \
        -e "s#/var/log/asterisk/$name-debug.log#$here/debug.log#" \
        -e "s#/var/lib/prometheus/node-exporter/$name.prom#$here/$name.prom#" \
        "$EXAMPLES/config/$site.json" >"$here/$site.json"

    echo "== $title"
    echo "== back-office simulator on 127.0.0.1:$port${*:+ ($*)}, robot $robot"
    echo "== call trace ($name -e -r $robot atendimento $site.json)"
    # The robot's absolute path is read as it stands: the call runs in its
    # own folder. The trace is kept to tell where the call ended.
    case "$robot" in /*) robot_path=$robot ;; *) robot_path="$ROOT/$robot" ;; esac
    (cd "$here" && "$ivr" -e -r "$robot_path" atendimento "$here/$site.json"; echo $? >"$here/status") |
        tee "$here/trace"
    status=$(cat "$here/status" 2>/dev/null || echo "?")

    echo
    echo "== requests received by the back office"
    show_journal "$here/journal.jsonl"
    echo
    echo "== $name exited with status $status"
    stop_simulator

    if [ -n "$expected" ]; then
        ended=$(sed -n 's/^goTo [^ ]* \([^ ]*\) 1$/\1/p' "$here/trace" | tail -n 1)
        if [ "$status" != 0 ] || [ "$ended" != "$expected" ]; then
            echo "demo: \"$title\" should end at $expected with status 0; it ended at ${ended:-no extension}" \
                "with status $status" >&2
            return 1
        fi
    fi
}

if [ $# -ge 2 ]; then
    call "call with robot $2" "$2" ""
    exit $?
fi

call "a whole call: customer identified by phone, invoice sent" \
    "$EXAMPLES/robots/identified-by-phone.xml" 50011 || exit 1
echo
call "a failed call: the back office refuses the trust unlock (answers 503)" \
    "$EXAMPLES/robots/blocked-trust-unlock.xml" 50019 --status unlock=503 || exit 1
