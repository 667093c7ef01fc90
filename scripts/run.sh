#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds kd5lite and runs it: the notifier for real use when the settings name a lamp and a mail account, else the
# demo, which shows the whole system at work with the lamp simulator and a local mail server.
set -euo pipefail
cd "$(dirname "$0")/.."

# Only what building and running need: no test tools, and no mail server (the demo brings its own POP3 server).
scripts/install-deps.sh run
# The tests' own packages are not installed here, so they are not configured; scripts/test.sh turns them on again.
cmake -S . -B build -DKD5_BUILD_TESTS=OFF -DKD5_BUILD_BENCH=OFF >/dev/null
cmake --build build -j"$(nproc)" --target kd5lite kd5lite_ap kd5lite_op kd5lite-demo
unset KD5LITE_TIME_SCALE # shortened waits are for the tests and the demo only

# The settings directory as the programs find it.
dir="${CORVO_HOME:-${XDG_CONFIG_HOME:-$HOME/.config}/corvo}"
settings="$dir/corvo_kd5lite.ini"
has() { [ -f "$settings" ] && tr -d '\r' <"$settings" | grep -Eq "$1"; }

# A serial number of at least two characters (the first is not looked at) and one account with a server.
if has '^SerialNumber=..' && has '^ServerName=.'; then
    echo "kd5lite: settings in $dir. Change them with build/bin/kd5lite_ap (setup) or build/bin/kd5lite_op (options)."
    exec build/bin/kd5lite
fi
echo "kd5lite: no lamp and mail account in $settings yet, so here is the demo."
echo "To use a real lamp, enter it and your account in build/bin/kd5lite_ap, then run scripts/run.sh again."
exec build/bin/kd5lite-demo
