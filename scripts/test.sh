#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds everything with AddressSanitizer and UndefinedBehaviorSanitizer, warnings as errors, and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."

# The run set and every test's tools; Dovecot's system service is kept off (the tests start their own).
scripts/install-deps.sh test
cmake -S . -B build -DKD5_SANITIZE=ON -DKD5_WERROR=ON -DKD5_BUILD_TESTS=ON -DKD5_BUILD_BENCH=ON >/dev/null
cmake --build build -j"$(nproc)"
cd build
ctest --output-on-failure -j"$(nproc)" --timeout 600
