#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the Debian package build-package/kestrovane_VERSION_ARCH.deb (or in $KV_BUILD_DIR): a
# release build without tests and benchmarks, then `cpack -G DEB`, which derives the package's
# dependencies from the linked libraries. Extra arguments go to cmake. Prints the package's path.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh dpkg-dev file >&2
build=${KV_BUILD_DIR:-build-package}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKV_BUILD_TESTS=OFF \
    -DKV_BUILD_BENCHMARKS=OFF "$@" >&2
cmake --build "$build" --parallel "$(nproc)" >&2
rm -f "$build"/kestrovane_*.deb # a package of an older version must not be picked up instead
(cd "$build" && cpack -G DEB >&2)
debs=("$build"/kestrovane_*.deb)
[ -f "${debs[0]}" ] || { echo "package.sh: cpack made no package" >&2; exit 1; }
realpath "${debs[0]}"
