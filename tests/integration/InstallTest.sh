#!/bin/sh
# Installs the build into temporary folders as a person would, and checks what lands there.
#   InstallTest.sh files CMAKE BUILD_DIR    DESTDIR install under /usr: the programs (which
#       run from there), the units and the system users; the units follow another prefix.
#   InstallTest.sh verify CMAKE BUILD_DIR   systemd-analyze verify on the units and
#       systemd-sysusers --dry-run on the users, installed under a prefix of their own;
#       exit 77 (skipped) where those tools are missing or cannot work.
set -eu
mode=$1
cmake=$2
build=$3
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() {
    echo "FAIL: $*" >&2
    exit 1
}
install_into() {  # install_into LOG ARGS...: cmake --install with ARGS, quiet unless it fails
    log=$1
    shift
    "$cmake" --install "$build" "$@" > "$log" 2>&1 || { cat "$log" >&2; fail "cmake --install $*"; }
}
has_lines() {  # has_lines FILE LINE...: each LINE stands in FILE as a whole line
    file=$1
    shift
    for line in "$@"; do
        grep -qxF -- "$line" "$file" || fail "$(basename "$file") has no line \"$line\""
    done
}

case $mode in
files)
    DESTDIR="$tmp/dest" install_into "$tmp/install.log" --prefix /usr
    (cd "$tmp/dest" && find . -type f | sort) > "$tmp/files"
    printf '%s\n' ./usr/bin/kestrix ./usr/bin/kestrix-server ./usr/lib/systemd/system/kestrix-server.service \
        ./usr/lib/systemd/system/kestrix.service ./usr/lib/sysusers.d/kestrix.conf > "$tmp/expected"
    diff -u "$tmp/expected" "$tmp/files" >&2 || fail "installed files differ from the list"
    for p in kestrix kestrix-server; do [ -x "$tmp/dest/usr/bin/$p" ] || fail "$p is not executable"; done
    # The installed program runs on its own (nothing of the build tree needed).
    status=0
    "$tmp/dest/usr/bin/kestrix" > /dev/null 2> "$tmp/usage" || status=$?
    [ "$status" -eq 2 ] && grep -q "kestrix log gpx" "$tmp/usage" || fail "installed kestrix does not run"
    units="$tmp/dest/usr/lib/systemd/system"
    has_lines "$units/kestrix.service" "ExecStart=/usr/bin/kestrix run --data-dir /var/lib/kestrix" \
        User=kestrix SupplementaryGroups=dialout StateDirectory=kestrix KillSignal=SIGTERM Restart=on-failure \
        WantedBy=multi-user.target
    has_lines "$units/kestrix-server.service" User=kestrix-server StateDirectory=kestrix-server Restart=on-failure \
        "ExecStart=/usr/bin/kestrix-server --listen 127.0.0.1:1201 --db /var/lib/kestrix-server/server.sqlite"
    has_lines "$tmp/dest/usr/lib/sysusers.d/kestrix.conf" "m kestrix dialout"
    # Another prefix at install time: the units name the programs there.
    DESTDIR="$tmp/other" install_into "$tmp/other.log" --prefix /opt/kestrix --component service
    has_lines "$tmp/other/opt/kestrix/lib/systemd/system/kestrix.service" \
        "ExecStart=/opt/kestrix/bin/kestrix run --data-dir /var/lib/kestrix"
    ;;
verify)
    for tool in systemd-analyze systemd-sysusers; do
        if ! command -v "$tool" > /dev/null; then
            echo "SKIP: $tool not installed (Debian package systemd); the units are not verified"
            exit 77
        fi
    done
    # A unit that cannot be wrong: if that does not verify, the tool cannot work here.
    printf '[Unit]\nDescription=probe\n[Service]\nExecStart=/bin/sh -c true\n' > "$tmp/probe.service"
    if ! systemd-analyze verify "$tmp/probe.service" > "$tmp/probe.out" 2>&1 || [ -s "$tmp/probe.out" ]; then
        echo "SKIP: systemd-analyze verify does not work on this machine: $(cat "$tmp/probe.out")"
        exit 77
    fi
    # Installed under a prefix of its own (no DESTDIR), so the programs the units name exist.
    install_into "$tmp/install.log" --prefix "$tmp/prefix"
    units="$tmp/prefix/lib/systemd/system"
    has_lines "$units/kestrix.service" "ExecStart=$tmp/prefix/bin/kestrix run --data-dir /var/lib/kestrix"
    # Warnings (an unknown or misspelt setting) go to the output with a zero status: any
    # output is a failure.
    systemd-analyze verify "$units/kestrix.service" "$units/kestrix-server.service" > "$tmp/verify.out" 2>&1 ||
        { cat "$tmp/verify.out" >&2; fail "systemd-analyze verify"; }
    [ ! -s "$tmp/verify.out" ] || { cat "$tmp/verify.out" >&2; fail "systemd-analyze verify warned"; }
    systemd-sysusers --dry-run --root="$tmp/root" "$tmp/prefix/lib/sysusers.d/kestrix.conf" > "$tmp/users.out" 2>&1 ||
        { cat "$tmp/users.out" >&2; fail "systemd-sysusers refuses kestrix.conf"; }
    grep -q "Creating user 'kestrix'" "$tmp/users.out" || { cat "$tmp/users.out" >&2; fail "no user kestrix"; }
    ;;
*)
    echo "usage: $0 files|verify CMAKE BUILD_DIR" >&2
    exit 2
    ;;
esac
