#!/usr/bin/env bash
# Checks a cross-built ZQBlog.dll: the five exports at ordinals 1 to 5 and the
# resources a host and the registrar rely on.
set -euo pipefail
dll=${1:?usage: check-dll-exports.sh ZQBlog.dll}

table=$(i686-w64-mingw32-objdump -p "$dll")
base=$(printf '%s\n' "$table" | sed -n 's/.*Ordinal Base[[:space:]]*\([0-9]*\).*/\1/p' | head -n 1)
# "[Ordinal/Name Pointer] Table" rows: [index] name, the ordinal being index + base.
names=$(printf '%s\n' "$table" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' |
        sed -n 's/^[[:space:]]*\[[[:space:]]*\([0-9]*\)\][[:space:]]*\([A-Za-z_][A-Za-z0-9_@]*\)$/\1 \2/p')
fail=0
expect_export() {  # ordinal name
  if ! printf '%s\n' "$names" | awk -v b="$base" -v o="$1" -v n="$2" \
       '$1 + b == o && $2 == n { found = 1 } END { exit !found }'; then
    echo "win32: export $2 is not at ordinal $1" >&2
    fail=1
  fi
}
expect_export 1 DllCanUnloadNow
expect_export 2 DllGetClassObject
expect_export 3 DllRegisterServer
expect_export 4 DllUnregisterServer
expect_export 5 GetPluginObject

count=$(printf '%s\n' "$names" | grep -c .)
if [ "$count" -ne 5 ]; then
  echo "win32: expected exactly 5 exports, found $count" >&2
  fail=1
fi

# Resources: the registry script (type REGISTRY, id 101), the string table and the
# version block.
rsrc=$(mktemp)
trap 'rm -f "$rsrc"' EXIT
i686-w64-mingw32-objcopy -O binary --only-section=.rsrc "$dll" "$rsrc"
raw=$(od -An -tx1 "$rsrc" | tr -d ' \n')
for text in "REGISTRY" "NoRemove AppID" "FileDescription" "1.0.2.17" "ZQBlog 2"; do
  hex=$(printf '%s' "$text" | od -An -tx1 | tr -d ' \n')
  wide=$(printf '%s' "$text" | iconv -f utf-8 -t utf-16le | od -An -tx1 | tr -d ' \n')
  if [[ "$raw" != *"$hex"* && "$raw" != *"$wide"* ]]; then
    echo "win32: resource text '$text' not found" >&2
    fail=1
  fi
done
[ "$fail" -eq 0 ] && echo "win32: exports 1-5 and resources present"
exit "$fail"
