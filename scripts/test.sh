#!/usr/bin/env bash
# Sets up, builds and runs the whole test suite once, with warnings as errors and under
# AddressSanitizer and UndefinedBehaviorSanitizer; then a short run of every fuzz target.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
jobs=$(nproc)
# One build serves both: the warnings of an instrumented -O1 build are a superset of those of
# an unoptimised one, and a second full build would double the run's time. Line tables only:
# the sanitizers' reports need no more.
cmake -S "$root" -B "$root/build-tests" -DCMAKE_BUILD_TYPE=Debug -DTFOLD_WERROR=ON -DTFOLD_SANITIZE=ON \
  -DCMAKE_CXX_FLAGS_DEBUG=-g1 >/dev/null
cmake --build "$root/build-tests" -j "$jobs"
# Many tests wait on a child process or a clock: twice as many at once as there are cores.
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir "$root/build-tests" -j $((jobs * 2)) --output-on-failure
"$root/fuzz/run.sh" 20
echo "All tests passed."
