#!/usr/bin/env bash
# Builds the notifier and starts it for real use: real timing, the settings of the user's own settings directory.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake -S . -B build >/dev/null
cmake --build build -j"$(nproc)" --target kd5lite
unset KD5LITE_TIME_SCALE # shortened waits are for the tests and the demo only
exec build/bin/kd5lite
