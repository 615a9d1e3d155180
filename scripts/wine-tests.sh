#!/usr/bin/env bash
# Builds the plug-in's tests as 32-bit Windows programs with mingw-w64, beside the DLL,
# and runs them under Wine in code page 936 (LANG=zh_CN.UTF-8), in a Wine prefix of
# their own under the build folder. Then, with the DLL as it ships (build-win32, made by
# scripts/cross-windows.sh when missing): registers and unregisters it with regsvr32 and
# checks the registry with reg query; and runs the small host zqblog_load_cycles.exe,
# which loads, uses and frees it a thousand times.
#
# A kernel without IA-32 emulation runs no 32-bit program, hence no 32-bit Wine: there
# the 32-bit tests are built (they must compile and link) and the same tests, built for
# 64-bit Windows, run under 64-bit Wine instead. ZQBLOG_WINE_BITS=64 forces that.
set -euo pipefail
cd "$(dirname "$0")/.."

jobs=$(nproc 2>/dev/null || echo 2)
dir=build-win32-tests
targets=(zqblog zqblog_tests platform_tests common_tests zqblog_load_cycles)
# No optimisation and no debug information: the quickest to build and link; assertions on.
configure=(-G Ninja -DCMAKE_BUILD_TYPE= -DZQBLOG_BUILD_TESTS=ON)

start=$SECONDS
cmake --no-warn-unused-cli -S . -B "$dir" "${configure[@]}" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake >/dev/null
cmake --build "$dir" -j "$jobs" --target "${targets[@]}"

bits=${ZQBLOG_WINE_BITS:-}
if [ -z "$bits" ]; then
  if /usr/lib/wine/wine --version >/dev/null 2>&1; then bits=32; else bits=64; fi
fi
if [ "$bits" = 32 ]; then
  run_dir=$dir
  loader=/usr/lib/wine/wine
else
  echo "wine: this machine runs no 32-bit programs; the tests run built for 64-bit Windows"
  run_dir=$dir/x64
  cmake --no-warn-unused-cli -S . -B "$run_dir" "${configure[@]}" \
    -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake >/dev/null
  cmake --build "$run_dir" -j "$jobs" --target "${targets[@]}"
  loader=/usr/lib/wine/wine64
fi
echo "wine: built in $((SECONDS - start)) s"

export WINELOADER=$loader WINEDEBUG=-all LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8
export WINEPREFIX=$PWD/$dir/wineprefix-$bits WINEARCH=win$bits
start=$SECONDS
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  "$loader" wineboot -i >/dev/null 2>&1 || true
  /usr/lib/wine/wineserver -w  # the registry files are written when the server ends
  test -f "$WINEPREFIX/system.reg"
  echo "wine: prefix $WINEPREFIX made in $((SECONDS - start)) s"
fi

# The process ANSI code page must be 936, or the conversion tests prove nothing.
acp_program=$run_dir/wine_acp.exe
if [ ! -f "$acp_program" ]; then
  compiler=i686-w64-mingw32-gcc
  if [ "$bits" = 64 ]; then compiler=x86_64-w64-mingw32-gcc; fi
  printf '#include <windows.h>\n#include <stdio.h>\nint main(void) { printf("%%u\\n", GetACP()); return 0; }\n' |
    "$compiler" -x c -o "$acp_program" -
fi
acp=$("$loader" "$acp_program" | tr -d '\r')
if [ "$acp" != 936 ]; then
  echo "wine: the ANSI code page is $acp, not 936 (is the zh_CN.UTF-8 locale there?)" >&2
  exit 1
fi

start=$SECONDS
fail=0
for program in platform/platform_tests.exe common/common_tests.exe plugin/zqblog_tests.exe; do
  echo "wine: $program ($bits-bit, code page $acp)"
  folder=$run_dir/$(dirname "$program")
  report=$(basename "$program" .exe).xml
  rm -f "$folder/$report"
  # From its own folder: zqblog_tests.exe loads the ZQBlog.dll beside it. A program that
  # crashes may still leave Wine with status 0: the report decides, and it is written
  # only at the end of a complete run.
  (cd "$folder" && "$loader" "./$(basename "$program")" --gtest_brief=1 \
      "--gtest_output=xml:$report") || fail=1
  summary=$(sed -n 's/.*<testsuites tests="\([0-9]*\)" failures="\([0-9]*\)" disabled="[0-9]*" errors="\([0-9]*\)".*/\1 \2 \3/p' \
              "$folder/$report" 2>/dev/null || true)
  read -r tests failures errors <<<"${summary:-0 1 1}"
  if [ "$tests" -eq 0 ] || [ "$failures" -ne 0 ] || [ "$errors" -ne 0 ]; then
    echo "wine: $program did not pass (tests $tests, failures $failures, errors $errors)" >&2
    fail=1
  fi
done
echo "wine: ran in $((SECONDS - start)) s"

# The DLL as it ships: 32-bit from cross-windows.sh, or the same build for 64-bit Windows.
if [ "$bits" = 32 ]; then
  [ -f build-win32/plugin/ZQBlog.dll ] || ./scripts/cross-windows.sh >/dev/null
  shipped=build-win32/plugin/ZQBlog.dll
else
  cmake --no-warn-unused-cli -S . -B "$dir/x64-dll" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DZQBLOG_BUILD_TESTS=OFF -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64-win32threads.cmake >/dev/null
  cmake --build "$dir/x64-dll" -j "$jobs" --target zqblog
  shipped=$dir/x64-dll/plugin/ZQBlog.dll
fi

# Registration: the AppID keys, then what unregistration removes and keeps. A key of
# another application under AppID must survive, and AppID itself (NoRemove).
appid='{BB667777-FF8C-4506-9C69-8CB46480C1C1}'
other='HKCR\AppID\{0E0E0E0E-0000-4000-8000-00000000ABCD}'
query() { "$loader" reg query "$@" >/dev/null 2>&1; }
value_of() {  # reg writes code page 936: sed reads bytes
  "$loader" reg query "$@" 2>/dev/null | tr -d '\r' | LC_ALL=C sed -n 's/.*REG_SZ *//p'
}
dll_path=$(cd "$(dirname "$shipped")" && pwd)/$(basename "$shipped")
registration_fail() { echo "wine: registration: $1" >&2; fail=1; }
"$loader" reg add "$other" /ve /d other /f >/dev/null 2>&1
if ! "$loader" regsvr32 /s "Z:$dll_path"; then registration_fail "regsvr32 failed"; fi
[ "$(value_of "HKCR\\AppID\\$appid" /ve)" = ZQBlog ] ||
  registration_fail "AppID\\$appid has no default value ZQBlog"
[ "$(value_of 'HKCR\AppID\ZQBlog.DLL' /v AppID)" = "$appid" ] ||
  registration_fail "AppID\\ZQBlog.DLL has no AppID value $appid"
if ! "$loader" regsvr32 /s /u "Z:$dll_path"; then registration_fail "regsvr32 /u failed"; fi
query "HKCR\\AppID\\$appid" && registration_fail "AppID\\$appid stayed after /u"
query 'HKCR\AppID\ZQBlog.DLL' && registration_fail "AppID\\ZQBlog.DLL stayed after /u"
query 'HKCR\AppID' || registration_fail "AppID itself went with /u"
query "$other" || registration_fail "another application's AppID key went with /u"
"$loader" reg delete "$other" /f >/dev/null 2>&1 || true
echo "wine: regsvr32 registered and unregistered $shipped ($bits-bit)"

# The small host, beside the shipped DLL and the host's helper library.
cycles_dir=$dir/load-cycles-$bits
rm -rf "$cycles_dir"
mkdir -p "$cycles_dir"
cp "$shipped" "$run_dir/plugin/zqblog_load_cycles.exe" "$run_dir/plugin/Elvatrix.dll" "$cycles_dir/"
(cd "$cycles_dir" && "$loader" ./zqblog_load_cycles.exe 1000) || fail=1
exit "$fail"
