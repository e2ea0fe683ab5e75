#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test headless.
#   ./test.sh             normal build in build/
#   ./test.sh --sanitize  AddressSanitizer + UndefinedBehaviorSanitizer build in build-asan/
set -euo pipefail
cd "$(dirname "$0")"
source tools/deps.sh
pd_install_missing

BUILD=build
FLAGS=(-DPD_WERROR=ON)
if [ "${1:-}" = "--sanitize" ]; then
  BUILD=build-asan
  FLAGS=(-DPD_WERROR=ON -DPD_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug)
fi
cmake -S . -B "$BUILD" "${FLAGS[@]}" >/dev/null
cmake --build "$BUILD" -j"$(nproc)"
export QT_QPA_PLATFORM=offscreen SDL_AUDIODRIVER=dummy
cd "$BUILD"
ctest --output-on-failure -j"$(nproc)"
