#!/usr/bin/env bash
# Kills a zqblog shell with SIGKILL at random moments while it changes albums and
# rewrites the album list's cache file and settings (1,000 kills unless a count is
# given), checking after each kill that every file is whole and that the next run
# recovers; prints the table of where the kills landed.
#   scripts/crash-safety.sh [KILLS]
set -euo pipefail
cd "$(dirname "$0")/.."
kills="${1:-1000}"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZQBLOG_BUILD_TESTS=ON >/dev/null
cmake --build build --target cli_tests zqblog-cli
cd build/cli
ZQBLOG_CRASH_KILLS="$kills" ./cli_tests --gtest_filter='CrashSafetyTest.*'
