#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Runs Tavel in a real window under a virtual X server (Xvfb, xcb platform),
# drives it from the data file to the plots and keeps a screenshot in
# <build dir>/smoke-artifacts/.
#   tests/smoke/run_smoke.sh [build dir, default: build]
set -euo pipefail
cd "$(dirname "$0")/../.."

build="${1:-build}"
binary="$build/tests/smoke/tavel_smoke_tests"
if [ ! -x "$binary" ]; then
  echo "run_smoke.sh: $binary is missing; build it with: ninja -C $build tavel_smoke_tests" >&2
  exit 1
fi

if ! command -v xvfb-run >/dev/null 2>&1 || ! command -v xauth >/dev/null 2>&1; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "run_smoke.sh: xvfb-run and xauth are needed (apt-get install xvfb xauth)" >&2
    exit 1
  fi
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends xvfb xauth >/dev/null
fi

artifacts="$(pwd)/$build/smoke-artifacts"
rm -rf "$artifacts"
mkdir -p "$artifacts"

if [ -z "${XDG_RUNTIME_DIR:-}" ]; then
  XDG_RUNTIME_DIR="$(mktemp -d /tmp/tavel-smoke-xdg.XXXXXX)"
  trap 'rm -rf "$XDG_RUNTIME_DIR"' EXIT
fi
export XDG_RUNTIME_DIR
chmod 700 "$XDG_RUNTIME_DIR" 2>/dev/null || true

# A display large enough for the frame and its plot windows; true colour so
# the screenshot shows what a user sees. Each test suite starts its own
# application: -noreset keeps the server up when the last one has closed,
# instead of resetting it while the next one connects.
status=0
QT_QPA_PLATFORM=xcb TAVEL_SMOKE_ARTIFACTS="$artifacts" \
  timeout 120 xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp -noreset" \
  "$binary" --gtest_output="xml:$artifacts/smoke-results.xml" "${@:2}" || status=$?
ls -l "$artifacts"
exit $status
