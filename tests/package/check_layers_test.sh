#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The layer check on a small tree of its own: quiet and passing when every
# include goes down the picture, failing with each wrong include named.
set -euo pipefail
check="$(cd "$(dirname "$0")" && pwd)/check_layers.sh"
tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT
mkdir -p "$tree"/{ace,io,app,run,platform/qt,tests/io,build/app}
printf '#include "ace/ace.h"\n' >"$tree/ace/helpers.cc"
printf '#include "platform/runtime.h"\n#include "ace/ace.h"\n#include "io/trace.h"\n' >"$tree/io/trace.cc"
printf '#include "io/trace.h"\n#include "tavel_version.h"\n#include <vector>\n' >"$tree/app/shell.cc"
printf '#include <QImage>\n#include "platform/canvas.h"\n' >"$tree/platform/qt/canvas.cc"
printf '#include "run/report.h"\n#include "io_test_support.h"\n#include <QTest>\n' >"$tree/tests/io/a_test.cc"
# A build folder is no source.
printf '#include "run/report.h"\n' >"$tree/build/app/generated.cc"

out=$(bash "$check" "$tree" 2>&1) || { echo "a clean tree failed: $out"; exit 1; }

# Upward includes, a Qt header in the engine, and a folder the table lacks.
printf '#include "app/records.h"\n' >>"$tree/io/trace.cc"
printf '  #  include "run/report.h"\n' >>"$tree/app/shell.cc"
printf '#include <QString>\n' >>"$tree/ace/helpers.cc"
mkdir -p "$tree/newfolder" && printf '\n' >"$tree/newfolder/x.cc"
if out=$(bash "$check" "$tree" 2>&1); then
  echo "a tree with wrong includes passed: $out"
  exit 1
fi
for want in 'io/trace.cc includes "app/records.h": io may not use app' \
            'app/shell.cc includes "run/report.h": app may not use run' \
            'ace/helpers.cc includes <QString>' \
            'newfolder/x.cc: the folder newfolder is not in the table'; do
  grep -qF "$want" <<<"$out" || { echo "missing: $want"; echo "$out"; exit 1; }
done
[[ $(grep -c 'layer check:' <<<"$out") == 4 ]] || { echo "more than the four faults: $out"; exit 1; }
echo "layer check self-test: passed"
