#!/usr/bin/env bash
# Builds the object-path fuzz target with clang (libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer) in build-fuzz and runs it for the given seconds (default 60).
# New inputs go to build-fuzz/corpus; the committed seeds in fuzz/corpus stay untouched.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}

cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DVELT_FUZZ=ON -DVELT_SANITIZE=address,undefined -DVELT_WITH_JAVA=OFF -DVELT_BUILD_TESTS=OFF \
  >/dev/null
cmake --build build-fuzz --target fuzz_objectpath

mkdir -p build-fuzz/corpus/objectpath build-fuzz/artifacts
build-fuzz/bin/fuzz_objectpath -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
  -artifact_prefix=build-fuzz/artifacts/ -print_final_stats=1 \
  build-fuzz/corpus/objectpath fuzz/corpus/objectpath
