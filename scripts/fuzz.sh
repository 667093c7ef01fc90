#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the libFuzzer targets in fuzz/ with clang and runs each for SECONDS (default 60), two at a time. One line
# per target with its executions and whether anything was found, then the totals. Exit status 1 when anything was
# found; the inputs that did it are kept in build-fuzz/findings/<target>/. Not part of scripts/test.sh.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${1:-60}"
parallel="${KD5_FUZZ_PARALLEL:-2}"
root="$PWD"
build="$root/build-fuzz"

# clang and its fuzzer runtime (libclang-rt-14-dev on Debian 12), when a fuzzer cannot be linked yet.
fuzzer_links() {
    local dir
    dir="$(mktemp -d)"
    printf 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char*, unsigned long) { return 0; }\n' >"$dir/t.cpp"
    local rc=0
    clang++ -fsanitize=fuzzer,address,undefined "$dir/t.cpp" -o "$dir/t" >/dev/null 2>&1 || rc=1
    rm -rf "$dir"
    return $rc
}
if ! command -v clang++ >/dev/null 2>&1 || ! fuzzer_links; then
    echo "Installing clang and its fuzzer runtime"
    sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    export DEBIAN_FRONTEND=noninteractive
    $sudo apt-get update -qq
    $sudo apt-get install -y -qq --no-install-recommends clang libclang-rt-14-dev
fi
scripts/install-deps.sh run

launcher=()
command -v ccache >/dev/null 2>&1 && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
CC=clang CXX=clang++ cmake -S . -B "$build" -DKD5_FUZZ=ON -DKD5_BUILD_GUI=OFF -DKD5_BUILD_TESTS=OFF \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}" >/dev/null
cmake --build "$build" -j2 --target kd5_fuzz >/dev/null

# Each run grows a working corpus of its own from the seeds in fuzz/corpus/<target>/, which stay as they are.
run_one() {
    local name="$1"
    local work="$build/runs/$name"
    local findings="$build/findings/$name"
    rm -rf "$work" "$findings"
    mkdir -p "$work/corpus" "$work/tmp" "$findings"
    local rc=0
    # Targets that need files (the mail check's error log) make them under TMPDIR, inside the build folder.
    TMPDIR="$work/tmp" UBSAN_OPTIONS=print_stacktrace=1 "$build/fuzz/fuzz_$name" -max_total_time="$seconds" -timeout=10 \
        -print_final_stats=1 -artifact_prefix="$findings/" "$work/corpus" "$root/fuzz/corpus/$name" \
        >"$work/log" 2>&1 || rc=$?
    echo "$rc" >"$work/status"
}

# Every target has its seed folder; the folders name the targets.
targets=()
for seeds in fuzz/corpus/*/; do
    targets+=("$(basename "$seeds")")
done
for name in "${targets[@]}"; do
    run_one "$name" &
    while [ "$(jobs -rp | wc -l)" -ge "$parallel" ]; do
        wait -n || true
    done
done
wait

total=0
found=0
for name in "${targets[@]}"; do
    work="$build/runs/$name"
    runs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/log" | tail -n 1)"
    runs="${runs:-0}"
    total=$((total + runs))
    artefacts="$(find "$build/findings/$name" -type f | wc -l)"
    if [ "$(cat "$work/status")" -ne 0 ] || [ "$artefacts" -ne 0 ]; then
        found=$((found + 1))
        printf '%-16s %12s executions  FOUND: %s (log: %s)\n' "$name" "$runs" \
            "$(find "$build/findings/$name" -type f | head -n 1)" "$work/log"
    else
        printf '%-16s %12s executions  nothing found\n' "$name" "$runs"
    fi
done
printf 'total: %d targets, %d executions in %ss each, %d with findings\n' "${#targets[@]}" "$total" "$seconds" "$found"
[ "$found" -eq 0 ]
