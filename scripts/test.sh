#!/usr/bin/env bash
# Sets up, builds and runs every test. The one command CI runs.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh
ctest --test-dir build --output-on-failure -j"$(nproc)" --timeout 900
bash scripts/test-sanitized.sh
