#!/usr/bin/env bash
# Builds the kit for Windows and runs every test the Windows build trees register under wine:
#   scripts/test-windows.sh [i686] [x86_64]        (both when none is named)
# Each target is built by scripts/build-windows.sh into build-windows-<target>/, its test programs
# run one at a time (ctest) in a wine prefix of that tree's own, and its DLLs' export tables are
# checked by scripts/check-windows-exports.sh. scripts/windows-setup.sh installs the tools.
# Where 32-bit wine cannot start (a kernel without 32-bit programs and no qemu emulator registered
# by scripts/i386-emulation.sh) only the i686 DLLs the export checks read and parlux.exe are built
# (KIT_EXPORT_TARGETS), and its tests are reported as not run. The signing test under wine reaches a cloudsim of this machine: KIT_LINUX_CLOUDSIM, else
# one built into build-windows-cloudsim/.
set -euo pipefail
cd "$(dirname "$0")/.."

targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(i686 x86_64)
log() { echo "test-windows: $*" >&2; }

# The wine loader of a target, as the toolchain files choose it.
wine_for() {
  if [ "$1" = x86_64 ] && [ -x /usr/lib/wine/wine64 ]; then
    echo /usr/lib/wine/wine64
  else
    echo wine
  fi
}

# A cloudsim for this machine, built once (without the test suites) unless one is named.
linux_cloudsim() {
  if [ -n "${KIT_LINUX_CLOUDSIM:-}" ]; then
    echo "$KIT_LINUX_CLOUDSIM"
    return
  fi
  cmake -S . -B build-windows-cloudsim -DCMAKE_BUILD_TYPE=Release -DKIT_BUILD_TESTS=OFF >&2
  cmake --build build-windows-cloudsim -j"$(nproc)" --target cloudsim >&2
  echo "$PWD/build-windows-cloudsim/bin/cloudsim"
}

failed=0
not_run=()
for target in "${targets[@]}"; do
  build=build-windows-$target
  start=$SECONDS
  loader=$(wine_for "$target")
  export WINEPREFIX=$PWD/$build/wine WINEDEBUG=-all,err+module
  [ "$loader" = wine ] || export WINELOADER=$loader
  if "$loader" --version >/dev/null 2>&1; then
    cloudsim=$(linux_cloudsim)
    # Release: the same code as RelWithDebInfo, compiled a third faster without debug information.
    BUILD_TYPE=${BUILD_TYPE:-Release} BUILD_DIR=$build \
      CMAKE_ARGS="${CMAKE_ARGS:-} -DKIT_BUILD_TESTS=ON -DKIT_LINUX_CLOUDSIM=$cloudsim" \
      ./scripts/build-windows.sh "$target"
  else
    BUILD_TYPE=${BUILD_TYPE:-Release} BUILD_DIR=$build CMAKE_ARGS="${CMAKE_ARGS:-} -DKIT_BUILD_TESTS=OFF" \
      BUILD_TARGETS="${KIT_EXPORT_TARGETS:-tessal vornic softkey parlux}" ./scripts/build-windows.sh "$target"
  fi
  ./scripts/check-windows-exports.sh "$build" || failed=1
  if ! "$loader" --version >/dev/null 2>&1; then
    log "$target: this machine cannot start $loader (a kernel without 32-bit programs?): DLLs built and export tables checked, tests NOT run"
    not_run+=("$target")
    unset WINELOADER
    continue
  fi
  # The prefix is made before the first test, so that no test's time-out includes it.
  "$loader" wineboot --init >/dev/null 2>&1 || true
  wineserver -w || true
  # One test program at a time: they share the prefix's wine server and its C: drive. Each runs
  # all its tests in one wine process; --verbose puts every test's result in the log.
  ctest --test-dir "$build" --verbose --timeout 300 || failed=1
  wineserver -k || true
  log "$target: built and tested in $((SECONDS - start)) s"
  unset WINELOADER
done

[ ${#not_run[@]} -eq 0 ] || log "tests not run for: ${not_run[*]}"
exit "$failed"
