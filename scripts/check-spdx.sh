#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Fails when a C++ source or header, or a script, lacks the licence line within its first two
# lines, so that every file says on its own under which terms it may be shared.
set -euo pipefail
cd "$(dirname "$0")/.."
licence='SPDX-License-Identifier: GPL-3.0-or-later'
missing=0
while IFS= read -r -d '' file; do
    if ! head -n 2 "$file" | grep -qF "$licence"; then
        echo "check-spdx: $file lacks the line '$licence'" >&2
        missing=$((missing + 1))
    fi
done < <(find src tools tests fuzz bench \( -name '*.cpp' -o -name '*.h' -o -name '*.c' \) -print0
         find scripts -name '*.sh' -print0
         printf '%s\0' .ci/run)
if [ "$missing" -gt 0 ]; then
    echo "check-spdx: $missing file(s) lack the licence line" >&2
    exit 1
fi
echo "check-spdx: every source carries the licence line"
