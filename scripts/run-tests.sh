#!/usr/bin/env bash
# Runs inside a private session bus: starts a private X display, then ctest and the fuzzers.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/xdisplay.sh
start_xdisplay

status=0
ctest --test-dir build --output-on-failure --timeout 600 || status=1

mkdir -p build-fuzz/corpus
for fuzzer in build-fuzz/bin/fuzz_*; do
    [ -x "$fuzzer" ] || continue
    name=$(basename "$fuzzer")
    mkdir -p "build-fuzz/corpus/$name"
    echo "== $name (bounded run)"
    "$fuzzer" -max_total_time="${FUZZ_SECONDS:-30}" -max_len=4096 -print_final_stats=0 \
        "build-fuzz/corpus/$name" 2>"build-fuzz/$name.log" || { status=1; tail -30 "build-fuzz/$name.log"; }
done
exit $status
