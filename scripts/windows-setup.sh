#!/usr/bin/env bash
# Installs what the Windows cross-build needs on Debian 12: the mingw-w64 compilers (posix thread
# model), wine for 32-bit and 64-bit programs, and the deb-src lines that `apt-get source` reads
# to fetch the dependencies' sources. Idempotent; as root, or with sudo.
set -euo pipefail
cd "$(dirname "$0")/.."

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive

# wine32 is an i386 package.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
  NEED_UPDATE=1
fi

# deb-src entries beside the deb ones, for `apt-get source`.
SOURCES=/etc/apt/sources.list.d/debian.sources
if [ -f "$SOURCES" ] && ! grep -q '^Types:.*deb-src' "$SOURCES"; then
  $SUDO sed -i 's/^Types: deb$/Types: deb deb-src/' "$SOURCES"
  NEED_UPDATE=1
elif [ ! -f "$SOURCES" ] && ! grep -rqs '^deb-src ' /etc/apt/sources.list /etc/apt/sources.list.d/; then
  grep -hs '^deb ' /etc/apt/sources.list | sed 's/^deb /deb-src /' |
    $SUDO tee /etc/apt/sources.list.d/tessal-deb-src.list >/dev/null
  NEED_UPDATE=1
fi
if [ -n "${NEED_UPDATE:-}" ]; then
  $SUDO apt-get update
fi

./scripts/install-packages.sh \
  mingw-w64 g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix gcc-mingw-w64-i686-posix \
  gcc-mingw-w64-x86-64-posix binutils-mingw-w64-i686 binutils-mingw-w64-x86-64 \
  wine wine32:i386 wine64 \
  dpkg-dev cmake make perl

# 32-bit wine needs a kernel that starts 32-bit programs, or qemu's emulator registered for them.
# Without either the 32-bit DLLs are still built and checked, but their tests cannot run.
./scripts/i386-emulation.sh || echo "windows-setup: 32-bit programs do not run here: the i686 tests will be reported as not run" >&2
