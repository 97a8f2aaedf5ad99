#!/usr/bin/env bash
# Sets everything up and runs the whole test suite: a sanitizer build
# (AddressSanitizer and UndefinedBehaviorSanitizer, clang) with the fuzz
# targets, then the ordinary build, whose CTest summary ends the output.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
jobs=$(nproc)
fuzz_seconds=${SKERROW_FUZZ_SECONDS:-60}

echo "== sanitizer build (clang, ASan + UBSan) and fuzz targets"
# The portable core, the hosts and the platform; the desktop program and the
# Windows add-in are built and tested once, below.
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_COMPILER=clang++ \
  -DSKERROW_SANITIZE=ON -DSKERROW_FUZZ=ON -DSKERROW_BENCH=OFF -DSKERROW_QT=OFF -DSKERROW_WINDOWS=OFF >/dev/null
cmake --build build-asan -j"$jobs"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export LSAN_OPTIONS=suppressions=$PWD/tests/lsan.supp
(cd build-asan && ctest -j"$jobs" --output-on-failure)
tests/fuzz/run.sh "$fuzz_seconds" build-asan

echo "== build (g++) and the whole suite"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSKERROW_WINDOWS=ON >/dev/null
cmake --build build -j"$jobs"
cd build && ctest -j"$jobs" --output-on-failure
