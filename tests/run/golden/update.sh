#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Rewrites the golden files from what this build's tavel-batch writes, then
# says which changed. Read the diff before committing it: every changed line
# is a change a user sees.
#   tests/run/golden/update.sh BUILD_DIR
set -euo pipefail
build="${1:?usage: tests/run/golden/update.sh BUILD_DIR}"
here="$(cd "$(dirname "$0")" && pwd)"
ninja -C "$build" tavel_run_tests
TAVEL_UPDATE_GOLDEN=1 "$build/tests/run/tavel_run_tests" --gtest_filter='*GoldenRun*' --gtest_brief=1
git -C "$here" status --short -- .
echo "review with: git diff -- tests/run/golden"
