#!/usr/bin/env bash
# Cross-builds the kit for Windows with mingw-w64:
#   scripts/build-windows.sh i686|x86_64 [deps]
# First the dependencies, from Debian's source packages (apt-get source), each into a cache
# outside the tree keyed by target and version:
#   ${TESSAL_WINDOWS_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/tessal-windows}/<target>/<pkg>-<version>-<recipe>
# (a later run reuses what is there; <recipe> changes with the package's build commands below), then the kit into build-windows-<target>/ (BUILD_DIR).
# With "deps" it stops after the dependencies. scripts/windows-setup.sh installs the tools.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD

ARCH=${1:-}
case "$ARCH" in
  i686 | x86_64) ;;
  *)
    echo "usage: $0 i686|x86_64 [deps]" >&2
    exit 2
    ;;
esac
TRIPLET=$ARCH-w64-mingw32
TOOLCHAIN=$ROOT/cmake/toolchain-$TRIPLET.cmake
CACHE=${TESSAL_WINDOWS_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/tessal-windows}
SOURCES=$CACHE/sources
TARGET_DIR=$CACHE/$ARCH
JOBS=${JOBS:-$(nproc)}
mkdir -p "$SOURCES" "$TARGET_DIR"

log() { echo "build-windows: $*" >&2; }
# CPU seconds (user and system) of the commands this script has run and waited for so far.
children_cpu() { awk -v hz="$(getconf CLK_TCK)" '{printf "%d", ($16 + $17) / hz}' "/proc/$$/stat"; }

# The versions of a source package the archive lists, newest first.
source_versions() {
  apt-cache showsrc "$1" 2>/dev/null | sed -n 's/^Version: //p' | sort -V -r | uniq
}

# Unpacks a source package version once for every target; false when it cannot be fetched.
fetch_source() {
  local pkg=$1 version=$2 dir=$SOURCES/$1-$2 tmp=$SOURCES/tmp-$1
  [ -f "$dir/.unpacked" ] && return 0
  rm -rf "$dir" "$tmp"
  mkdir -p "$tmp"
  if ! (cd "$tmp" && apt-get source -qq "$pkg=$version" >&2); then
    rm -rf "$tmp"
    return 1
  fi
  local unpacked
  unpacked=$(find "$tmp" -mindepth 1 -maxdepth 1 -type d | head -n1)
  [ -n "$unpacked" ] || return 1
  mv "$unpacked" "$dir"
  rm -rf "$tmp"
  touch "$dir/.unpacked"
}

# A short digest of the commands that build a package (and of its stored configure results), so
# changed options build it again.
recipe() {
  local checks=$ROOT/scripts/windows-$1-checks.cmake
  { declare -f "build_$1" cmake_dependency; [ ! -f "$checks" ] || { cat "$checks"; declare -f stored_checks; }; } |
    sha1sum | cut -c1-8
}

# The version to use: the newest one already built for this target, else the newest whose
# source can be fetched (a mirror may list a version whose files it does not hold).
pick_version() {
  local pkg=$1 v
  for v in $(source_versions "$pkg"); do
    if [ -f "$TARGET_DIR/$pkg-$v-$(recipe "$pkg")/.complete" ]; then
      echo "$v"
      return
    fi
  done
  for v in $(source_versions "$pkg"); do
    if fetch_source "$pkg" "$v"; then
      echo "$v"
      return
    fi
    log "$pkg $v: source not available, trying an older version"
  done
}

PREFIXES=()

# Builds one dependency unless its prefix is complete; `build_<name> SRC PREFIX WORK` does the
# work. A prefix counts only once its stamp is written, so an interrupted build starts over.
dependency() {
  local pkg=$1 version prefix work start cpu
  version=$(pick_version "$pkg")
  [ -n "$version" ] || {
    log "no source package $pkg (are the deb-src lines there? run scripts/windows-setup.sh)"
    exit 1
  }
  prefix=$TARGET_DIR/$pkg-$version-$(recipe "$pkg")
  PREFIXES+=("$prefix")
  if [ -f "$prefix/.complete" ]; then
    log "$pkg $version: cached in $prefix"
    return
  fi
  local src=$SOURCES/$pkg-$version
  work=$TARGET_DIR/build/$pkg-$version-$(recipe "$pkg")
  rm -rf "$prefix" "$work"
  mkdir -p "$work"
  start=$SECONDS cpu=$(children_cpu)
  log "$pkg $version: building for $TRIPLET"
  "build_$pkg" "$src" "$prefix" "$work" > "$work.log" 2>&1 || {
    log "$pkg failed; see $work.log"
    tail -n 30 "$work.log" >&2
    exit 1
  }
  touch "$prefix/.complete"
  rm -rf "$work"
  log "$pkg $version: built in $((SECONDS - start)) s (CPU $(($(children_cpu) - cpu)) s)"
}

cmake_dependency() {
  local src=$1 prefix=$2 work=$3
  shift 3
  cmake -S "$src" -B "$work" -DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX="$prefix" -DKIT_WINDOWS_PREFIXES="$(IFS=';'; echo "${PREFIXES[*]}")" \
    -DBUILD_SHARED_LIBS=ON "$@"
  cmake --build "$work" -j"$JOBS"
  cmake --install "$work"
}

build_openssl() {
  local src=$1 prefix=$2 work=$3 os=mingw
  [ "$ARCH" = i686 ] || os=mingw64
  # Debian's patch making the 32-bit x86 assembler position-independent for ELF produces
  # relocations PE/COFF cannot hold: take it back out.
  if [ ! -f "$src/.pic-reverted" ] && [ -f "$src/debian/patches/pic.patch" ]; then
    (cd "$src" && patch -R -p1 < debian/patches/pic.patch) && touch "$src/.pic-reverted"
  fi
  # Shared libcrypto and libssl, as on Linux: the kit's DLLs share one OpenSSL (one object
  # table, one engine list). Only the libraries, without the algorithms and protocols the kit
  # never uses (a shorter first build). Neither the static libraries (every source compiled a
  # second time) nor the command line's own library are built: no one links them.
  local shared_only=(LIBS="providers/libcommon.a providers/libdefault.a" INSTALL_LIBS=)
  (cd "$work" && perl "$src/Configure" "$os" shared no-tests no-legacy \
    no-aria no-bf no-camellia no-cast no-idea no-md4 no-mdc2 no-rc2 no-rc4 no-rc5 no-seed \
    no-siphash no-srp no-whirlpool no-comp no-ssl3 no-dtls \
    --cross-compile-prefix="$TRIPLET-" CC=gcc-posix CXX=g++-posix \
    --prefix="$prefix" --libdir=lib &&
    make -j"$JOBS" build_libs "${shared_only[@]}" && make install_dev install_runtime_libs "${shared_only[@]}")
}

# The -C arguments giving a package's stored configure results (scripts/windows-<pkg>-checks.cmake)
# when its source is the upstream version they were made for, instead of running the checks.
stored_checks() {
  local pkg=$1 src=$2 upstream=$3
  [[ $src == */$pkg-$upstream-* ]] || return 0
  local pointer_size=4
  [ "$ARCH" = i686 ] || pointer_size=8
  echo "-DKIT_POINTER_SIZE=$pointer_size -C $ROOT/scripts/windows-$pkg-checks.cmake"
}

build_curl() {
  local openssl
  openssl=$(printf '%s\n' "${PREFIXES[@]}" | grep '/openssl-')
  # shellcheck disable=SC2046 # the -C arguments are split into words
  cmake_dependency "$@" $(stored_checks curl "$1" 7.88.1) -DCURL_USE_OPENSSL=ON -DCURL_USE_SCHANNEL=OFF -DOPENSSL_ROOT_DIR="$openssl" \
    -DBUILD_CURL_EXE=OFF -DBUILD_TESTING=OFF -DCURL_USE_LIBSSH2=OFF -DCURL_USE_LIBPSL=OFF \
    -DUSE_LIBIDN2=OFF -DCURL_ZLIB=OFF -DCURL_BROTLI=OFF -DCURL_ZSTD=OFF -DUSE_NGHTTP2=OFF \
    -DCURL_DISABLE_LDAP=ON -DENABLE_MANUAL=OFF -DHTTP_ONLY=ON -DPICKY_COMPILER=OFF
}

build_log4cplus() {
  # char strings, as the Linux library: log4cplus would otherwise use wchar_t on Windows. No
  # thread pool (the kit logs synchronously): its threads, joined when the DLL is unloaded at
  # process exit, are gone by then and the exit never ends.
  # shellcheck disable=SC2046 # the -C arguments are split into words
  cmake_dependency "$@" $(stored_checks log4cplus "$1" 2.0.8) -DUNICODE=OFF -DLOG4CPLUS_ENABLE_THREAD_POOL=OFF -DLOG4CPLUS_BUILD_TESTING=OFF -DWITH_UNIT_TESTS=OFF \
    -DLOG4CPLUS_BUILD_LOGGINGSERVER=OFF -DLOG4CPLUS_ENABLE_DECORATED_LIBRARY_NAME=OFF
}

build_tinyxml2() { cmake_dependency "$@" -Dtinyxml2_BUILD_TESTING=OFF; }

build_googletest() { cmake_dependency "$@" -DBUILD_GMOCK=OFF -DINSTALL_GTEST=ON -Dgtest_disable_pthreads=OFF; }

build_rapidjson() {
  local src=$1 prefix=$2
  mkdir -p "$prefix/include"
  cp -r "$src/include/rapidjson" "$prefix/include/"
}

TOTAL_START=$SECONDS
dependency openssl
dependency curl
dependency log4cplus
dependency tinyxml2
dependency googletest
dependency rapidjson
log "dependencies ready in $((SECONDS - TOTAL_START)) s"
[ "${2:-}" != deps ] || exit 0

PKG_PATH=$(printf '%s/lib/pkgconfig:' "${PREFIXES[@]}")
BUILD_DIR=${BUILD_DIR:-build-windows-$ARCH}
# The build runs test programs under wine to list their tests: in a prefix of the build's own.
mkdir -p "$BUILD_DIR"
export WINEPREFIX=${WINEPREFIX:-$(cd "$BUILD_DIR" && pwd)/wine}
export WINEDEBUG=${WINEDEBUG:--all,err+module}
START=$SECONDS KIT_CPU=$(children_cpu)
# Found libraries are remembered in the CMake cache: new dependency prefixes start it afresh.
prefix_list="$(IFS=';'; echo "${PREFIXES[*]}")"
if [ "$(cat "$BUILD_DIR/.kit-prefixes" 2>/dev/null)" != "$prefix_list" ]; then
  rm -f "$BUILD_DIR/CMakeCache.txt"
  echo "$prefix_list" > "$BUILD_DIR/.kit-prefixes"
fi
PKG_CONFIG_LIBDIR=${PKG_PATH%:} cmake -S . -B "$BUILD_DIR" -DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN" \
  -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-RelWithDebInfo}" \
  -DKIT_WINDOWS_PREFIXES="$(IFS=';'; echo "${PREFIXES[*]}")" ${CMAKE_ARGS:-}
PKG_CONFIG_LIBDIR=${PKG_PATH%:} cmake --build "$BUILD_DIR" -j"$JOBS" ${BUILD_TARGETS:+--target $BUILD_TARGETS}
log "kit built for $TRIPLET in $((SECONDS - START)) s (CPU $(($(children_cpu) - KIT_CPU)) s)"
