#!/bin/sh
# A second cloudsim on a port another one listens on fails with "port N in use" instead of
# sharing the port.
set -u
cloudsim=$1
scratch=$(mktemp -d "${TMPDIR:-/tmp}/cloudsim-port-XXXXXX")
first=
second=
cleanup() {
    [ -n "$first" ] && kill "$first" 2>/dev/null && wait "$first" 2>/dev/null
    [ -n "$second" ] && kill "$second" 2>/dev/null && wait "$second" 2>/dev/null
    rm -rf "$scratch"
}
trap cleanup EXIT

"$cloudsim" --state "$scratch/first" --port-file "$scratch/port" >"$scratch/first.log" 2>&1 &
first=$!
tries=0
while [ ! -s "$scratch/port" ]; do
    kill -0 "$first" 2>/dev/null || { echo "FAIL: the first cloudsim stopped:"; cat "$scratch/first.log"; exit 1; }
    tries=$((tries + 1))
    [ "$tries" -lt 1200 ] || { echo "FAIL: the first cloudsim never listened"; exit 1; }
    sleep 0.1
done
port=$(cat "$scratch/port")

# The second one must end by itself, never saying it listens.
"$cloudsim" --state "$scratch/second" --port "$port" >"$scratch/second.log" 2>&1 &
second=$!
tries=0
while kill -0 "$second" 2>/dev/null; do
    tries=$((tries + 1))
    if [ "$tries" -ge 600 ] || grep -q "listening" "$scratch/second.log"; then
        echo "FAIL: a second cloudsim kept running on port $port:"
        cat "$scratch/second.log"
        exit 1
    fi
    sleep 0.1
done
wait "$second"
status=$?
second=
if [ "$status" -eq 0 ] || ! grep -qF "cloudsim: port $port in use" "$scratch/second.log"; then
    echo "FAIL: second cloudsim on port $port: status $status, output:"
    cat "$scratch/second.log"
    exit 1
fi
kill -0 "$first" 2>/dev/null || { echo "FAIL: the first cloudsim stopped"; exit 1; }
exit 0
