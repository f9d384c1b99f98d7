#!/usr/bin/env bash
# Builds the benchmarks (optimised, into build-bench/) and runs them: all of
# them, or those named (scripts/bench.sh versions_check keystroke_work). Each
# prints its figures, then one PASS or FAIL line per goal; this script prints
# a summary and exits non-zero when any goal was missed or a benchmark broke.
# Not part of scripts/test.sh or ctest: the verdicts are only fair on a quiet
# machine, so they are run on demand.
#
# Two kinds: bench/*.cpp time our code headless; bench/page/*.py drive the
# test build of the program under a private Xvfb (as the end-to-end tests do)
# and measure the editor page against floor pages in the same program. These
# also need the page's packages (npm ci from its lockfile, kept in
# build-bench/page-modules) for the bare editor they are compared with.
set -uo pipefail
cd "$(dirname "$0")/.."

page_benchmark() { [ -f "bench/page/$1.py" ] && [ "$1" != pagebench ]; }

if [ $# -gt 0 ]; then
  names=("$@")
else
  names=()
  for source in bench/*.cpp; do names+=("$(basename "$source" .cpp)"); done
  for source in bench/page/*.py; do
    name=$(basename "$source" .py)
    if page_benchmark "$name"; then names+=("$name"); fi
  done
fi
targets=()
for name in "${names[@]}"; do
  if page_benchmark "$name"; then want=quillmarsh-test; else want=benchmarks; fi
  [[ " ${targets[*]-} " == *" $want "* ]] || targets+=("$want")
done

# RelWithDebInfo, the build type of build/: the code measured is the code
# shipped. (GCC 12 at -O3 also reports a false -Wrestrict in core.)
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLMARSH_WERROR=ON \
  -DQUILLMARSH_TESTS=OFF -DQUILLMARSH_SHELL=ON >/dev/null || exit 1
if ! log=$(cmake --build build-bench --target "${targets[@]}" -j"$(nproc)" 2>&1); then
  tail -n 40 <<<"$log"
  echo "bench.sh: the benchmarks did not build" >&2
  exit 1
fi

# The bare editor: bench/page/bare-editor.js bundled from the page's own
# packages, installed again only when the lockfile changed.
build_bare_editor() {
  local modules=build-bench/page-modules source=resources/editor/src
  if ! cmp -s "$source/package-lock.json" "$modules/package-lock.json" || [ ! -d "$modules/node_modules" ]; then
    rm -rf "$modules" && mkdir -p "$modules" &&
      cp "$source/package.json" "$source/package-lock.json" "$modules/" &&
      (cd "$modules" && npm ci --ignore-scripts --no-audit --no-fund --loglevel=error >/dev/null) || return 1
  fi
  cp bench/page/bare-editor.js "$modules/" &&
    "$modules/node_modules/.bin/esbuild" "$modules/bare-editor.js" --bundle --format=esm --target=es2022 \
      --minify --log-level=warning --outfile=build-bench/page/bare.js
}
if [[ " ${targets[*]} " == *" quillmarsh-test "* ]] && ! build_bare_editor; then
  echo "bench.sh: the bare editor for the page benchmarks did not build (Node 18+ and npm needed)" >&2
  exit 1
fi

verdicts=()
broken=()
for name in "${names[@]}"; do
  echo "== $name"
  if page_benchmark "$name"; then
    output=$(python3 bench/page/"$name".py --program build-bench/bin/quillmarsh-test --bare build-bench/page/bare.js 2>&1)
  else
    output=$(build-bench/bin/"$name" 2>&1)
  fi
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
