#!/usr/bin/env bash
# Fails when an include runs against the layers: each folder of src/ may include only the
# folders below it (see README.md, "Architecture").
#
# usage: tests/include_layers_test.sh SRC_DIR
set -euo pipefail

src=${1:?usage: $0 SRC_DIR}
cd "$src"

interfaces='platform/[a-z_]*\.h'
declare -A allowed=(
  [platform]="$interfaces"
  [controls]="controls/|platform/failure\.h"
  [source]="source/|controls/|$interfaces"
  [detect]="detect/|controls/|$interfaces"
  [copy]="copy/|controls/|$interfaces"
  [copy/policy]="copy/policy/|$interfaces"
  [drives]="drives/|copy/|controls/|$interfaces"
  [app]="app/|drives/|copy/|source/|detect/|controls/|$interfaces"
  [platform/posix]="platform/posix/|$interfaces"
  [platform/posix/devices]="platform/posix/devices/|$interfaces"
  [platform/posix/copying]="platform/posix/copying/|platform/posix/devices/drive_table\.h|$interfaces"
  [platform/win32]="platform/win32/|$interfaces"
  [platform/qt]="platform/qt/|platform/posix/|app/|drives/|copy/|source/|detect/|controls/|$interfaces"
  [platform/win32ui]="platform/win32ui/|platform/win32/|app/|drives/|copy/|source/|detect/|controls/|$interfaces"
)

status=0
for folder in "${!allowed[@]}"; do
  pattern="^(${allowed[$folder]})"
  for file in "$folder"/*.h "$folder"/*.cpp; do
    [[ -e $file ]] || continue
    while IFS= read -r included; do
      if ! [[ $included =~ $pattern ]]; then
        echo "$file includes \"$included\", which is not below it"
        status=1
      fi
    done < <(sed -n 's/^#include "\([^"]*\)".*/\1/p' "$file")
  done
done
exit $status
