#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Everything Tavel writes (log, spreadsheets, pictures, screen) must be the
# same for a user whose locale writes decimal commas as under the C locale.
# The program's toolkit takes the C library locale from the environment, so
# the comparison runs the real tavel-batch twice. A de_DE.UTF-8 locale is
# built into a private folder with localedef and found through LOCPATH, so
# the machine needs no installed locales; without localedef the test is
# skipped (exit 77) with the reason.
#
# usage: decimal_comma_test.sh TAVEL_BATCH GRAPH_TESTS DATAFILE
set -eu
batch=$1
graph_tests=$2
data=$3

if ! command -v localedef >/dev/null 2>&1; then
  echo "SKIP: localedef is not installed (Debian package libc-bin)"
  exit 77
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/tavel-locale.XXXXXX")
trap 'rm -rf "$work"' EXIT INT TERM
mkdir "$work/locales"
# localedef exits 1 for warnings it still writes the locale after.
localedef -i de_DE -f UTF-8 "$work/locales/de_DE.UTF-8" >"$work/localedef.txt" 2>&1 || true
if [ ! -e "$work/locales/de_DE.UTF-8/LC_NUMERIC" ]; then
  echo "SKIP: localedef could not build de_DE.UTF-8 (its sources come with the Debian package locales):"
  cat "$work/localedef.txt"
  exit 77
fi

# The library side first: the locale really writes decimal commas, and
# labels drawn under it still use a point.
if ! env -u LC_ALL -u LC_NUMERIC LOCPATH="$work/locales" TAVEL_DECIMAL_COMMA_LOCALE=de_DE.UTF-8 \
  "$graph_tests" --gtest_filter='DecimalCommaLocale.*' >"$work/unit.txt" 2>&1; then
  cat "$work/unit.txt"
  echo "FAIL: tick labels under de_DE.UTF-8"
  exit 1
fi
if grep -q SKIPPED "$work/unit.txt" || ! grep -q '\[  PASSED  \] 1 test' "$work/unit.txt"; then
  cat "$work/unit.txt"
  echo "FAIL: the de_DE.UTF-8 locale built here could not be used"
  exit 1
fi

# The whole program: the same choices under both locales, into the same
# folder name so that the screen output may be compared too.
for loc in C de_DE.UTF-8; do
  mkdir "$work/out"
  status=0
  env -u LC_ALL -u LC_NUMERIC LOCPATH="$work/locales" LANG="$loc" QT_QPA_PLATFORM=offscreen \
    "$batch" --captures --equilibration --dep _ln_RATE --indep T --indep P --flag T=monotone \
    --flag P=3 --outdir "$work/out" "$data" \
    >"$work/out.screen" 2>&1 || status=$?
  if [ "$status" -ne 0 ]; then
    cat "$work/out.screen"
    echo "FAIL: tavel-batch exited $status under LANG=$loc"
    exit 1
  fi
  mv "$work/out.screen" "$work/out/screen.txt"
  mv "$work/out" "$work/$loc"
done

failed=0
names=$(cd "$work/C" && ls)
for f in Tavel.log Taveltr.xls Tavelcr.xls pic_A.bmp screen.txt; do
  case " $(echo $names) " in
    *" $f "*) ;;
    *) echo "FAIL: $f was not written"; failed=1 ;;
  esac
done
if [ "$names" != "$(cd "$work/de_DE.UTF-8" && ls)" ]; then
  echo "FAIL: different files under C and de_DE.UTF-8"
  failed=1
fi
for f in $names; do
  if ! cmp "$work/C/$f" "$work/de_DE.UTF-8/$f"; then
    echo "FAIL: $f differs between LANG=C and LANG=de_DE.UTF-8"
    failed=1
  fi
done
[ "$failed" -eq 0 ] && echo "decimal-comma locale: $(echo $names | wc -w) files byte-identical"
exit "$failed"
