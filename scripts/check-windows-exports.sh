#!/usr/bin/env bash
# Checks the export tables of a Windows build's DLLs:
#   scripts/check-windows-exports.sh build-windows-i686|build-windows-x86_64
# libtessal.dll exports the ZYK… functions and g_USBLastError; vornic.dll its two functions (on
# i686 also as "_SM2ConstructP10Info@20" and "_SM2ConstructP10@28"); the software key's SKF entry
# points are exported undecorated, as vendor DLLs export them.
set -euo pipefail
BIN=${1:?usage: $0 BUILD_DIR}/bin
ROOT=$(cd "$(dirname "$0")/.." && pwd)
failed=0

exports() {  # the names of a DLL's export table
  objdump -p "$1" | awk '/^\[Ordinal\/Name Pointer\] Table/ {on = 1; next} on && /^\t\[/ {print $NF} on && /^$/ {on = 0}'
}
expect() {  # DLL, name: the name must be exported
  if ! grep -qxF "$2" <<<"$3"; then
    echo "missing export: $(basename "$1") $2"
    failed=1
  fi
}

# The library's exports are C++ names (mangled): the global and the ZYK functions.
tessal=$(exports "$BIN/libtessal.dll")
expect "$BIN/libtessal.dll" _Z14g_USBLastErrorB5cxx11 "$tessal"
for name in $(grep -rhoE 'TESSAL_API [^(]*ZYK[A-Za-z0-9_]+\(' "$ROOT/tessal/include" | grep -oE 'ZYK[A-Za-z0-9_]+' | sort -u); do
  if ! grep -qE "^_Z[0-9]+${name}[A-Za-z]" <<<"$tessal"; then
    echo "missing export: libtessal.dll $name"
    failed=1
  fi
done

vornic=$(exports "$BIN/vornic.dll")
if objdump -f "$BIN/vornic.dll" | grep -q 'pei-i386'; then
  for name in _SM2ConstructP10Info@20 _SM2ConstructP10@28; do expect "$BIN/vornic.dll" "$name" "$vornic"; done
else
  for name in SM2ConstructP10Info SM2ConstructP10; do expect "$BIN/vornic.dll" "$name" "$vornic"; done
fi

softkey=$(exports "$BIN/libsoftkey.dll")
for name in $(grep -oE 'SKF_CALL +SKF_[A-Za-z0-9_]+' "$ROOT/skf/include/skf/skf.h" | awk '{print $2}'); do
  expect "$BIN/libsoftkey.dll" "$name" "$softkey"
done
if grep -q '@' <<<"$softkey"; then
  echo "libsoftkey.dll exports decorated names: $(grep '@' <<<"$softkey" | head -3 | tr '\n' ' ')"
  failed=1
fi
[ "$failed" -eq 0 ] && echo "export tables as expected in $BIN"
exit "$failed"
