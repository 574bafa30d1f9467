#!/bin/sh
# The library's standard-output lines: on by default, off with TESSAL_CONSOLE=0.
#   check_console.sh HOST_PROGRAM
set -e
host=$1
out=$("$host")
echo "$out" | grep -q '^gNIDs' || { echo "no registration table by default"; exit 1; }
out=$(TESSAL_CONSOLE=0 "$host")
[ "$out" = "host program: all exports usable" ] || { echo "unexpected output with TESSAL_CONSOLE=0:"; echo "$out"; exit 1; }
