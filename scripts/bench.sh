#!/usr/bin/env bash
# Runs every benchmark of the release build: the Google Benchmark programs, then each
# bench/*.sh comparison script. Speeds are reported as ratios within one run.
set -euo pipefail
cd "$(dirname "$0")/.."
status=0
for b in build/release/bench/bench_*; do
    [ -x "$b" ] || continue
    echo "== $(basename "$b")"
    "$b" || status=1
done
for s in bench/*.sh; do
    [ -f "$s" ] || continue
    echo "== $(basename "$s")"
    bash "$s" build/release || status=1
done
exit $status
