#!/usr/bin/env bash
# Builds the core tests, the Bridge tests and the console with AddressSanitizer
# and UndefinedBehaviorSanitizer into build-asan/ and runs those tests. Part of
# scripts/test.sh; runs on its own too once scripts/setup.sh has.
#
# Any report fails the run, also one from a console that a test started and
# whose exit status it does not look at: the consoles write to the test's own
# error output, which ctest keeps whole in its log, and the log is searched.
set -euo pipefail
cd "$(dirname "$0")/.."

cmake -S . -B build-asan -G Ninja -DQUILLMARSH_WERROR=ON -DQUILLMARSH_SHELL=OFF -DQUILLMARSH_BENCH=OFF \
  -DQUILLMARSH_SANITIZE=ON >/dev/null
cmake --build build-asan -j"$(nproc)" --target core_tests bridge_tests quillmarsh-console

# The Bridge tests start the console of their own build; it must be sanitized too.
if ! ldd build-asan/bin/quillmarsh-console | grep -q 'libasan\.so'; then
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
exit "$status"
