#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# End-to-end benchmark of tavel-batch: wall time and peak memory of a plain
# fit of generated files of n = 1e5 and 1e6 rows with p = 10 predictors.
#   bench/e2e_batch.sh [build-dir]      (default build)
# bench/bench_e2e.sh does the work and has more cases and a baseline.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
exec bench/bench_e2e.sh --sizes 1e5,1e6 --cases plain --binary "$build/main/tavel-batch"
