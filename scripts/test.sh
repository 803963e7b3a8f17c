#!/usr/bin/env bash
# Builds everything and runs every test: the main suite, then the tests that never load the
# Java VM again under AddressSanitizer with UndefinedBehaviorSanitizer and under
# ThreadSanitizer, and fuzzes the object-path parser, the MOF reader and the WQL parser for a minute.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh

jobs=$(nproc)
# A compiler cache, where the machine has one, serves every build folder of every clone alike.
if command -v ccache >/dev/null; then
  export CMAKE_C_COMPILER_LAUNCHER=ccache CMAKE_CXX_COMPILER_LAUNCHER=ccache
  export CCACHE_BASEDIR=$PWD CCACHE_NOHASHDIR=1
fi
build() {  # build <dir> <cmake args...>
  local dir=$1
  shift
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
}

echo "== main build and every test"
build build
ctest --test-dir build --output-on-failure -j "$jobs"

echo "== fuzzing the object-path parser, the MOF reader and the WQL parser for a bounded time"
scripts/fuzz.sh "${VELT_FUZZ_SECONDS:-60}"

echo "== AddressSanitizer + UndefinedBehaviorSanitizer, tests without the Java VM"
build build-asan -DVELT_SANITIZE=address,undefined -DVELT_WITH_JAVA=OFF
ctest --test-dir build-asan --output-on-failure -j "$jobs" -L nojvm

echo "== ThreadSanitizer, tests without the Java VM"
build build-tsan -DVELT_SANITIZE=thread -DVELT_WITH_JAVA=OFF
TSAN_OPTIONS="halt_on_error=1 suppressions=$PWD/tests/tsan.supp" ctest --test-dir build-tsan --output-on-failure -j "$jobs" -L nojvm

echo "== Windows: cross build, and the tests without the Java VM under Wine"
scripts/windows.sh
