#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# End-to-end benchmark of tavel-batch: wall time and peak memory for generated
# files of n = 1e5 and 1e6 rows with p = 10 predictors.
#   bench/e2e_batch.sh [build-dir]      (default build-bench, built with -DTAVEL_BENCH=ON)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
work=$(mktemp -d /tmp/tavel-e2e.XXXXXX)
for n in 100000 1000000; do
  data="$work/big_$n.dat"
  python3 bench/make_big_data.py "$n" 10 "$data"
  mkdir -p "$work/out_$n"
  echo "== n = $n, p = 10"
  /usr/bin/time -v "$build/main/tavel-batch" --outdir "$work/out_$n" "$data" \
    > "$work/out_$n/stdout.txt" 2> "$work/out_$n/time.txt" || true
  grep -E 'Elapsed|Maximum resident' "$work/out_$n/time.txt"
  grep -E 'seconds' "$work/out_$n/stdout.txt" || true
done
echo "files in $work"
