#!/usr/bin/env bash
# Starts the Kestrix demo: a data folder with a demo account, then the daemon serving its
# page. Run by `./dev run` after it has built the dev preset.
#   KESTRIX_DEMO_DIR   data folder (default build/demo-data)
#   KESTRIX_HTTP       address of the page (default 127.0.0.1:8787)
#   KESTRIX_DEMO_PORT  GPS port to use (default: a placeholder until a receiver is replayed)
# Extra arguments go to `kestrix run` (for example --power-supply DIR).
set -euo pipefail
cd "$(dirname "$0")/.."

BIN=${KESTRIX_BIN_DIR:-build/dev/bin}
DATA=${KESTRIX_DEMO_DIR:-$PWD/build/demo-data}
HTTP=${KESTRIX_HTTP:-127.0.0.1:8787}
KESTRIX="$BIN/kestrix"

if [ ! -x "$KESTRIX" ]; then
    echo "demo: $KESTRIX is missing; build first (./dev build)" >&2
    exit 1
fi

# Helpers started in the background (reference server, replayed receiver) are listed here
# and stopped when the demo ends.
HELPERS=()
stop_helpers() {
    for pid in "${HELPERS[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
}
trap stop_helpers EXIT

mkdir -p "$DATA"
"$KESTRIX" config --data-dir "$DATA" set Login anna
"$KESTRIX" config --data-dir "$DATA" set Password demo
"$KESTRIX" config --data-dir "$DATA" set COM "${KESTRIX_DEMO_PORT:-/dev/null}"

echo "demo: data folder $DATA (settings in $DATA/registry.reg, track log $DATA/anna.log)"
echo "demo: open http://$HTTP/ in a browser; stop with Ctrl-C"
# Ctrl-C or SIGTERM to this script becomes a SIGTERM to kestrix, which shuts down cleanly
# (settings saved, log closed); the helpers stop after it.
"$KESTRIX" run --data-dir "$DATA" --http "$HTTP" "$@" &
KESTRIX_PID=$!
trap 'kill -TERM "$KESTRIX_PID" 2>/dev/null || true' INT TERM
status=0
while kill -0 "$KESTRIX_PID" 2>/dev/null; do
    if wait "$KESTRIX_PID"; then status=0; else status=$?; fi
done
exit "$status"
