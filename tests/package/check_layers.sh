#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Fails when a source file includes a folder its own folder may not use (the
# table below, which is ARCHITECTURE.md's), or a Qt header outside the code
# that may know Qt. Names every such file and include.
#   tests/package/check_layers.sh [source tree, default: the one holding this script]
set -euo pipefail
cd "${1:-$(dirname "$0")/../..}"

# Each folder of the product and the folders it may include besides itself.
# A folder below in the picture never includes one above it.
declare -A may_use=(
  [ace]=""
  [platform]=""
  [platform/headless]="platform"
  [platform/qt]="platform"
  [graph]="platform"
  [io]="platform ace"
  [model]="ace"
  [app]="io model ace platform"
  [run]="app io model graph ace platform"
  [batch]="run app io model graph ace platform platform/headless"
  [main]="batch run app io model graph ace platform platform/headless platform/qt"
)
product="${!may_use[*]}"
# Around the product: benchmarks and fuzz targets use any of it, tests use
# any of it and their own support files.
may_use[bench]="$product"
may_use[fuzz]="$product fuzz"
may_use[tests]="$product tests"

# Includes allowed against the table, as "file include", each with the
# reason in a comment above it. None today.
exceptions=()

# Folders whose code may include Qt headers: the Qt runtime, the two
# programs, and the tests and benchmarks of the Qt runtime.
qt_folders="platform/qt main tests bench"

# The folder a path belongs to, in REPLY: its first two levels when the
# table knows them (platform/qt), else its first.
folder_of() {
  local first="${1%%/*}" rest="${1#*/}"
  REPLY="$first"
  [[ "$rest" == */* && -v may_use[$first/${rest%%/*}] ]] && REPLY="$first/${rest%%/*}"
  return 0
}

allows() {  # allows LIST WORD
  local w
  for w in $1; do [[ "$w" == "$2" ]] && return 0; done
  return 1
}

if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  files=$(git ls-files '*.cc' '*.h')
else
  files=$(find . -path './build*' -prune -o \( -name '*.cc' -o -name '*.h' \) -print | sed 's|^\./||')
fi

bad=0
while IFS= read -r f; do
  [[ -z "$f" || "$f" != */* ]] && continue
  folder_of "$f"
  from="$REPLY"
  if [[ ! -v may_use[$from] ]]; then
    echo "layer check: $f: the folder $from is not in the table of tests/package/check_layers.sh" >&2
    bad=$((bad + 1))
    continue
  fi
  while IFS= read -r inc; do
    if [[ "$inc" == \<Q* ]]; then
      allows "$qt_folders" "$from" && continue
      echo "layer check: $f includes $inc: Qt belongs to platform/qt and the programs" >&2
      bad=$((bad + 1))
      continue
    fi
    [[ "$inc" == \<* ]] && continue
    path="${inc#\"}"
    path="${path%\"}"
    # A name without a folder is the file's neighbour or a generated header.
    [[ "$path" != */* ]] && continue
    folder_of "$path"
    to="$REPLY"
    [[ "$to" == "$from" ]] && continue
    allows "${may_use[$from]}" "$to" && continue
    excepted=0
    for e in "${exceptions[@]}"; do [[ "$e" == "$f $path" ]] && excepted=1; done
    ((excepted)) && continue
    echo "layer check: $f includes \"$path\": $from may not use $to" >&2
    bad=$((bad + 1))
  done < <(sed -nE 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*([<"][^>"]*[>"]).*/\1/p' "$f")
done <<<"$files"
((bad == 0)) || exit 1
echo "layer check: every include goes in an allowed direction"
