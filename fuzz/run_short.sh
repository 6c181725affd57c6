#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the fuzz targets with clang and runs each for a short while (60 s by
# default, FUZZ_SECONDS to change) from the seed corpus under tests/, so every
# CI run tries new inputs on the data file reader, the header names, the
# OPTIONS edit boxes, whole analyses and tavel-batch's front end. A crash or a
# broken property fails the script and leaves the input in build-fuzz/artifacts.
set -euo pipefail
cd "$(dirname "$0")/.."

SECONDS_EACH="${FUZZ_SECONDS:-60}"
BUILD=build-fuzz
TARGETS=(data_file header_names options_text run batch_front)

need=()
command -v clang++ >/dev/null 2>&1 || need+=(clang)
dpkg -s libclang-rt-14-dev >/dev/null 2>&1 || need+=(libclang-rt-14-dev)
command -v ninja >/dev/null 2>&1 || need+=(ninja-build)
command -v cmake >/dev/null 2>&1 || need+=(cmake)
dpkg -s libgtest-dev >/dev/null 2>&1 || need+=(libgtest-dev)
if ((${#need[@]})); then
  echo "Installing: ${need[*]}"
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
    "${need[@]}" >/dev/null
fi

CC=clang CXX=clang++ cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTAVEL_WITH_QT=OFF -DTAVEL_FUZZ=ON >/dev/null
ninja -C "$BUILD" "${TARGETS[@]/#/tavel_fuzz_}"

mkdir -p "$BUILD/artifacts"
# One target for its time; its log and any crashing input in artifacts/.
fuzz_one() {
  local t="$1"
  # New inputs go to a scratch folder; the committed seeds stay as they are.
  local work="$BUILD/corpus/$t"
  mkdir -p "$work"
  local status=0
  "$BUILD/fuzz/tavel_fuzz_$t" -max_total_time="$SECONDS_EACH" -max_len=8192 \
    -print_final_stats=1 -artifact_prefix="$BUILD/artifacts/$t-" \
    "$work" "tests/fuzz_corpus/$t" 2>"$BUILD/artifacts/$t.log" || status=1
  {
    echo "== $t: ${SECONDS_EACH} s"
    ((status == 0)) || tail -n 40 "$BUILD/artifacts/$t.log"
    grep -E '^stat::number_of_executed_units' "$BUILD/artifacts/$t.log" || true
  }
  return $status
}

# The targets run side by side, one per core (FUZZ_JOBS, default the number
# of cores): each fuzzes on one thread, and CI's time is what they share.
jobs="${FUZZ_JOBS:-$(nproc)}"
status=0
pids=()
for t in "${TARGETS[@]}"; do
  fuzz_one "$t" >"$BUILD/artifacts/$t.summary" &
  pids+=($!)
  if ((${#pids[@]} >= jobs)); then
    wait "${pids[0]}" || status=1
    pids=("${pids[@]:1}")
  fi
done
for p in "${pids[@]}"; do
  wait "$p" || status=1
done
for t in "${TARGETS[@]}"; do
  cat "$BUILD/artifacts/$t.summary"
done
exit $status
