#!/usr/bin/env bash
# The main job: a night of the example plan on the built-in simulators, in a scratch station
# folder (build/demo-station) so that your own station is never touched.
#
# For now this shows the station's settings and the example plan through noctarbel-cli; the
# plan executor that runs the night on the simulated clock comes with a later release.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake -S . -B build -G Ninja > /dev/null
cmake --build build -j2 --target noctarbel-cli

cli=build/src/cli/noctarbel-cli
home=build/demo-station
plan=data/examples/demo-night.csv

echo "== $("$cli" --version): station folder $home"
"$cli" --home "$home" settings --set TelescopeObject=sim:telescope --set CameraObject=sim:camera \
  --set FocuserObject=sim:focuser --set FilterwheelObject=sim:filterwheel
"$cli" --home "$home" settings | grep -E '^(GEO|Teleskop\.TelescopeObject|Kamera\.CameraObject)'
echo
echo "== The example plan $plan"
"$cli" --home "$home" plan show "$plan"
echo
echo "(Running this plan on the simulated clock needs the plan executor, which is not built yet.)"
