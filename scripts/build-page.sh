#!/usr/bin/env bash
# Builds the editor page (resources/editor/src) into resources/editor/web from
# the lockfile: `npm ci` and esbuild in a temporary copy, so node_modules never
# lands in the tree (nor in the program's resources).
#   scripts/build-page.sh          writes app.js, app.css, preview-worker.js, THIRD-PARTY-LICENSES.txt
#   scripts/build-page.sh --check  builds aside and fails when the committed files differ
#   scripts/build-page.sh --test   runs the page tests that need its packages (tests/page/rendering)
set -euo pipefail
cd "$(dirname "$0")/.."
source_dir=resources/editor/src
web_dir=resources/editor/web
generated=(app.js app.css preview-worker.js THIRD-PARTY-LICENSES.txt)

mode=${1:-build}
case "$mode" in
  build|--check|--test) ;;
  *) echo "usage: scripts/build-page.sh [--check|--test]" >&2; exit 2 ;;
esac

if ! command -v node >/dev/null || [ "$(node -p 'process.versions.node.split(".")[0]')" -lt 18 ]; then
  echo "build-page: Node 18 or newer is needed (scripts/setup.sh installs it)" >&2
  exit 1
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/quillmarsh-page.XXXXXX")
trap 'rm -rf "$work"' EXIT
tar -C "$source_dir" --exclude=node_modules -cf - . | tar -C "$work" -xf -
(cd "$work" && npm ci --ignore-scripts --no-audit --no-fund --loglevel=error >/dev/null)

if [ "$mode" = "build" ]; then
  node "$work/build.mjs" "$PWD/$web_dir"
  exit 0
fi
if [ "$mode" = "--test" ]; then
  QUILLMARSH_PAGE_MODULES="$work/node_modules" node --test tests/page/rendering/*.test.mjs
  exit 0
fi

node "$work/build.mjs" "$work/out"
status=0
for name in "${generated[@]}"; do
  if ! cmp -s "$work/out/$name" "$web_dir/$name"; then
    echo "build-page: $web_dir/$name differs from a fresh build from the lockfile; run scripts/build-page.sh and commit it" >&2
    status=1
  fi
done
exit $status
