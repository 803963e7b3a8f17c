#!/usr/bin/env bash
# Builds the fuzz targets (the object-path parser, the MOF reader, the WQL parser) with clang (libFuzzer,
# AddressSanitizer and UndefinedBehaviorSanitizer) in build-fuzz and runs them for the given
# seconds in all (default 60), split evenly between them.
# New inputs go to build-fuzz/corpus; the committed seeds in fuzz/corpus stay untouched.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}

cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DVELT_FUZZ=ON -DVELT_SANITIZE=address,undefined -DVELT_WITH_JAVA=OFF -DVELT_BUILD_TESTS=OFF \
  >/dev/null
cmake --build build-fuzz --target fuzz_objectpath fuzz_mof fuzz_wql

# libFuzzer reads a time of 0 as no limit.
share=$((seconds / 3 > 0 ? seconds / 3 : 1))
mkdir -p build-fuzz/artifacts
for target in objectpath mof wql; do
  mkdir -p "build-fuzz/corpus/$target"
  "build-fuzz/bin/fuzz_$target" -max_total_time="$share" -timeout=10 \
    -rss_limit_mb=2048 -artifact_prefix=build-fuzz/artifacts/ -print_final_stats=1 \
    "build-fuzz/corpus/$target" "fuzz/corpus/$target"
done
