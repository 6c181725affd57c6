#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# A manual page and --help name the same options: every option that --help
# lists (the lines "  --name ..." of its option column) is described under
# OPTIONS in the manual page, and every option described there is listed by
# --help. Either may be the one that changed, so both directions are checked.
#   tests/package/check_manual_options.sh PROGRAM MANPAGE   (MANPAGE may be .gz)
set -euo pipefail

program="$1"
page="$2"
name="$(basename "$program")"

# Options of --help: the option column of lines indented by two blanks
# ("  --flag NAME=CODE    text", "  --help, -h   text"), up to the first gap
# of two blanks.
help_options() {
  "$program" --help |
    sed -nE 's/^  (-[^ ].*)$/\1/p' | sed -E 's/  .*//' | tr ',' '\n' |
    sed -nE 's/^ *(--?[A-Za-z0-9][A-Za-z0-9-]*).*/\1/p' | sort -u
}

# Options of the manual page: the tag lines (after .TP) of its OPTIONS section.
manual_options() {
  if [[ "$page" == *.gz ]]; then zcat "$page"; else cat "$page"; fi |
    awk '/^\.SH/ { inside = ($2 == "OPTIONS") ; next }
         inside && tag { print; tag = 0 }
         inside && /^\.TP/ { tag = 1 }' |
    sed 's/\\-/-/g' | grep -oE '(^|[ "])--?[A-Za-z0-9][A-Za-z0-9-]*' | tr -d ' "' | sort -u
}

help="$(help_options)"
manual="$(manual_options)"
if [ -z "$help" ]; then
  echo "$name: --help lists no options" >&2
  exit 1
fi
status=0
for option in $(comm -23 <(echo "$help") <(echo "$manual")); do
  echo "$name: $option is in --help but not under OPTIONS in $(basename "$page")" >&2
  status=1
done
for option in $(comm -13 <(echo "$help") <(echo "$manual")); do
  echo "$name: $option is under OPTIONS in $(basename "$page") but not in --help" >&2
  status=1
done
[ "$status" -eq 0 ] && echo "$name: --help and $(basename "$page") name the same $(echo "$help" | wc -l) options"
exit "$status"
