#!/bin/sh
# Runs the benchmark against a Release build: ivr-orvel beside bench-floor,
# a whole call against the back-office simulator, concurrent calls, and the
# caller's wait with slow, silent and refusing back offices.
# Usage: bench/run.sh [build-dir] [ivr_bench options, e.g. --runs 20 --calls 200 --rounds 5]
#        bench/run.sh build-release --only caller-wait   (that table alone, about 4 minutes)
# The work files go to a temporary directory, kept only when a check fails.
set -eu

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${1:-build-release}
[ $# -gt 0 ] && shift
case "$BUILD" in
    /*) ;;
    *) BUILD="$ROOT/$BUILD" ;;
esac
cd "$ROOT"

for program in bench/ivr_bench bench/bench-floor bench/bench-metrics-file bench/bench-spool sites/orvel/ivr-orvel \
    tools/backoffice-sim/backoffice-sim; do
    if [ ! -x "$BUILD/$program" ]; then
        echo "bench/run.sh: $BUILD/$program is missing; build it first (make bench)" >&2
        exit 1
    fi
done

# The driver bounds every call and batch itself; this outer bound only
# guards against the driver hanging.
status=0
timeout --kill-after=10 1200 "$BUILD/bench/ivr_bench" \
    --ivr "$BUILD/sites/orvel/ivr-orvel" \
    --floor "$BUILD/bench/bench-floor" \
    --sim "$BUILD/tools/backoffice-sim/backoffice-sim" \
    --config examples/config/orvel.json \
    --data examples/backoffice/customers.json \
    --runs 20 --calls 200 --rounds 5 "$@" || status=1

case " $* " in
    *" --only "*) exit $status ;;
esac
# What each call Asterisk starts pays after the hand-back for metricsFile.
timeout --kill-after=10 120 "$BUILD/bench/bench-metrics-file" || status=1
# The record spool empty and with a million records of ten back offices.
timeout --kill-after=10 900 "$BUILD/bench/bench-spool" || status=1
# Whole calls during an outage, empty spool beside a million records, and a
# burst of FastAGI calls that must leave every record in the spool.
timeout --kill-after=10 1800 python3 bench/outage_bench.py --build "$BUILD" || status=1
# The same calls served by one FastAGI service, beside the figures above.
timeout --kill-after=10 600 python3 bench/fastagi_bench.py --build "$BUILD" || status=1
exit $status
