#!/usr/bin/env bash
# The layers point one way: a folder of src/ includes only from its own folder and the folders
# below it. Lowest first:
#   common; astro; imaging (may use astro); guiding (may use imaging, astro); devices; station;
#   operations; automation; windows; gui and cli on top (cli never uses windows or gui).
# Prints every include that points upwards or sideways and fails when there is one.
set -euo pipefail
src=${1:-"$(dirname "$0")/../src"}

declare -A rank=([common]=0 [astro]=1 [imaging]=2 [guiding]=3 [devices]=4 [station]=5
                 [operations]=6 [automation]=7 [windows]=8 [gui]=9 [cli]=9)

bad=0
while IFS=: read -r file line text; do
  layer=${file#"$src"/}
  layer=${layer%%/*}
  included=$(sed -E 's/^[[:space:]]*#[[:space:]]*include[[:space:]]+"([a-z_]+)\/.*/\1/' <<<"$text")
  [[ -n ${rank[$layer]:-} && -n ${rank[$included]:-} ]] || continue
  [[ $included == "$layer" ]] && continue
  if ((rank[$included] >= rank[$layer])) || [[ $layer == cli && ($included == windows || $included == gui) ]]; then
    echo "$file:$line: $layer includes $included"
    bad=1
  fi
done < <(grep -rnE '^[[:space:]]*#[[:space:]]*include[[:space:]]+"[a-z_]+/' "$src" --include='*.h' --include='*.cpp')

if ((bad)); then
  echo "layering: includes that point upwards (see the list of layers at the top of $0)"
  exit 1
fi
echo "layering: every include points downwards"
