#!/usr/bin/env bash
# scripts/fuzz.sh's target names: the list matches fuzz/CMakeLists.txt, the fuzz_ prefix is
# accepted, and an unknown name fails before anything is built.
#   check_fuzz_targets.sh SOURCE_DIR
set -euo pipefail
cd "$1"
source fuzz/targets.sh
status=0
built=$(sed -n 's/^ *kit_fuzz_target(\([a-z0-9_]*\).*/\1/p' fuzz/CMakeLists.txt | sort)
# The revocation targets are made in a loop over their names.
built=$(printf '%s\n' $built $(sed -n 's/^foreach(name \(.*\))$/\1/p' fuzz/CMakeLists.txt) | grep -v '^\${name}$' | sort -u)
listed=$(printf '%s\n' "${FUZZ_TARGETS[@]}" | sort)
[ "$built" = "$listed" ] || { echo "fuzz/targets.sh and fuzz/CMakeLists.txt differ:"; diff <(echo "$built") <(echo "$listed") || true; status=1; }
for name in fuzz_cert_info cert_info; do
  [ "$(fuzz_target_name "$name")" = cert_info ] || { echo "$name is not cert_info"; status=1; }
done
for name in fuzz_nothing nothing fuzz_ ""; do
  if fuzz_target_name "$name" >/dev/null; then echo "\"$name\" taken as a target"; status=1; fi
done
# The script itself refuses the unknown name at once (exit 2, before the build).
rc=0
out=$(scripts/fuzz.sh 1 fuzz_cert_info fuzz_nothing 2>&1 </dev/null) || rc=$?
[ "$rc" -eq 2 ] || { echo "scripts/fuzz.sh with an unknown target: exit $rc, not 2"; status=1; }
grep -q 'unknown target "fuzz_nothing"' <<<"$out" || { echo "no message for the unknown target: $out"; status=1; }
[ "$status" -eq 0 ] && echo "fuzz targets: list matches the build, names resolve"
exit "$status"
