#!/usr/bin/env bash
# Sets up a fresh machine, builds the command-line host with the plug-in and its helper
# library, and runs "zqblog demo": a guided session against the reference blog service
# that zqblog embeds, with a fresh temporary data folder (removed afterwards).
# Extra arguments go to zqblog before the command (for example --json or --user NAME).
# ZQBLOG_BUILD_DIR chooses the build folder (default build).
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/setup.sh --demo

build=${ZQBLOG_BUILD_DIR:-build}
jobs=$(nproc 2>/dev/null || echo 2)
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZQBLOG_BUILD_TESTS=OFF \
  >/dev/null
cmake --build "$build" -j "$jobs" --target zqblog-cli zqblog Elvatrix

data=$(mktemp -d "${TMPDIR:-/tmp}/zqblog-demo.XXXXXX")
trap 'rm -rf "$data"' EXIT
"$build/cli/zqblog" --data "$data" "$@" demo
