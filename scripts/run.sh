#!/usr/bin/env bash
# Sets up, builds and starts Quillmarsh.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh
if [ -x build/bin/quillmarsh ]; then
  if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "There is no display here. Run it under a virtual one instead:" >&2
    echo "  xvfb-run -a build/bin/quillmarsh" >&2
    exit 1
  fi
  exec build/bin/quillmarsh "$@"
fi
# Without the desktop program, the headless console serves the bundled editor.
echo "The desktop program is not built yet; starting the headless console (one JSON request per line)." >&2
exec build/bin/quillmarsh-console --editor build/share/quillmarsh/editor
