#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# tavel-batch's manual page and README say its options as its option table
# does: the OPTIONS section of the page and the usage block under the
# README's "## tavel-batch" are what the table makes, to the byte. With
# --update both are rewritten from the table (then review the diff).
#   tests/package/check_batch_docs.sh BATCH_DOCS MANPAGE README [--update]
set -euo pipefail

docs="$1"
page="$2"
readme="$3"
update="${4:-}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

"$docs" manual > "$work/manual"
"$docs" help > "$work/help"

# The page with its OPTIONS section (up to the next .SH) replaced by FILE.
splice_page() {
  awk -v file="$1" '
    /^\.SH/ && inside { inside = 0 }
    /^\.SH OPTIONS$/ { while ((getline line < file) > 0) print line; inside = 1; next }
    !inside { print }' "$page"
}
# The README with the fenced block after "## tavel-batch" replaced by FILE.
splice_readme() {
  awk -v file="$1" '
    /^## / { section = $0 }
    section == "## tavel-batch" && !done && /^```/ {
      if (!inside) { print; while ((getline line < file) > 0) print line; inside = 1; next }
      inside = 0; done = 1
    }
    !inside { print }' "$readme"
}

splice_page "$work/manual" > "$work/page"
splice_readme "$work/help" > "$work/readme"
if ! grep -q '^\.SH OPTIONS$' "$page" || ! grep -q '^## tavel-batch$' "$readme"; then
  echo "check_batch_docs: no OPTIONS section in $page or no tavel-batch section in $readme" >&2
  exit 1
fi
if [ "$update" = "--update" ]; then
  cp "$work/page" "$page"
  cp "$work/readme" "$readme"
  exit 0
fi
status=0
for pair in "page:$page" "readme:$readme"; do
  made="$work/${pair%%:*}"
  file="${pair#*:}"
  if ! diff -u "$file" "$made" > "$work/diff"; then
    echo "$(basename "$file") does not say the options as tavel-batch's table does:" >&2
    cat "$work/diff" >&2
    status=1
  fi
done
if [ "$status" -ne 0 ]; then
  echo "regenerate: tests/package/check_batch_docs.sh BATCH_DOCS main/tavel-batch.1 README.md --update" >&2
else
  echo "tavel-batch.1 and README.md say the options of the table"
fi
exit "$status"
