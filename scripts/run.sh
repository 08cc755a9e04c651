#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs what is missing, builds, and starts the measuring window. On first start the default
# waveform file is made from the bundled sample recording (a synthetic 18000 vph watch), so the
# window measures it at once when there is no microphone. Without a display, the sample is
# measured by the command-line analyser instead.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
# Only what is started: the window, the command-line tools and the sample recording; the tests,
# benchmarks and fuzz targets are left to scripts/test.sh.
KV_TARGETS="kestrovane kestrovane-analyze kestrovane-graph kestrovane_sample" scripts/build.sh
build=${KV_BUILD_DIR:-build}
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
    echo "No display: measuring the sample recording with kestrovane-analyze instead." >&2
    exec "$build/src/kestrovane-analyze" --every 5 "$build/share/kestrovane/sample-watch.wav"
fi
exec "$build/src/kestrovane" "$@"
