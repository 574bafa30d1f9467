#!/usr/bin/env bash
# Installs the kit into a scratch prefix and builds hosts there with pkg-config and find_package
# (also with the .pc files of a tree staged below DESTDIR naming the prefix, not the stage).
set -euo pipefail
trap 'echo "check_install.sh: line $LINENO failed" >&2' ERR
source_dir="$1"; build_dir="$2"; host_source="$3"; sanitize="${4:-}"
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
"$(dirname "$0")/check_host_build.sh" "$prefix" "$host_source" "$sanitize"
# A multiarch LIBDIR, staged below DESTDIR: a tree configured with it (nothing built there)
# installs the development files, which are made at configure time; the libraries, the same
# whatever LIBDIR, come from the install above.
multiarch=$(mktemp -d "${TMPDIR:-/tmp}/tessal-multiarch-XXXXXX")
trap 'rm -rf "$prefix" "$staged" "$multiarch"' EXIT
libdir="lib/$(gcc -print-multiarch 2>/dev/null || true)"
[ "$libdir" != "lib/" ] || libdir=lib/x86_64-linux-gnu
cmake -S "$source_dir" -B "$multiarch/build" -DKIT_BUILD_TESTS=OFF -DCMAKE_INSTALL_PREFIX=/usr \
  -DCMAKE_INSTALL_LIBDIR="$libdir" >/dev/null
DESTDIR="$multiarch/stage" cmake --install "$multiarch/build" --component development >/dev/null
[ -f "$multiarch/stage/usr/$libdir/pkgconfig/tessal.pc" ]
[ -f "$multiarch/stage/usr/$libdir/cmake/tessal/tessalConfig.cmake" ]
cp -P "$prefix"/lib/libtessal.so* "$prefix"/lib/libvornic.so* "$multiarch/stage/usr/$libdir/"
"$(dirname "$0")/check_host_build.sh" "$multiarch/stage/usr" "$host_source" "$sanitize" "$multiarch/stage"
echo "installed kit: headers, library, tessal.pc and the CMake package usable by a host"
