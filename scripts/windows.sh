#!/usr/bin/env bash
# The Windows build: installs the cross compilers and Wine when missing, builds every target
# for 32-bit Windows (build-win32) and runs the tests that need no Java runtime under Wine,
# in a throw-away prefix inside the build folder.
#
# Wine runs 32-bit Windows programs only where the kernel runs 32-bit Linux programs. Where
# it cannot (a kernel or hypervisor without 32-bit user mode), the tests run on a 64-bit
# Windows build of the same sources (build-win64) under Wine's 64-bit loader instead.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

runs_32bit_programs() {
  local probe
  probe=$(mktemp -d)
  trap 'rm -rf "$probe"' RETURN
  printf '.globl _start\n_start: movl $1, %%eax\n xorl %%ebx, %%ebx\n int $0x80\n' >"$probe/exit.s"
  as --32 -o "$probe/exit.o" "$probe/exit.s" && ld -m elf_i386 -o "$probe/exit" "$probe/exit.o" &&
    "$probe/exit" 2>/dev/null
}

configure_and_build() {  # configure_and_build <dir> <toolchain>
  cmake -S . -B "$1" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_TOOLCHAIN_FILE="cmake/toolchain-mingw-$2.cmake" >/dev/null
  cmake --build "$1" -j "$jobs"
}

# widl and Wine's OLE type descriptions build the WMI interfaces' proxy/stub library.
scripts/deps.sh binutils g++-mingw-w64-i686 mingw-w64-tools libwine-dev
if runs_32bit_programs; then
  # Wine's 32-bit half comes from the i386 architecture.
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    [ "$(id -u)" -eq 0 ] || { echo "Wine needs the i386 architecture: run as root" >&2; exit 1; }
    dpkg --add-architecture i386
    apt-get update -qq
  fi
  scripts/deps.sh wine wine32:i386
  echo "== Windows, 32-bit: build, and the tests under Wine"
  configure_and_build build-win32 i686
  ctest --test-dir build-win32 --output-on-failure -j "$jobs"
else
  scripts/deps.sh g++-mingw-w64-x86-64 wine wine64
  echo "== Windows, 32-bit: build"
  configure_and_build build-win32 i686
  echo "== Windows, 64-bit: build, and the tests under Wine (this machine runs no 32-bit code)"
  configure_and_build build-win64 x86_64
  ctest --test-dir build-win64 --output-on-failure -j "$jobs"
fi
