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
# Without TESSAL_DRIVER_DIR the installed tool takes a key's driver from the system directory
# LIBDIR/tessal/drivers/FAMILY/ (here staged below DESTDIR); without the driver it says which
# directories it looked in and fails.
kit=$(realpath "$staged/opt/kit")
store="$staged/store"
mkdir -p "$store/sys/bus/usb/devices"
sk() { "$kit/bin/softkey" --store "$store" "$@" >/dev/null; }
sk store init
sk create --serial INSTALLED1 --vid 1D99 --pid 0001
sk plug INSTALLED1
drivers="$(echo "$kit"/lib*/tessal)/drivers"
sk install-driver --root "$drivers" --name SKF_APP.dll --family "SDCA&HNCA"
tool() {
  env -u TESSAL_DRIVER_DIR SOFTKEY_STORE="$store" TESSAL_USB_SYSFS="$store/sys/bus/usb/devices" \
    TESSAL_LOG_FILE="$staged/tessal.log" TESSAL_SETTLE_MS=0 "$kit/bin/tessal" "$@"
}
keys=$(tool keys)
grep -q '^INSTALLED1.*library SKF_APP.dll' <<<"$keys"
rm "$drivers/SDCA&HNCA/SKF_APP.dll"
if tool keys 2>"$staged/keys.err"; then echo "tessal keys succeeded without a driver" >&2; exit 1; fi
grep -qF "key 1D99:0001 present; no driver library found in $kit/bin/AHHFCA, $drivers/AHHFCA, \
$kit/bin/SDCA&HNCA, $drivers/SDCA&HNCA" "$staged/keys.err"
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
