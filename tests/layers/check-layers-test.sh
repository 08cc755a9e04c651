#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Runs scripts/check-layers.sh on small source trees of one file each and checks its verdict: an
# include up either layer table (src/ or src/ui/) fails with a line naming the file and both
# folders, an include down or within a folder passes, and a src/ui folder missing from its table
# is refused. Without this, a broken table would let a loop between folders back in unnoticed.
set -euo pipefail
checker="$(cd "$(dirname "$0")/../.." && pwd)/scripts/check-layers.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# file | include | expected: "pass" or the message check-layers must print
cases=(
    'src/ui/print/P.cpp|ui/view/ChildView.h|src/ui/print/P.cpp:1: src/ui/print includes src/ui/view, which lies above it: #include "ui/view/ChildView.h"'
    'src/ui/common/C.h|ui/app/MainFrame.h|src/ui/common/C.h:1: src/ui/common includes src/ui/app, which lies above it: #include "ui/app/MainFrame.h"'
    'src/ui/bars/B.cpp|ui/view/ChildView.h|src/ui/bars/B.cpp:1: src/ui/bars includes src/ui/view, which lies above it: #include "ui/view/ChildView.h"'
    'src/ui/rooms/R.cpp|ui/common/CommandTable.h|src/ui/rooms/R.cpp:1: src/ui/rooms is not in the layer table: #include "ui/common/CommandTable.h"'
    'src/analysis/A.cpp|session/MeasuringSession.h|src/analysis/A.cpp:1: src/analysis includes src/session, which lies above it: #include "session/MeasuringSession.h"'
    'src/ui/view/V.cpp|ui/print/PrintJob.h|pass'
    'src/ui/app/M.cpp|ui/bars/SettingsBar.h|pass'
    'src/ui/bars/B.cpp|ui/bars/FlowLayout.h|pass'
    'src/ui/bars/B.cpp|session/MeasuringSession.h|pass'
    'src/ui/common/C.cpp|logview/model/GraphData.h|pass'
)

failures=0
for entry in "${cases[@]}"; do
    IFS='|' read -r file include expected <<<"$entry"
    tree="$work/tree"
    rm -rf "$tree"
    mkdir -p "$tree/scripts" "$(dirname "$tree/$file")"
    cp "$checker" "$tree/scripts/"
    echo "#include \"$include\"" >"$tree/$file"
    status=0
    output=$("$tree/scripts/check-layers.sh" 2>&1) || status=$?
    if [[ $expected == pass ]]; then
        if ((status != 0)); then
            echo "FAIL: $file including $include was refused: $output" >&2
            failures=$((failures + 1))
        fi
    elif ((status != 1)) || ! grep -qxF "$expected" <<<"$output"; then
        echo "FAIL: $file including $include: exit $status, wanted the line: $expected" >&2
        echo "  got: $output" >&2
        failures=$((failures + 1))
    fi
done

if ((failures > 0)); then
    echo "check-layers-test: $failures case(s) failed" >&2
    exit 1
fi
echo "check-layers-test: ${#cases[@]} cases hold"
