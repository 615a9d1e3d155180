#!/usr/bin/env bash
# Sets up a fresh machine and passes every test:
#   1. every test, built with warnings, under AddressSanitizer + UndefinedBehaviorSanitizer;
#   2. every test labelled "threaded" (the programs that run threads) under ThreadSanitizer;
#   3. the libraries and programs (no tests) built with clang-14's thread-safety analysis:
#      every lock annotation (common/ThreadSafety.h) checked, a violation an error;
#   4. every libFuzzer target of fuzz/ for a short, fixed number of inputs (clang-14);
#   5. the 32-bit Windows DLL cross-compiled with mingw-w64, its exports checked;
#   6. under Wine in code page 936: the plug-in's tests built for Windows, the DLL's
#      registration, and a small host loading, using and freeing it a thousand times.
# ZQBLOG_PLAIN_BUILD=1 adds the tests in an optimised build without sanitizers first.
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/setup.sh

jobs=$(nproc 2>/dev/null || echo 2)

if [ "${ZQBLOG_PLAIN_BUILD:-0}" = 1 ]; then
  echo "== build and test"
  cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZQBLOG_BUILD_TESTS=ON \
    >/dev/null
  cmake --build build -j "$jobs"
  ctest --test-dir build --output-on-failure -j "$jobs"
fi

echo "== AddressSanitizer + UndefinedBehaviorSanitizer"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DZQBLOG_SANITIZE=address >/dev/null
cmake --build build-asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-asan --output-on-failure -j "$jobs"

echo "== ThreadSanitizer (every test labelled threaded)"
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DZQBLOG_SANITIZE=thread >/dev/null
cmake --build build-tsan -j "$jobs"
TSAN_OPTIONS="halt_on_error=1 suppressions=$PWD/scripts/tsan.supp" \
  ctest --test-dir build-tsan --output-on-failure -j "$jobs" -L threaded

echo "== Clang thread-safety analysis (the libraries and programs)"
CXX=clang++-14 CC=clang-14 cmake -S . -B build-tsa -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DZQBLOG_THREAD_SAFETY=ON -DZQBLOG_BUILD_TESTS=OFF >/dev/null
cmake --build build-tsa -j "$jobs"

echo "== Fuzz targets (a short run each)"
./scripts/fuzz.sh --quick

echo "== Windows DLL (i686-w64-mingw32)"
./scripts/cross-windows.sh

echo "== Windows tests under Wine"
./scripts/wine-tests.sh

echo "== all tests passed"
