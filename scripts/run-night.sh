#!/usr/bin/env bash
# The main job: a night of the example plan on the built-in simulators and a simulated clock,
# in a scratch station folder (build/demo-station) so that your own station is never touched.
#
# 1. calibrates the focus V curve on the simulated focuser and camera (for the "AF" row),
# 2. runs the test run of the plan ("check"): what it will do, what it foresees,
# 3. runs the night: cooler on, roof open, autofocus, sync, five targets through their
#    filters, summed sub-exposures, stacks per filter, roof closed, park; FITS files and the
#    log land in build/demo-station/images,
# 4. runs the second example plan with rain at 18:32 UT: the telescope parks, the roof closes
#    and the run stops (build/demo-station/rain-night).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake -S . -B build -G Ninja > /dev/null
cmake --build build -j2 --target noctarbel-cli

cli=build/src/cli/noctarbel-cli
home=build/demo-station
plan=data/examples/demo-night.csv
today=$(date -u +%F)

rm -rf "$home"
echo "== $("$cli" --version): a fresh station folder $home"
echo
echo "== The focus V curve of the simulated focuser (saved for the plan's autofocus)"
"$cli" --home "$home" focus calibrate --simulate --fit --save --position 5000 --range 500 --json |
  grep -E '"(best_focus|left_slope|right_slope)"'
echo
echo "== The plan $plan"
"$cli" --home "$home" plan show "$plan"
echo
echo "== The test run: what the night will do and the problems it foresees"
"$cli" --home "$home" check "$plan" --start "$today 17:20:00" | tail -n 4
echo
echo "== The night on the simulators (a simulated clock: hours in seconds)"
"$cli" --home "$home" run "$plan" --simulate --start "$today 17:20:00" --stacking --no-corrections \
  --timeline "$home/night.png"
echo "time line of the night: $home/night.png"
echo
echo "== What it wrote"
ls "$home/images"
echo
echo "== The header of one image"
"$cli" --home "$home" fits header "$home/images/m42-L-001.fit" | sed -e 's/ *$//'
echo
rain=data/examples/rain-night.csv
echo "== The plan $rain with rain from 18:32 UT"
status=0
"$cli" --home "$home" run "$rain" --simulate --start "$today 17:20:00" --no-corrections \
  --images "$home/rain-night" --rain-at "$today 18:32:00" --timeline "$home/rain-night.png" || status=$?
echo "(exit status $status: the night did not run to its end; time line: $home/rain-night.png)"
echo
echo "== The end of its log"
tail -n 7 "$home/rain-night/logfile.txt"
[ "$status" -eq 1 ]
