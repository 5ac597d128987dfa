#!/usr/bin/env bash
# Checks that the folders under src/ include each other one way only: a
# file may include headers of its own folder and of the folders below it
# in LAYERS, never of one above. A folder missing from LAYERS fails too, so
# that a new folder is given its place. Usage: check_layers.sh [SRC_DIR]
set -euo pipefail
src="${1:-$(dirname "$0")/../src}"

# Bottom first.
LAYERS="platform text console options sort merge driver"

status=0
while IFS= read -r hit; do
  file="${hit%%:*}"
  rest="${hit#*:}"
  line="${rest%%:*}"
  target="$(sed -E 's/^.*#include "([^"/]+)\/.*$/\1/' <<<"${rest#*:}")"
  from="$(basename "$(dirname "$file")")"
  rank_from=-1
  rank_to=-1
  i=0
  for layer in $LAYERS; do
    [ "$layer" = "$from" ] && rank_from=$i
    [ "$layer" = "$target" ] && rank_to=$i
    i=$((i + 1))
  done
  if [ "$rank_from" -lt 0 ] || [ "$rank_to" -lt 0 ]; then
    echo "$file:$line: folder not in the layer list ($from -> $target)"
    status=1
  elif [ "$rank_to" -gt "$rank_from" ]; then
    echo "$file:$line: $from includes $target, which lies above it"
    status=1
  fi
done < <(grep -rn --include='*.h' --include='*.cc' '^#include "[^"/]*/' "$src")

if [ "$status" -eq 0 ]; then
  echo "layers: every include points down ($LAYERS, bottom first)"
fi
exit "$status"
