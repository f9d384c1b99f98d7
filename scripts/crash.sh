#!/usr/bin/env bash
# Runs the kill tests with many kills per route: scripts/crash.sh [count]
# (default 1000). QUILLMARSH_CRASH_SEED replays a run whose seed a failure
# printed. Builds what the tests need into build/ first. Start no other build
# of build/ while it runs: it copies the editor folder again under consoles
# being started, which then fail.
set -euo pipefail
cd "$(dirname "$0")/.."
count="${1:-1000}"
if ! [[ "$count" =~ ^[1-9][0-9]*$ ]]; then
    echo "usage: scripts/crash.sh [count]" >&2
    exit 2
fi
jobs="${QUILLMARSH_BUILD_JOBS:-$(nproc)}"
if [ ! -f build/build.ninja ]; then
    cmake -S . -B build -G Ninja -DQUILLMARSH_WERROR=ON >/dev/null
fi
cmake --build build -j"$jobs" --target bridge_tests
QUILLMARSH_CRASH_KILLS="$count" build/bin/bridge_tests \
    --gtest_filter='Routes/Crash.*:RecoveryCrash.*' --gtest_color=no
