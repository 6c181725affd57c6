#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# tavel-batch itself, Qt and all, built with AddressSanitizer and
# UndefinedBehaviorSanitizer, run over the hostile cases of its end-to-end
# tests and over every file of tests/fuzz_corpus as a data file. Any sanitizer
# report, crash, hang or usage error fails the script; exit 0 or 1 with a
# reason is what every input must end with.
#   tests/batch/run_sanitized.sh [BUILD [SANITIZED]]
#     BUILD: the ordinary build whose tavel_qt_tests drive the program
#            (default build; made when missing)
#     SANITIZED: a sanitized build with Qt whose tavel-batch to use (CI
#            passes ./dev.sh sanitize's); without it, build-sanitize-batch
#            is configured and built here
set -euo pipefail
cd "$(dirname "$0")/../.."

TEST_BUILD="${1:-build}"
SAN_BUILD="${2:-}"
JOBS="${JOBS:-2}"

if [ -z "$SAN_BUILD" ]; then
  SAN_BUILD=build-sanitize-batch
  cmake -S . -B "$SAN_BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAVEL_SANITIZE=ON \
    -DTAVEL_WITH_QT=ON >/dev/null
fi
ninja -C "$SAN_BUILD" tavel-batch
if [ ! -x "$TEST_BUILD/tests/qt/tavel_qt_tests" ]; then
  cmake -S . -B "$TEST_BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  ninja -C "$TEST_BUILD" tavel_qt_tests
fi

BATCH="$(pwd)/$SAN_BUILD/main/tavel-batch"
# A sanitizer report exits 99, which no input may produce; 0 and 1 are ours.
export ASAN_OPTIONS="exitcode=99:detect_leaks=0:abort_on_error=0"
export UBSAN_OPTIONS="exitcode=99:halt_on_error=1:print_stacktrace=1"
export QT_QPA_PLATFORM=offscreen

echo "== end-to-end tests against the sanitized tavel-batch"
TAVEL_BATCH_UNDER_TEST="$BATCH" "$TEST_BUILD/tests/qt/tavel_qt_tests" \
  --gtest_filter='TavelBatch.*' --gtest_brief=1

echo "== every file of tests/fuzz_corpus as a data file"
work="$(mktemp -d "${TMPDIR:-/tmp}/tavel-san-batch.XXXXXX")"
trap 'rm -rf "$work"' EXIT
# One case: a data file and a number; every tenth case also draws its pictures.
one() {
  local file="$1" n="$2" out="$work/out$2" extra=()
  ((n % 10 == 0)) && extra=(--captures)
  local status=0
  timeout 120 "$BATCH" "${extra[@]}" --outdir "$out" "$file" >/dev/null 2>"$out.err" ||
    status=$?
  if [ "$status" -gt 1 ] || grep -qE 'runtime error|AddressSanitizer|LeakSanitizer' "$out.err"; then
    echo "FAILED (exit $status): $file"
    tail -n 30 "$out.err"
    return 1
  fi
  rm -rf "$out" "$out.err"
}
export -f one
export BATCH work
count=$(find tests/fuzz_corpus -type f | wc -l)
# (The corpus's file names have no blanks.)
find tests/fuzz_corpus -type f | sort | nl -ba -w1 | xargs -P "$JOBS" -L 1 bash -c 'one "$2" "$1"' _
echo "== $count corpus files: no sanitizer report, crash, hang or usage error"
