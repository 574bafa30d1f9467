#!/usr/bin/env bash
# Installs the kit into a scratch prefix and builds a host there with pkg-config alone.
set -euo pipefail
trap 'echo "check_install.sh: line $LINENO failed" >&2' ERR
build_dir="$1"; host_source="$2"; sanitize="${3:-}"
prefix=$(mktemp -d "${TMPDIR:-/tmp}/tessal-install-XXXXXX")
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build_dir" --prefix "$prefix" >/dev/null
# The udev rules that open the catalogue's keys to the logged-in user.
grep -q 'TAG+="uaccess"' "$prefix/lib/udev/rules.d/70-tessal-keys.rules"
# The manual pages (those made from --help need help2man at build time).
[ -s "$prefix/share/man/man1/parlux.1" ]
if command -v help2man >/dev/null; then
  for page in softkey cloudsim tessal; do [ -s "$prefix/share/man/man1/$page.1" ]; done
fi
[ -x "$prefix/bin/tessal" ] && [ -x "$prefix/bin/cloudsim" ]
# The software key is a test token in LIBDIR/tessal/; the installed tool finds it there, also
# when the tree was staged below DESTDIR.
staged=$(mktemp -d "${TMPDIR:-/tmp}/tessal-staged-XXXXXX")
trap 'rm -rf "$prefix" "$staged"' EXIT
DESTDIR="$staged" cmake --install "$build_dir" --prefix /opt/kit >/dev/null
for root in "$prefix" "$staged/opt/kit"; do
  "$root/bin/softkey" --store "$prefix/store" install-driver --root "$prefix/drivers" --name SKF_APP.dll \
    --family "SDCA&HNCA" >/dev/null
  cmp "$prefix/drivers/SDCA&HNCA/SKF_APP.dll" "$(echo "$root"/lib*/tessal/libsoftkey.so)"
  rm -r "$prefix/drivers"
done
[ ! -e "$prefix/lib/libsoftkey.so" ]
export PKG_CONFIG_PATH="$prefix/lib/pkgconfig:$prefix/lib/x86_64-linux-gnu/pkgconfig"
extra=()
[ -n "$sanitize" ] && extra=(-fsanitize="$sanitize")
# shellcheck disable=SC2046
g++ -std=c++17 "${extra[@]}" "$host_source" -o "$prefix/host" $(pkg-config --cflags --libs tessal)
libdir=$(pkg-config --variable=libdir tessal)
# libvornic is found beside libtessal with no search path set.
env -u LD_LIBRARY_PATH ldd "$libdir/libtessal.so" | grep -q "libvornic.so.* => $libdir/"
TESSAL_LOG_FILE="$prefix/host.log" LD_LIBRARY_PATH="$libdir" "$prefix/host"
grep -q "DEBUG - host program" "$prefix/host.log"
# The same host through find_package(tessal CONFIG) and its imported targets.
mkdir "$prefix/cmake-host"
cat > "$prefix/cmake-host/CMakeLists.txt" <<EOF
cmake_minimum_required(VERSION 3.20)
project(host CXX)
find_package(tessal 0.1 CONFIG REQUIRED)
if(NOT TARGET tessal::vornic)
  message(FATAL_ERROR "no tessal::vornic")
endif()
add_executable(host "$host_source")
target_compile_features(host PRIVATE cxx_std_17)
target_link_libraries(host PRIVATE tessal::tessal)
EOF
cmake -S "$prefix/cmake-host" -B "$prefix/cmake-host/build" -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_CXX_FLAGS="${extra[*]}" >/dev/null
cmake --build "$prefix/cmake-host/build" >/dev/null
rm -f "$prefix/host.log"
TESSAL_LOG_FILE="$prefix/host.log" LD_LIBRARY_PATH="$libdir" "$prefix/cmake-host/build/host"
grep -q "DEBUG - host program" "$prefix/host.log"
grep -q '#define TESSAL_VERSION_STRING "' "$prefix/include/tessal/version.h"
[ ! -e "$prefix/include/tessal/version.h.in" ]
echo "installed kit: headers, library, tessal.pc and the CMake package usable by a host"
