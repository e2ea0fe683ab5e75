#!/usr/bin/env bash
# Installs what is missing, builds, prepares a sample event in event/ and
# starts the program on it.
set -euo pipefail
cd "$(dirname "$0")"
source tools/deps.sh
pd_install_missing

cmake -S . -B build >/dev/null
# Only the program and the sample-event tool: the tests and benches are
# built by ./test.sh.
cmake --build build -j"$(nproc)" --target prizedraw prepare_event

EVENT="$PWD/event"
if [ ! -f "$EVENT/data/系统设置.edb" ]; then
  build/tools/prepare_event --sample "$EVENT"
fi
cp build/app/prizedraw "$EVENT/prizedraw"
exec "$EVENT/prizedraw" "$@"
