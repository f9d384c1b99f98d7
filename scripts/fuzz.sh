#!/usr/bin/env bash
# Runs every fuzz target for a while: `scripts/fuzz.sh [seconds]` (default 300
# each) builds them into build-asan/ (clang, AddressSanitizer and
# UndefinedBehaviorSanitizer, the same build scripts/test-sanitized.sh makes),
# runs each over its seeds, then fuzzes it. The corpus grows in
# build-asan/fuzz/corpus/<Name>/ and is kept for the next run; the seeds in
# tests/fuzz/corpus/ are only read. Findings land in build-asan/fuzz/findings/.
#
# `--only <Name>` runs one target (RequestFrame, PathRules, ...).
# scripts/test-sanitized.sh calls it as `scripts/fuzz.sh --built --fresh 20`:
# no build of its own, and a corpus started afresh from the seeds, so every CI
# run asks the same of the code.
set -euo pipefail
cd "$(dirname "$0")/.."

build=1
fresh=0
only=
while [ $# -gt 0 ]; do
  case "$1" in
    --built) build=0; shift ;;
    --fresh) fresh=1; shift ;;
    --only) only=$2; shift 2 ;;
    *) break ;;
  esac
done
seconds=${1:-300}

if [ "$build" = 1 ]; then
  bash scripts/test-sanitized.sh --build-only fuzz_targets
fi

export ASAN_OPTIONS="${ASAN_OPTIONS:-halt_on_error=1:detect_leaks=1:strict_init_order=1:detect_stack_use_after_return=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}"

work=build-asan/fuzz
mkdir -p "$work/findings" "$work/logs"
targets=(build-asan/bin/fuzz_*)
if [ ! -x "${targets[0]}" ]; then
  echo "no fuzz targets in build-asan/bin (is the compiler clang?)" >&2
  exit 1
fi

status=0
for target in "${targets[@]}"; do
  name=${target##*/fuzz_}
  if [ -n "$only" ] && [ "$name" != "$only" ]; then continue; fi
  seeds=tests/fuzz/corpus/$name
  corpus=$work/corpus/$name
  log=$work/logs/$name.log
  options=(-timeout=25 -artifact_prefix="$work/findings/$name-")
  # The pieces of text the input is made of, so that mutations speak its language.
  if [ -f "tests/fuzz/dict/$name.dict" ]; then options+=(-dict="tests/fuzz/dict/$name.dict"); fi
  # Afresh (as CI runs it), the fuzzer's random choices start from a fixed seed
  # too, so every run asks the same of the code and a finding is no matter of
  # luck; QUILLMARSH_FUZZ_SEED picks another.
  if [ "$fresh" = 1 ]; then
    rm -rf "$corpus"
    options+=(-seed="${QUILLMARSH_FUZZ_SEED:-1}")
  fi
  mkdir -p "$corpus"
  if [ -d "$seeds" ]; then cp -n "$seeds"/* "$corpus"/ 2>/dev/null || true; fi

  # Each seed once, then fuzzing for the time given. A single input may take
  # a while (a Bridge answering a few requests on a loaded machine), never 25 s.
  if ! "$target" "${options[@]}" "$seeds"/* >"$log" 2>&1 ||
     ! "$target" "${options[@]}" -max_total_time="$seconds" -rss_limit_mb=3072 -print_final_stats=1 \
         "$corpus" >>"$log" 2>&1; then
    echo "FAIL fuzz_$name: a finding; see $log and $work/findings/" >&2
    grep -E -A30 'ERROR: |FUZZ CHECK FAILED|runtime error: |deadly signal|timeout' "$log" | head -60 >&2 || true
    status=1
    continue
  fi
  runs=$(grep -Eo 'stat::number_of_executed_units: *[0-9]+' "$log" | grep -Eo '[0-9]+$' | tail -1)
  echo "ok   fuzz_$name: ${runs:-?} inputs in ${seconds} s, corpus $(ls "$corpus" | wc -l)"
done
exit "$status"
