#!/usr/bin/env bash
# Installs what is needed, builds the kit, then builds and runs the whole test suite under
# AddressSanitizer and UndefinedBehaviorSanitizer, the hot-plug tests under ThreadSanitizer,
# every fuzz target for a short while, and the Windows cross-build with its tests under wine.
set -euo pipefail
cd "$(dirname "$0")/.."

# The packages only: the tests build their own sanitizer trees, not build/.
./scripts/setup.sh --packages-only

jobs="$(nproc)"
phase() { echo "== $1 (${SECONDS} s since the start)"; }

# The Windows dependencies (cross-built from Debian's sources, cached outside the tree) are built
# in the background at the lowest priority while the Linux phases run: the cores those leave idle
# build them. The Windows phase waits for them; whatever did not get built there is built then.
windows_tests="${KIT_WINDOWS_TESTS:-1}"
if [ "$windows_tests" != 0 ]; then
  ./scripts/windows-setup.sh
  windows_deps_log=$(mktemp)
  # In this session, so that its priority counts against the other phases' (a session of its own
  # would get an equal share of the cores), and ended with the script when a Linux phase fails.
  (for target in i686 x86_64; do
    nice -n 19 ./scripts/build-windows.sh "$target" deps || echo "dependencies for $target: failed ($?)"
  done) > "$windows_deps_log" 2>&1 &
  windows_deps_pid=$!
  kill_tree() {
    local child
    for child in $(pgrep -P "$1"); do kill_tree "$child"; done
    kill "$1" 2>/dev/null || true
  }
  trap 'kill_tree "$windows_deps_pid"; rm -f "$windows_deps_log"' EXIT
fi
phase "AddressSanitizer build and tests"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DKIT_SANITIZE=address,undefined
cmake --build build-asan -j"$jobs"

export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
ctest --test-dir build-asan --output-on-failure -j"$jobs" --timeout 600

phase "ThreadSanitizer build and hot-plug tests"
# The hot-plug tests once more under ThreadSanitizer: host threads race the listener thread.
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=Debug -DKIT_SANITIZE=thread
cmake --build build-tsan -j"$jobs" --target tessal_key_tests
TSAN_OPTIONS="${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1}" \
  ctest --test-dir build-tsan --output-on-failure -j"$jobs" --timeout 600 -R '^HotplugTest\.'

# Each parser of outside bytes under libFuzzer for 20 s (clang build): a parser that regressed
# fails here. Two targets run at once; every one still gets its whole time.
phase "Fuzz targets"
FUZZ_PARALLEL="$jobs" ./scripts/fuzz.sh "${FUZZ_SECONDS:-20}"

# The Windows DLLs, 32-bit and 64-bit, cross-built with mingw-w64 (their dependencies from
# Debian's sources, cached outside the tree) and tested under wine. KIT_WINDOWS_TESTS=0 leaves
# them out.
if [ "$windows_tests" != 0 ]; then
  phase "Windows build and tests under wine"
  windows_start=$SECONDS
  wait "$windows_deps_pid" || true
  echo "== Windows dependencies built in the background:"
  grep '^build-windows:\|^dependencies' "$windows_deps_log" || true
  # The signing test under wine uses the AddressSanitizer tree's cloudsim.
  KIT_LINUX_CLOUDSIM="${KIT_LINUX_CLOUDSIM:-$PWD/build-asan/bin/cloudsim}" ./scripts/test-windows.sh
  echo "== Windows build and tests under wine took $((SECONDS - windows_start)) s"
fi
phase "Done"
