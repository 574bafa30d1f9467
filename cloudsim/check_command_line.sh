#!/bin/sh
# cloudsim's command line: help and version on standard output, usage mistakes exit 2 before
# anything is served or written.
set -u
cloudsim=$1
scratch=$(mktemp -d "${TMPDIR:-/tmp}/cloudsim-cli-XXXXXX")
trap 'rm -rf "$scratch"' EXIT
failed=0

expect() {  # expect STATUS TEXT ARGS...: exit status and a text of the combined output
    want=$1 text=$2
    shift 2
    out=$("$cloudsim" "$@" 2>&1)
    got=$?
    if [ "$got" -ne "$want" ] || ! printf '%s' "$out" | grep -qF -- "$text"; then
        echo "FAIL: cloudsim $*: status $got (want $want), output: $out"
        failed=1
    fi
}

expect 0 "Usage: cloudsim --state DIR" --help
expect 0 "Usage: cloudsim --state DIR" -h
expect 0 "cloudsim $2" --version
[ -n "$("$cloudsim" --help 2>/dev/null)" ] || { echo "FAIL: --help printed nothing to standard output"; failed=1; }
expect 2 '--port must be a number, not "abc"' --state "$scratch/s" --port abc
expect 2 '--port must be a number, not "80x"' --state "$scratch/s" --port=80x
expect 2 "--port must be 0 to 65535" --state "$scratch/s" --port 70000
expect 2 "--port must be a number" --state "$scratch/s" --port -1
expect 2 "--state DIR is required" --port 0
expect 2 "--state needs a value" --state
expect 2 "unknown option --colour" --state "$scratch/s" --colour
expect 2 "unexpected argument extra" --state "$scratch/s" extra
[ ! -e "$scratch/s" ] || { echo "FAIL: a refused command line created the state directory"; failed=1; }
exit $failed
