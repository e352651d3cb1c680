#!/usr/bin/env bash
# The main job: a night of the example plan on the built-in simulators, in a scratch station
# folder (build/demo-station) so that your own station is never touched.
#
# For now this shows the station's settings, the example plan and the observatory (the roof
# controller emulator on a pseudo-terminal, opened and closed behind a parked simulated
# telescope) through noctarbel-cli; the plan executor that runs the whole night on the
# simulated clock comes with a later release.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake -S . -B build -G Ninja > /dev/null
cmake --build build -j2 --target noctarbel-cli noctarbel-roofsim

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
echo "== The drivers that can be chosen"
"$cli" --home "$home" devices
echo
echo "== The observatory: roof controller emulator, roof opened and closed behind the parked telescope"
roofsim=build/tools/roofsim/noctarbel-roofsim
link="$home/roof-controller"
mkdir -p "$home"
"$roofsim" --travel 3 --link "$link" > /dev/null &
roofsim_pid=$!
trap 'kill "$roofsim_pid" 2>/dev/null || true' EXIT
for _ in $(seq 50); do [ -e "$link" ] && break; sleep 0.1; done
"$cli" --home "$home" roof status --port "$link"
"$cli" --home "$home" roof open --port "$link"
"$cli" --home "$home" roof status --port "$link"
"$cli" --home "$home" roof close --port "$link"
"$cli" --home "$home" roof status --port "$link"
echo
echo "(Running this plan on the simulated clock needs the plan executor, which is not built yet.)"
