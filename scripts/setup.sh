#!/usr/bin/env bash
# Installs the Debian packages the kit needs, then configures and builds it into build/.
# Idempotent; meant to run as root (or with sudo available) on Debian 12.
#   scripts/setup.sh [--packages-only]    the option installs the packages and builds nothing
set -euo pipefail
cd "$(dirname "$0")/.."

PACKAGES=(
  build-essential cmake pkg-config git
  libgtest-dev
  libssl-dev openssl
  libcurl4-openssl-dev zlib1g-dev
  liblog4cplus-dev
  rapidjson-dev
  libtinyxml2-dev
  libudev-dev
  tzdata
  libcpp-httplib-dev
  libreoffice-writer libreoffice-calc libreoffice-dev libreoffice-dev-common
  fonts-crosextra-carlito fonts-crosextra-caladea fonts-liberation2
  poppler-utils
  help2man
  nginx-light python3-yaml curl
  clang-14 libfuzzer-14-dev
)

./scripts/install-packages.sh "${PACKAGES[@]}"
[ "${1:-}" != --packages-only ] || exit 0

BUILD_DIR="${BUILD_DIR:-build}"
cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-RelWithDebInfo}" ${CMAKE_ARGS:-}
cmake --build "$BUILD_DIR" -j"$(nproc)"
