#!/usr/bin/env bash
# Sets up, builds and starts Quillmarsh.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh
if [ -x build/bin/quillmarsh ]; then
  if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "There is no display here (neither DISPLAY nor WAYLAND_DISPLAY is set), so the window cannot be shown." >&2
    echo "The program is built; run it on a virtual display instead:" >&2
    echo "  xvfb-run -a build/bin/quillmarsh [document.md ...]" >&2
    echo "(README.md shows how to look at that display and how to run the end-to-end tests.)" >&2
    exit 1
  fi
  exec build/bin/quillmarsh "$@"
fi
# Without the desktop program, the headless console serves the bundled editor.
echo "The desktop program is not built yet; starting the headless console (one JSON request per line)." >&2
exec build/bin/quillmarsh-console --editor build/share/quillmarsh/editor
