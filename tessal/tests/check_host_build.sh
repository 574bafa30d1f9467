#!/usr/bin/env bash
# Builds and runs a host against an installed kit under PREFIX, whatever its libdir: once with
# pkg-config alone, once with find_package(tessal CONFIG) and its imported targets, configured
# with no pkg-config to be found.
#   check_host_build.sh PREFIX HOST_SOURCE [SANITIZE] [STAGE]
# STAGE: the directory a tree staged with DESTDIR (or unpacked from packages) stands in, when
# PREFIX is STAGE/<the prefix it was installed for>.
set -euo pipefail
trap 'echo "check_host_build.sh: line $LINENO failed" >&2' ERR
prefix=$(realpath "$1"); host_source=$(realpath "$2"); sanitize="${3:-}"; stage="${4:-}"
work=$(mktemp -d "${TMPDIR:-/tmp}/tessal-host-XXXXXX")
trap 'rm -rf "$work"' EXIT
pc_file=$(find "$prefix" -path '*/pkgconfig/tessal.pc' | head -n 1)
[ -n "$pc_file" ]
# The .pc files name the prefix they were installed for.
installed_prefix=${prefix#"$(realpath "${stage:-/}")"}
grep -qx "prefix=/${installed_prefix#/}" "$pc_file"
export PKG_CONFIG_PATH="$(dirname "$pc_file")"
[ -z "$stage" ] || export PKG_CONFIG_SYSROOT_DIR="$(realpath "$stage")"
libdir=$(pkg-config --variable=libdir tessal)
# The linker finds libtessal's own needs in its directory also where no run path points there.
extra=(-Wl,-rpath-link,"$libdir")
[ -n "$sanitize" ] && extra+=(-fsanitize="$sanitize")
# shellcheck disable=SC2046
g++ -std=c++17 "${extra[@]}" "$host_source" -o "$work/host" $(pkg-config --cflags --libs tessal)
[ "$(realpath "$libdir")" = "$(realpath "$(dirname "$pc_file")/..")" ]
# libvornic is found beside libtessal with no search path set (unless the tree was built without
# relative run paths, as distribution packages are).
if [ "${KIT_RELATIVE_RUN_PATHS:-ON}" = ON ]; then
  # (ldd's whole output first: grep -q leaving early would fail the pipeline under pipefail.)
  needs=$(env -u LD_LIBRARY_PATH ldd "$libdir/libtessal.so")
  grep -q "libvornic.so.* => $libdir/" <<<"$needs"
fi
TESSAL_LOG_FILE="$work/host.log" LD_LIBRARY_PATH="$libdir" "$work/host"
grep -q "DEBUG - host program" "$work/host.log"
mkdir "$work/cmake-host"
cat > "$work/cmake-host/CMakeLists.txt" <<CMAKE
cmake_minimum_required(VERSION 3.20)
project(host CXX)
find_package(tessal 0.1 CONFIG REQUIRED)
if(NOT TARGET tessal::vornic)
  message(FATAL_ERROR "no tessal::vornic")
endif()
add_executable(host "$host_source")
target_compile_features(host PRIVATE cxx_std_17)
target_link_libraries(host PRIVATE tessal::tessal)
CMAKE
# No pkg-config on PATH (every other program of PATH's directories linked into one), and none
# where CMake looks by itself: the package finds its dependencies through CMake alone.
mkdir "$work/bin"
IFS=: read -r -a path_dirs <<<"$PATH"
for dir in "${path_dirs[@]}"; do
  case $dir in */ccache) continue ;; esac  # its masquerading links need the compilers on PATH
  for program in "$dir"/*; do
    name=${program##*/}
    case $name in *pkg-config | pkgconf) continue ;; esac
    [ -x "$program" ] && [ ! -e "$work/bin/$name" ] && ln -s "$program" "$work/bin/$name"
  done
done
if PATH="$work/bin" command -v pkg-config; then echo "pkg-config still on PATH" >&2; false; fi
PATH="$work/bin" cmake -S "$work/cmake-host" -B "$work/cmake-host/build" -DCMAKE_PREFIX_PATH="$prefix" \
  -DPKG_CONFIG_EXECUTABLE="$work/no-pkg-config" -DCMAKE_CXX_FLAGS="${extra[*]}" >"$work/configure.log" 2>&1 ||
  { cat "$work/configure.log" >&2; false; }
cmake --build "$work/cmake-host/build" >/dev/null
# The package without the library files beside it: refused when the host configures.
config_dir=$(dirname "$(find "$prefix" -path '*/cmake/tessal/tessalConfig.cmake' | head -n 1)")
mkdir -p "$work/no-library/${config_dir#"$prefix"/}"
cp "$config_dir"/* "$work/no-library/${config_dir#"$prefix"/}/"
if cmake -S "$work/cmake-host" -B "$work/no-library/build" -DCMAKE_PREFIX_PATH="$work/no-library" \
  >"$work/no-library.log" 2>&1; then
  echo "a host configured against a CMake package whose library is missing" >&2; false
fi
tr '\n' ' ' <"$work/no-library.log" | grep -qE 'lib(tessal|vornic)\.so[.0-9]*" *but this file does not exist'
rm -f "$work/host.log"
TESSAL_LOG_FILE="$work/host.log" LD_LIBRARY_PATH="$libdir" "$work/cmake-host/build/host"
grep -q "DEBUG - host program" "$work/host.log"
grep -q '#define TESSAL_VERSION_STRING "' "$prefix/include/tessal/version.h"
[ ! -e "$prefix/include/tessal/version.h.in" ]
echo "hosts built against $prefix with pkg-config and with find_package"
