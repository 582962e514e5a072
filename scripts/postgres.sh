#!/bin/sh
# PostgreSQL clusters of their own for the tests and the benchmarks: each in a folder,
# listening only on a Unix socket in that folder (no TCP port to collide with anyone's),
# with trust authentication for the role kestrix. initdb and the server refuse to run as
# root, so as root they run as the system user postgres (or nobody), which owns the folder.
#
#   postgres.sh start DIR [--durable]  makes a cluster in DIR unless there is one, starts it
#                                      and writes DIR/uri (the maintenance database's URI).
#                                      Without a fast flag the cluster syncs as a real server
#                                      does; tests run without fsync. Where this machine has no
#                                      PostgreSQL server it writes DIR/unavailable instead and
#                                      exits 0.
#   postgres.sh stop DIR               stops it at once (as a crash would), keeping its data
#   postgres.sh setup RECORD           a temporary root folder, named in the file RECORD, with a
#                                      started cluster in ROOT/shared (what the tests share)
#   postgres.sh teardown RECORD        stops every cluster under that root and removes it
set -eu

bindir() {
    for d in "$(pg_config --bindir 2>/dev/null || true)" $(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V -r); do
        [ -n "$d" ] && [ -x "$d/initdb" ] && [ -x "$d/pg_ctl" ] && { echo "$d"; return 0; }
    done
    d=$(dirname "$(command -v initdb 2>/dev/null || echo /nonexistent/initdb)")
    [ -x "$d/initdb" ] && [ -x "$d/pg_ctl" ] && { echo "$d"; return 0; }
    return 1
}

# The user that owns the clusters: this one, or an unprivileged one when this is root.
owner() {
    if [ "$(id -u)" -ne 0 ]; then id -un; return 0; fi
    for u in postgres nobody; do
        id -u "$u" >/dev/null 2>&1 && { echo "$u"; return 0; }
    done
    return 1
}

as_owner() {
    if [ "$(id -u)" -ne 0 ]; then "$@"; return; fi
    if command -v runuser >/dev/null 2>&1; then
        runuser -u "$OWNER" -- "$@"
    else
        setpriv --reuid="$OWNER" --regid="$(id -g "$OWNER")" --init-groups -- "$@"
    fi
}

start() {
    dir=$1
    durable=${2:-}
    mkdir -p "$dir"
    dir=$(cd "$dir" && pwd)
    rm -f "$dir/uri" "$dir/unavailable"
    if ! BIN=$(bindir); then
        echo "no PostgreSQL server on this machine (Debian's postgresql package has initdb and pg_ctl)" >"$dir/unavailable"
        cat "$dir/unavailable"
        return 0
    fi
    if ! OWNER=$(owner); then
        echo "running as root and there is no user postgres or nobody to run PostgreSQL as" >"$dir/unavailable"
        cat "$dir/unavailable"
        return 0
    fi
    [ "$(id -u)" -ne 0 ] || chown "$OWNER" "$dir"
    if [ ! -f "$dir/data/PG_VERSION" ]; then
        as_owner "$BIN/initdb" -D "$dir/data" -U kestrix -A trust -E UTF8 --locale=C -N >"$dir/initdb.log" 2>&1 || {
            cat "$dir/initdb.log" >&2
            return 1
        }
    fi
    options="-c listen_addresses='' -k $dir -p 5432 -c max_connections=200"
    # Without fsync the data survives a crash of PostgreSQL (stop), though not of the machine;
    # commits stay synchronous, or a crash would lose acknowledged ones.
    [ "$durable" = "--durable" ] || options="$options -c fsync=off -c full_page_writes=off"
    as_owner "$BIN/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 60 -o "$options" start >/dev/null || {
        cat "$dir/server.log" >&2
        return 1
    }
    echo "postgresql:///postgres?host=$dir&port=5432&user=kestrix" >"$dir/uri"
}

stop() {
    dir=$1
    [ -f "$dir/data/postmaster.pid" ] || return 0
    BIN=$(bindir)
    OWNER=$(owner)
    as_owner "$BIN/pg_ctl" -D "$dir/data" -m immediate -w -t 60 stop >/dev/null 2>&1 || true
}

case "${1:-}" in
    start) start "$2" "${3:-}" ;;
    stop) stop "$2" ;;
    setup)
        record=$2
        [ ! -f "$record" ] || "$0" teardown "$record"
        root=$(mktemp -d /tmp/kestrix-pg.XXXXXX)
        chmod 755 "$root"
        echo "$root" >"$record"
        start "$root/shared"
        ;;
    teardown)
        record=$2
        [ -f "$record" ] || exit 0
        root=$(cat "$record")
        case "$root" in /tmp/kestrix-pg.*) ;; *) echo "postgres.sh: $record names $root" >&2; exit 1 ;; esac
        for d in "$root"/*/; do
            [ -d "$d" ] && stop "${d%/}"
        done
        rm -rf "$root"
        rm -f "$record"
        ;;
    *)
        sed -n '2,18p' "$0" | sed 's/^# \{0,1\}//'
        exit 2
        ;;
esac
