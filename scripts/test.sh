#!/usr/bin/env bash
# The whole test suite: installs what is missing, builds the release and the
# sanitizer (ASan + UBSan) configurations, runs every test in both, then
# gives each fuzz target a short run on its seed corpus.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh

jobs=2
# Most tests wait on the looper's polling and on Xvfb, not on the CPU.
ctest_jobs=4
ctest_args=(--output-on-failure -j"$ctest_jobs")

echo "== release build"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$jobs"
(cd build && ctest "${ctest_args[@]}")

# clang builds the sanitizer configuration in half the time gcc takes, and
# a second compiler over the same code catches what one of them lets by.
echo "== sanitizer build (ASan + UBSan)"
CC=clang CXX=clang++ cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DZYB_SANITIZE=ON >/dev/null
cmake --build build-asan -j"$jobs"
(cd build-asan && ASAN_OPTIONS=detect_leaks=0 ctest "${ctest_args[@]}")

echo "== fuzz targets (short runs)"
CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=Debug -DZYB_FUZZ=ON >/dev/null
cmake --build build-fuzz -j"$jobs"
bash scripts/fuzz.sh build-fuzz "${ZYB_FUZZ_SECONDS:-5}"
