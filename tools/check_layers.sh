#!/usr/bin/env bash
# Checks that the code under src/ includes one way only. Between folders: a
# file may include headers of its own folder and of the folders below it
# in LAYERS, never of one above. Inside a folder: a module (a header and
# its source, by base name) may include only modules declared below it in
# the folder's order, so that no two modules include each other, directly
# or round a loop. A folder missing from LAYERS, or a module missing from
# its folder's order, fails too, so that each is given its place. Also no
# two files define a record of the same name.
# Usage: check_layers.sh [SRC_DIR]
set -euo pipefail
src="${1:-$(dirname "$0")/../src}"

# Bottom first.
LAYERS="platform text console options order output input tolvinar handoff driver"

# Each folder's modules, bottom first.
declare -A ORDER=(
  [platform]="platform fault_injection posix windows module_path worker"
  [text]="ascii sjis cp932_table cp932"
  [console]="messages console_text progress console"
  [options]="sort_job key_spec sort_conditions command_line"
  [order]="words sort_tuning compare_rules line_table key_compare compare table_slots quicksort string_sort sort_lines"
  [output]="md5 write_behind block_writer output_file job_folder stdout_copy run_files"
  [input]="run_state memory_plan run_builder"
  [tolvinar]="tolvinar_messages merge_mode run_reader output_sink merge_group merger tolvinar tolvinar_main"
  [handoff]="launch hand_off"
  [driver]="driver quarnel_main"
)

rank_in() {  # rank_in WORD LIST...: the word's place in the list, or -1
  local word="$1" i=0 item
  shift
  for item in "$@"; do
    [ "$item" = "$word" ] && { echo "$i"; return; }
    i=$((i + 1))
  done
  echo -1
}

status=0
while IFS= read -r hit; do
  file="${hit%%:*}"
  rest="${hit#*:}"
  line="${rest%%:*}"
  include="$(sed -E 's/^.*#include "([^"]+)".*$/\1/' <<<"${rest#*:}")"
  target="${include%%/*}"
  from="$(basename "$(dirname "$file")")"
  # shellcheck disable=SC2086
  rank_from=$(rank_in "$from" $LAYERS)
  # shellcheck disable=SC2086
  rank_to=$(rank_in "$target" $LAYERS)
  if [ "$rank_from" -lt 0 ] || [ "$rank_to" -lt 0 ]; then
    echo "$file:$line: folder not in the layer list ($from -> $target)"
    status=1
  elif [ "$rank_to" -gt "$rank_from" ]; then
    echo "$file:$line: $from includes $target, which lies above it"
    status=1
  elif [ "$target" = "$from" ]; then
    module="$(basename "$file")"
    module="${module%.*}"
    wanted="$(basename "$include")"
    wanted="${wanted%.*}"
    [ "$module" = "$wanted" ] && continue
    # shellcheck disable=SC2086
    m_from=$(rank_in "$module" ${ORDER[$from]:-})
    # shellcheck disable=SC2086
    m_to=$(rank_in "$wanted" ${ORDER[$from]:-})
    if [ "$m_from" -lt 0 ] || [ "$m_to" -lt 0 ]; then
      echo "$file:$line: module not in the order of $from ($module -> $wanted)"
      status=1
    elif [ "$m_to" -gt "$m_from" ]; then
      echo "$file:$line: $module includes $wanted, which lies above it in $from"
      status=1
    fi
  fi
done < <(grep -rn --include='*.h' --include='*.cc' '^#include "[^"/]*/' "$src")

# Every module is given its place, included or not.
for file in "$src"/*/*.h "$src"/*/*.cc; do
  folder="$(basename "$(dirname "$file")")"
  module="$(basename "$file")"
  module="${module%.*}"
  # shellcheck disable=SC2086
  if [ "$(rank_in "$module" ${ORDER[$folder]:-})" -lt 0 ]; then
    echo "$file: module not in the order of $folder"
    status=1
  fi
done

# No two files define a record of the same name: the program is one
# namespace, and two different records of one name would be one record to
# the linker, whichever definition it took.
while IFS= read -r name; do
  echo "record $name is defined in more than one file:"
  grep -rln --include='*.h' --include='*.cc' -E "^(struct|class) $name \{" "$src" | sed 's/^/  /'
  status=1
done < <(grep -rh --include='*.h' --include='*.cc' -E '^(struct|class) [A-Za-z_]+ \{' "$src" |
         sed -E 's/^(struct|class) ([A-Za-z_]+).*/\2/' | sort | uniq -d)

if [ "$status" -eq 0 ]; then
  echo "layers: every include points down ($LAYERS, bottom first; each folder's modules in their order)"
fi
exit "$status"
