#!/bin/sh
# Runs one step of a make target with its output kept in a log file and
# shows one line for it; on failure, the end of the log and the status.
# Usage: tools/quiet-step.sh TITLE LOG COMMAND [ARGUMENT...]
set -u
title=$1
log=$2
shift 2
mkdir -p "$(dirname "$log")"
printf '== %s ... ' "$title"
if "$@" >"$log" 2>&1; then
    echo "done"
    exit 0
else
    status=$?
fi
echo "failed (status $status); the end of $log:"
tail -n 40 "$log"
exit "$status"
