#!/bin/sh
# Compares "kestrix nmea decode FILE > /dev/null" with "gpsdecode -j < FILE > /dev/null"
# (Debian's gpsd-clients), both whole processes printing JSON, on a generated 24-hour
# capture at 1 Hz (GGA, RMC, GSA and a three-message GSV set each second, about 36 MB).
# Usage: bench/nmea_vs_gpsdecode.sh BUILD_DIR   (e.g. build/release). Target: ratio >= 10.
set -eu
build=${1:?usage: $0 BUILD_DIR}
kestrix="$build/bin/kestrix"
[ -x "$kestrix" ] || { echo "no $kestrix: build the kestrix target first" >&2; exit 1; }
command -v gpsdecode >/dev/null || { echo "gpsdecode not found (apt-get install gpsd-clients)" >&2; exit 1; }
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
capture="$tmp/day.nmea"
"$kestrix" nmea generate --seconds 86400 --no-gll > "$capture"
size=$(wc -c < "$capture")

# Best of three wall-clock runs, in nanoseconds.
best() {
    b=0
    for i in 1 2 3; do
        s=$(date +%s%N)
        "$@"
        e=$(date +%s%N)
        t=$((e - s))
        if [ "$b" -eq 0 ] || [ "$t" -lt "$b" ]; then b=$t; fi
    done
    echo "$b"
}
run_kestrix() { "$kestrix" nmea decode "$capture" > /dev/null 2>&1; }
run_gpsdecode() { gpsdecode -j < "$capture" > /dev/null 2>&1; }
k=$(best run_kestrix)
g=$(best run_gpsdecode)
awk -v s="$size" -v k="$k" -v g="$g" 'BEGIN {
    printf "capture %.1f MB\n", s / 1e6
    printf "kestrix nmea decode: %.3f s (%.0f MB/s)\n", k / 1e9, s * 1e3 / k
    printf "gpsdecode -j:        %.3f s (%.0f MB/s)\n", g / 1e9, s * 1e3 / g
    printf "ratio: %.1f (target >= 10)\n", g / k
}'
