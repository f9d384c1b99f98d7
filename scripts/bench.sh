#!/usr/bin/env bash
# Builds the benchmarks (optimised, into build-bench/) and runs them: all of
# them, or those named (scripts/bench.sh versions_check save_endpoint). Each
# prints its figures, then one PASS or FAIL line per goal; this script prints
# a summary and exits non-zero when any goal was missed or a benchmark broke.
# Not part of scripts/test.sh or ctest: the verdicts are only fair on a quiet
# machine, so they are run on demand.
set -uo pipefail
cd "$(dirname "$0")/.."

# RelWithDebInfo, the build type of build/: the code measured is the code
# shipped. (GCC 12 at -O3 also reports a false -Wrestrict in core.)
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLMARSH_WERROR=ON \
  -DQUILLMARSH_TESTS=OFF -DQUILLMARSH_SHELL=OFF >/dev/null || exit 1
if ! log=$(cmake --build build-bench --target benchmarks -j"$(nproc)" 2>&1); then
  tail -n 40 <<<"$log"
  echo "bench.sh: the benchmarks did not build" >&2
  exit 1
fi

if [ $# -gt 0 ]; then
  names=("$@")
else
  names=()
  for source in bench/*.cpp; do names+=("$(basename "$source" .cpp)"); done
fi

verdicts=()
broken=()
for name in "${names[@]}"; do
  echo "== $name"
  output=$(build-bench/bin/"$name" 2>&1)
  status=$?
  echo "$output"
  while IFS= read -r line; do verdicts+=("$line"); done < <(grep -E '^(PASS|FAIL) ' <<<"$output")
  # A benchmark that fails without a FAIL line crashed or could not run.
  if [ $status -ne 0 ] && ! grep -qE '^FAIL ' <<<"$output"; then broken+=("$name (exit $status)"); fi
done

passed=0
failed=0
echo
echo "== summary"
for line in "${verdicts[@]}"; do
  echo "$line"
  case "$line" in
    PASS*) passed=$((passed + 1)) ;;
    FAIL*) failed=$((failed + 1)) ;;
  esac
done
for name in "${broken[@]}"; do echo "BROKEN $name"; done
echo "$passed goals passed, $failed failed, ${#broken[@]} benchmarks broke"
[ "$failed" -eq 0 ] && [ ${#broken[@]} -eq 0 ]
