#!/usr/bin/env bash
# The whole test run: installs what is needed, builds, then runs every test on a private
# session bus and a private X display, so it needs neither a desktop nor a bus of its own.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
bash scripts/build.sh

# The parser fuzzers need clang's libFuzzer; they get a build of their own.
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DLUMOTALK_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-fuzz -j"$(nproc)"

exec dbus-run-session -- bash scripts/run-tests.sh
