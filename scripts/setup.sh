#!/usr/bin/env bash
# Installs every package the build, the tests and the cross-compile need, with apt-get,
# and the zh_CN.UTF-8 locale with which Wine runs the Windows tests in code page 936.
# Idempotent and quiet: it installs only what is missing.
#
#   scripts/setup.sh          everything
#   scripts/setup.sh --demo   only what building and running the demo needs (no test
#                             framework, fuzzer, cross-compiler or Wine)
set -euo pipefail

# What the plug-in, the host, the service and the CLI build from.
demo_packages=(
  cmake ninja-build g++ pkg-config
  libboost-dev libpugixml-dev libsqlite3-dev
  libcli11-dev nlohmann-json3-dev
  libzmq3-dev cppzmq-dev
)
packages=(
  "${demo_packages[@]}"
  libgtest-dev libgmock-dev libbenchmark-dev googletest curl
  clang-14 libfuzzer-14-dev libclang-rt-14-dev
  g++-mingw-w64-i686 binutils-mingw-w64-i686
  locales
)
# 32-bit Wine, which runs the Windows tests as the 32-bit programs that ship.
packages32=(wine wine32:i386)
# 64-bit Wine and compiler, for a kernel that cannot run 32-bit programs (see below).
packages64=(wine64 g++-mingw-w64-x86-64-posix g++-mingw-w64-x86-64-win32)

sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
export DEBIAN_FRONTEND=noninteractive

missing_of() {
  local p
  for p in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
      printf '%s\n' "$p"
    fi
  done
}

updated=0
install_missing() {
  local missing
  mapfile -t missing < <(missing_of "$@")
  if [ ${#missing[@]} -eq 0 ]; then return 0; fi
  echo "setup: installing ${missing[*]}"
  if [ "$updated" = 0 ]; then
    # A mirror in the middle of a sync serves index files that fail their checksums for
    # a while: try again, then go on with the indexes that did come (apt keeps them),
    # and let the install say whether what is needed is there.
    local attempt
    for attempt in 1 2 3; do
      if $sudo apt-get update -qq; then break; fi
      if [ "$attempt" = 3 ]; then
        echo "setup: apt-get update failed three times; going on with the indexes it got" >&2
      else
        echo "setup: apt-get update failed, trying again in 20 s" >&2
        sleep 20
      fi
    done
    updated=1
  fi
  $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

if [ "${1:-}" = "--demo" ]; then
  install_missing "${demo_packages[@]}"
  exit 0
elif [ -n "${1:-}" ]; then
  echo "usage: scripts/setup.sh [--demo]" >&2
  exit 2
fi

# wine32 is an i386 package.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $sudo dpkg --add-architecture i386
fi
install_missing "${packages[@]}"
# A mirror whose i386 index is broken (seen: a security index that failed its checksum
# for hours) cannot give 32-bit Wine; the Windows tests then run as 64-bit programs, as
# on a kernel without IA-32 emulation, and say so.
if ! install_missing "${packages32[@]}"; then
  echo "setup: 32-bit Wine cannot be installed from this mirror now;" \
       "the Windows tests will run as 64-bit programs" >&2
fi

# Some kernels run no 32-bit programs (no IA-32 emulation), so no 32-bit Wine: the
# Windows tests then also run as 64-bit programs, which need these.
if ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
  install_missing "${packages64[@]}"
fi

# Wine takes its ANSI code page from the locale: zh_CN.UTF-8 gives 936.
if ! locale -a 2>/dev/null | grep -qix 'zh_CN.utf8'; then
  echo "setup: generating the zh_CN.UTF-8 locale"
  $sudo localedef -i zh_CN -f UTF-8 zh_CN.UTF-8
fi
