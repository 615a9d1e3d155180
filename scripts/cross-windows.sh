#!/usr/bin/env bash
# Cross-compiles the plug-in as a 32-bit Windows DLL and checks what a host relies on:
# the five exports at ordinals 1 to 5.
set -euo pipefail
cd "$(dirname "$0")/.."

cmake -S . -B build-win32 -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686-win32threads.cmake -DZQBLOG_BUILD_TESTS=OFF >/dev/null
cmake --build build-win32 -j "$(nproc 2>/dev/null || echo 2)" --target zqblog

dll=build-win32/plugin/ZQBlog.dll
test -f "$dll"
i686-w64-mingw32-objdump -f "$dll" | grep -q 'file format pei-i386'
echo "win32: $dll is a 32-bit PE DLL"
# A host loads the DLL with nothing beside it: it may import system DLLs only.
if i686-w64-mingw32-objdump -p "$dll" | sed -n 's/.*DLL Name: *//p' |
     grep -iE '^lib|mingw'; then
  echo "win32: $dll imports a mingw runtime DLL (above)" >&2
  exit 1
fi
if [ -f plugin/module/ZQBlog.def ]; then
  ./scripts/check-dll-exports.sh "$dll"
fi
