#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Fails when a tracked source file does not carry the project's licence line.
#   tests/package/check_spdx.sh [source tree, default: the one holding this script]
set -euo pipefail
cd "${1:-$(dirname "$0")/../..}"
missing=0
while read -r f; do
  if ! head -3 "$f" | grep -q 'SPDX-License-Identifier: GPL-3.0-or-later'; then
    echo "licence check: $f has no SPDX-License-Identifier line" >&2
    missing=$((missing + 1))
  fi
done < <(git ls-files '*.cc' '*.h' '*CMakeLists.txt' '*.cmake' '*.sh' '*.py' dev.sh .ci/run)
((missing == 0)) || exit 1
echo "licence check: every source file names its licence"
