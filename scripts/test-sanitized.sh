#!/usr/bin/env bash
# Builds the core tests, the Bridge tests, the console and the fuzz targets
# with AddressSanitizer and UndefinedBehaviorSanitizer into build-asan/, runs
# those tests, then each fuzz target over its seeds and for 20 s more. Part of
# scripts/test.sh; runs on its own too once scripts/setup.sh has.
# `--build-only [targets...]` configures and builds (those targets) and stops.
#
# Any report fails the run, also one from a console that a test started and
# whose exit status it does not look at: the consoles write to the test's own
# error output, which ctest keeps whole in its log, and the log is searched.
set -euo pipefail
cd "$(dirname "$0")/.."

# clang, so that the fuzz targets (libFuzzer is clang's) link against the very
# libraries the sanitized tests run. A build folder made by another compiler
# is configured afresh: CMake keeps the compiler of a folder's first run.
export CC=${QUILLMARSH_CLANG:-clang-14} CXX=${QUILLMARSH_CLANGXX:-clang++-14}
if [ -f build-asan/CMakeCache.txt ] &&
   ! grep -q "^CMAKE_CXX_COMPILER:[A-Z]*=$(command -v "$CXX")\$" build-asan/CMakeCache.txt; then
  rm -rf build-asan/CMakeCache.txt build-asan/CMakeFiles
fi
cmake -S . -B build-asan -G Ninja -DQUILLMARSH_WERROR=ON -DQUILLMARSH_SHELL=OFF -DQUILLMARSH_BENCH=OFF \
  -DQUILLMARSH_SANITIZE=ON -DQUILLMARSH_FUZZ=ON >/dev/null
if [ "${1:-}" = "--build-only" ]; then
  shift
  cmake --build build-asan -j"$(nproc)" --target "${@:-all}"
  exit 0
fi
cmake --build build-asan -j"$(nproc)" --target core_tests bridge_tests quillmarsh-console fuzz_targets

# The Bridge tests start the console of their own build; it must be sanitized
# too. (clang links the sanitizer runtime into the program itself.) grep reads
# all of nm's output: with -q it could stop early, and nm's broken pipe would
# fail the pipeline under pipefail.
if ! nm build-asan/bin/quillmarsh-console | grep ' __asan_init$' >/dev/null; then
  echo "build-asan/bin/quillmarsh-console is not built with AddressSanitizer" >&2
  exit 1
fi

# The first finding ends the process, which then fails its test. (Reports of
# undefined behaviour ignore log_path next to AddressSanitizer: so none is set,
# and everything goes to standard error, where ctest collects it.)
export ASAN_OPTIONS="halt_on_error=1:detect_leaks=1:strict_init_order=1:detect_stack_use_after_return=1"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"

status=0
ctest --test-dir build-asan --output-on-failure -j"$(nproc)" --timeout 900 \
  --test-output-size-passed 100000000 --test-output-size-failed 100000000 || status=$?

log=build-asan/Testing/Temporary/LastTest.log
pattern='==[0-9]+==ERROR: [A-Za-z]+Sanitizer|:[0-9]+:[0-9]+: runtime error: '
if grep -Eq "$pattern" "$log"; then
  echo "Sanitizer reports in $log:" >&2
  grep -En -A20 "$pattern" "$log" >&2 || true
  status=1
fi

# Every input the outside world controls, fuzzed for a bounded time from its
# seeds; any finding fails the run.
bash scripts/fuzz.sh --built --fresh 20 || status=1
exit "$status"
