#!/usr/bin/env bash
# The whole network fault matrix: builds the host's tests in the AddressSanitizer build
# (build-asan, configured by scripts/test.sh) and runs every (operation, fault) cell of
# FaultMatrixTest through the real host and plug-in against the reference service, then
# prints the matrix. Leaks are reported when the program exits. Extra arguments go to
# the test program (e.g. --gtest_filter='*GetAlbumList*').
# The exit status is the test program's: non-zero when a cell fails or something leaks.
set -euo pipefail
cd "$(dirname "$0")/.."

jobs=${ZQBLOG_JOBS:-2}
if [ ! -f build-asan/build.ninja ]; then
  cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DZQBLOG_SANITIZE=address >/dev/null
fi
ninja -C build-asan -j "$jobs" host/host_tests

ZQBLOG_FAULT_MATRIX=full ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ./build-asan/host/host_tests --gtest_filter='Cells/FaultMatrixTest.*' "$@"
