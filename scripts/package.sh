#!/usr/bin/env bash
# Builds the Debian packages (libtessal0, libtessal-dev, tessal-tools, tessal-testing, parlux) from this checkout,
# offline, into OUTDIR (default build-deb/), then checks them with lintian and builds a host against
# the unpacked development package. Installs the packaging tools with apt-get when they are missing.
set -euo pipefail
cd "$(dirname "$0")/.."
checkout=$(pwd)
out=$(realpath -m "${1:-build-deb}")

PACKAGES=(debhelper devscripts lintian fakeroot dpkg-dev)
./scripts/install-packages.sh "${PACKAGES[@]}"

# The packages are built in a copy of the checkout's files (tracked and new, not ignored ones):
# dpkg-buildpackage writes its results next to the source tree, which is OUTDIR here.
rm -rf "$out"
mkdir -p "$out/tessal"
git ls-files -z --cached --others --exclude-standard | while IFS= read -r -d '' f; do
  [ -e "$f" ] && printf '%s\0' "$f"
done | tar -C "$checkout" --null -T - -cf - | tar -C "$out/tessal" -xf -
# ccache, when present, spares unchanged objects on the next package build.
[ -d /usr/lib/ccache ] && export PATH="/usr/lib/ccache:$PATH"
(cd "$out/tessal" && dpkg-buildpackage -us -uc -b -J"${JOBS:-$(nproc)}")

changes=$(echo "$out"/tessal_*.changes)
lintian --fail-on error "$changes"

# Packages by audience: the production tool apart from the test token and the simulated cloud.
tools=$(dpkg-deb -c "$out"/tessal-tools_*.deb)
testing=$(dpkg-deb -c "$out"/tessal-testing_*.deb)
for path in /usr/bin/softkey /usr/bin/cloudsim /tessal/libsoftkey.so softkey.1 cloudsim.1; do
  grep -qF "$path" <<<"$testing" || { echo "tessal-testing lacks $path" >&2; exit 1; }
  if grep -qF "$path" <<<"$tools"; then echo "tessal-tools holds $path" >&2; exit 1; fi
done
for path in /usr/bin/tessal 70-tessal-keys.rules tessal.1; do
  grep -qF "$path" <<<"$tools" || { echo "tessal-tools lacks $path" >&2; exit 1; }
done

# The packages' multiarch tree as a user installs it: a host builds with find_package and
# pkg-config, and the unpacked softkey finds its library in LIBDIR/tessal/.
root="$out/unpacked"
for deb in "$out"/libtessal0_*.deb "$out"/libtessal-dev_*.deb "$out"/tessal-tools_*.deb \
  "$out"/tessal-testing_*.deb; do
  dpkg-deb -x "$deb" "$root"
done
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
"$root/usr/bin/softkey" --store "$out/store" install-driver --root "$out/drivers" --name SKF_APP.dll \
  --family "SDCA&HNCA" >/dev/null
cmp "$out/drivers/SDCA&HNCA/SKF_APP.dll" "$root/usr/lib/$multiarch/tessal/libsoftkey.so"
grep -qx 'prefix=/usr' "$root/usr/lib/$multiarch/pkgconfig/tessal.pc"
# The unpacked tree stands where /usr will be: pkg-config reads it with the unpacked root as sysroot.
KIT_RELATIVE_RUN_PATHS=OFF "$checkout/tessal/tests/check_host_build.sh" "$root/usr" \
  "$checkout/tessal/tests/host/host_program.cpp" "" "$root"
echo "packages in $out:"
ls "$out"/*.deb
