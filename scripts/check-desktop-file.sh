#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Checks the desktop entry with desktop-file-validate (Debian desktop-file-utils): fails on any
# error or warning it reports (its hints are printed only), and when the entry does not take a
# file (Exec with %f) or names no audio MIME type. Exits 77 (skipped) when the validator is not
# installed.
set -euo pipefail
cd "$(dirname "$0")/.."
entry=src/resources/kestrovane.desktop
if ! command -v desktop-file-validate >/dev/null; then
    echo "check-desktop-file: desktop-file-validate is not installed (desktop-file-utils)" >&2
    exit 77
fi
status=0
report=$(desktop-file-validate "$entry" 2>&1) || status=$?
[ -n "$report" ] && echo "$report"
if [ "$status" -ne 0 ] || grep -qE ': (error|warning): ' <<<"$report"; then
    echo "check-desktop-file: $entry is not valid" >&2
    exit 1
fi
if ! grep -qE '^Exec=kestrovane %f$' "$entry"; then
    echo "check-desktop-file: $entry must start kestrovane with the opened file (Exec=kestrovane %f)" >&2
    exit 1
fi
if ! grep -qE '^MimeType=(audio/[^;]+;)+$' "$entry"; then
    echo "check-desktop-file: $entry must name the audio types it opens (MimeType=audio/...;)" >&2
    exit 1
fi
echo "check-desktop-file: $entry is valid"
