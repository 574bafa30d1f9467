#!/usr/bin/env bash
# libvornic exports exactly its two functions, and an installed tree builds a C host with
# pkg-config alone.
set -euo pipefail
lib="$1"; build_dir="$2"; host_source="$3"; sanitize="${4:-}"
exports=$(nm -D --defined-only "$lib" | awk '{print $3}' | sort | tr '\n' ' ')
if [ "$exports" != "SM2ConstructP10 SM2ConstructP10Info " ]; then
  echo "unexpected exports: $exports"; exit 1
fi
prefix=$(mktemp -d "${TMPDIR:-/tmp}/vornic-install-XXXXXX")
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build_dir" --prefix "$prefix" >/dev/null
export PKG_CONFIG_PATH="$prefix/lib/pkgconfig:$prefix/lib/x86_64-linux-gnu/pkgconfig"
extra=()
[ -n "$sanitize" ] && extra=(-fsanitize="$sanitize")
# shellcheck disable=SC2046
gcc "${extra[@]}" "$host_source" -o "$prefix/host" $(pkg-config --cflags --libs vornic)
LD_LIBRARY_PATH=$(pkg-config --variable=libdir vornic) "$prefix/host"
echo "libvornic: two exports; installed headers, library and vornic.pc usable by a C host"
