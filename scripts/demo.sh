#!/usr/bin/env bash
# Starts the Kestrix demo: the reference tracking server with a demo account, a generated
# drive replayed as a GPS receiver on a pseudo-terminal, and the daemon serving its page,
# running as tracker and logger. Run by `./dev run` after it has built the dev preset.
#   KESTRIX_BIN_DIR    folder of kestrix and kestrix-server (default build/dev/bin)
#   KESTRIX_DEMO_DIR   data folder (default build/demo-data)
#   KESTRIX_HTTP       address of the page (default 127.0.0.1:8787)
#   KESTRIX_SERVER     address of the tracking server (default 127.0.0.1:1201; a free port
#                      is taken when that one is busy)
#   KESTRIX_WEB        address of the tracking server's web pages (default 127.0.0.1:1280;
#                      likewise)
# Extra arguments go to `kestrix run` (for example --power-supply DIR).
set -euo pipefail
cd "$(dirname "$0")/.."

BIN=${KESTRIX_BIN_DIR:-build/dev/bin}
DATA=${KESTRIX_DEMO_DIR:-$PWD/build/demo-data}
HTTP=${KESTRIX_HTTP:-127.0.0.1:8787}
SERVER_ADDR=${KESTRIX_SERVER:-127.0.0.1:1201}
WEB_ADDR=${KESTRIX_WEB:-127.0.0.1:1280}
KESTRIX="$BIN/kestrix"
SERVER="$BIN/kestrix-server"

for program in "$KESTRIX" "$SERVER"; do
    if [ ! -x "$program" ]; then
        echo "demo: $program is missing; build first (./dev build)" >&2
        exit 1
    fi
done

mkdir -p "$DATA"
DATA=$(cd "$DATA" && pwd)
DB="$DATA/server.sqlite"
GPS="$DATA/gps0"

# Helpers started in the background (reference server, replayed receiver) are listed here
# and stopped, each with SIGTERM, when the demo ends however it ends.
HELPERS=()
KESTRIX_PID=
stop_all() {
    trap - INT TERM HUP
    if [ -n "$KESTRIX_PID" ]; then
        kill -TERM "$KESTRIX_PID" 2>/dev/null || true
        wait "$KESTRIX_PID" 2>/dev/null || true
    fi
    for pid in "${HELPERS[@]}"; do kill -TERM "$pid" 2>/dev/null || true; done
    for pid in "${HELPERS[@]}"; do wait "$pid" 2>/dev/null || true; done
}
trap stop_all EXIT
# Background jobs of a script ignore SIGINT, so Ctrl-C reaches them as this SIGTERM instead.
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP

# Waits up to 10 s for a condition; false when the process pid ended first or time ran out.
wait_until() {
    local pid=$1
    shift
    for _ in $(seq 100); do
        if "$@"; then return 0; fi
        kill -0 "$pid" 2>/dev/null || return 1
        sleep 0.1
    done
    return 1
}

# The reference server and its web pages, on their usual ports, or on free ones when those
# are taken.
SERVER_OUT="$DATA/server.out"
start_server() {
    : >"$SERVER_OUT"
    "$SERVER" --listen "$1" --web "$2" --db "$DB" >"$SERVER_OUT" 2>&1 &
    SERVER_PID=$!
    if wait_until "$SERVER_PID" grep -q '^web pages on ' "$SERVER_OUT"; then
        HELPERS+=("$SERVER_PID")
        return 0
    fi
    kill -TERM "$SERVER_PID" 2>/dev/null || true
    wait "$SERVER_PID" 2>/dev/null || true
    return 1
}
until start_server "$SERVER_ADDR" "$WEB_ADDR"; do
    why=$(cat "$SERVER_OUT")
    if [[ $why == *"web pages on $WEB_ADDR "* && ${WEB_ADDR##*:} != 0 ]]; then
        WEB_ADDR=${WEB_ADDR%:*}:0
    elif [[ $why == *"listen on $SERVER_ADDR:"* && ${SERVER_ADDR##*:} != 0 ]]; then
        SERVER_ADDR=${SERVER_ADDR%:*}:0
    else
        echo "demo: the tracking server did not start: $why" >&2
        exit 1
    fi
    echo "demo: $why; taking a free port" >&2
done
SERVER_ADDR=$(sed -n 's/^listening on //p' "$SERVER_OUT")
WEB_URL=$(sed -n 's/^web pages on //p' "$SERVER_OUT")
SERVER_HOST=${SERVER_ADDR%:*}
SERVER_PORT=${SERVER_ADDR##*:}

if ! out=$("$SERVER" --db "$DB" user add anna demo 2>&1); then
    case "$out" in
        *"already exists"*) ;;
        *) echo "demo: cannot add the demo account: $out" >&2; exit 1 ;;
    esac
fi

# A drive replayed in a loop at receiver pace, made again each UTC day, starting then, so that
# the page's map shows it as today's track.
TODAY=$(date -u +%Y-%m-%d)
if [ ! -s "$DATA/drive.nmea" ] || [ "$(cat "$DATA/drive.day" 2>/dev/null)" != "$TODAY" ]; then
    "$KESTRIX" nmea generate --seconds 3600 --start "$(date -u +%Y-%m-%dT%H:%M:%S)" >"$DATA/drive.nmea.tmp"
    mv "$DATA/drive.nmea.tmp" "$DATA/drive.nmea"
    echo "$TODAY" >"$DATA/drive.day"
fi
# A link left by an earlier run points at a terminal that is gone; the replay makes a new one.
if [ -L "$GPS" ]; then rm -f "$GPS"; fi
"$KESTRIX" nmea replay "$DATA/drive.nmea" --pty "$GPS" --loop 2>"$DATA/replay.out" &
REPLAY_PID=$!
HELPERS+=("$REPLAY_PID")
if ! wait_until "$REPLAY_PID" test -L "$GPS"; then
    echo "demo: the replayed receiver did not start: $(cat "$DATA/replay.out")" >&2
    exit 1
fi

set_config() { "$KESTRIX" config --data-dir "$DATA" set "$1" "$2"; }
set_config Login anna
set_config Password demo
set_config COM "$GPS"
set_config Host "$SERVER_HOST"
set_config Port "$SERVER_PORT"
set_config ModeP 3
set_config ModeB 3

echo "demo: data folder $DATA (settings in $DATA/registry.reg, track log $DATA/anna.log)"
echo "demo: receiver $GPS replays $DATA/drive.nmea; tracking server $SERVER_ADDR (database $DB)"
echo "demo: see what the server received: $SERVER --db $DB export anna"
echo "demo: the server's web pages (its users, and a form for new accounts): $WEB_URL"
if [ "${WEB_URL%/}" != "http://$SERVER_HOST:1280" ]; then
    echo "demo: the tracker's account and home-page links lead to http://$SERVER_HOST:1280/, not there" >&2
fi
echo "demo: open the address kestrix prints below in a browser; stop with Ctrl-C"
# SIGTERM makes kestrix shut down cleanly (settings saved, log closed); the helpers stop after it.
"$KESTRIX" run --data-dir "$DATA" --http "$HTTP" "$@" &
KESTRIX_PID=$!
status=0
wait "$KESTRIX_PID" || status=$?
KESTRIX_PID=
exit "$status"
