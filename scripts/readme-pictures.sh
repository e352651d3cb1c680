#!/usr/bin/env bash
# The README's pictures of the window in the middle of a rehearsal of the example plan, made by
# the window program itself so that they stay current: docs/screenshots/rehearsal-WxH.png.
set -euo pipefail
cd "$(dirname "$0")/.."

cmake --build build -j2 --target noctarbel noctarbel-cli
home=$(mktemp -d)
shots=$(mktemp -d)
trap 'rm -rf "$home" "$shots"' EXIT
# The simulated focuser's V lines, so that the plan's autofocus row works.
build/src/cli/noctarbel-cli --home "$home" settings --set AFposition=5000 --set AFLslope=-0.0345 --set AFLic=172.2 \
  --set AFRslope=0.0345 --set AFRic=-173.3 > /dev/null
for size in 1920x1080 1366x768; do
  build/src/gui/noctarbel --home "$home" --rehearse data/examples/demo-night.csv --start '2026-12-07 17:20:00' \
    --screenshot-at '2026-12-07 18:40:00' --screenshot "$shots" --screenshot-size "$size" 2> /dev/null
  cp "$shots/PilotForm1.png" "docs/screenshots/rehearsal-$size.png"
done
echo "docs/screenshots/rehearsal-1920x1080.png docs/screenshots/rehearsal-1366x768.png"
