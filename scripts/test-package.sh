#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the Debian package and checks it: lintian (no errors; warnings are printed), the AppStream
# metadata, then installs it with apt-get, runs the installed tools, reads the man pages, measures
# the bundled sample and removes the package again. Needs root or sudo. Not part of
# scripts/test.sh: it makes a release build of its own. Extra arguments go to cmake.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh lintian appstream dpkg-dev file man-db
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"

fail() {
    echo "test-package.sh: $*" >&2
    exit 1
}
# Removing the package at the end must not take away an installation the machine already had.
if dpkg-query -W -f='${Status}' kestrovane 2>/dev/null | grep -q "install ok installed"; then
    fail "kestrovane is already installed here; remove it first"
fi

deb=$(scripts/package.sh "$@")
echo "Package: $deb"
dpkg-deb --info "$deb" | grep -E '^ (Package|Version|Depends|Section):'

echo "== lintian"
lintian --fail-on error "$deb" || fail "lintian reports errors"
echo "== appstreamcli"
appstreamcli validate --no-net src/resources/*.metainfo.xml

remove() { $sudo apt-get remove -y -qq --purge kestrovane >/dev/null || true; }
trap remove EXIT
echo "== apt-get install"
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "$deb" >/dev/null

for file in /usr/bin/kestrovane /usr/bin/kestrovane-analyze /usr/bin/kestrovane-graph \
    /usr/share/applications/kestrovane.desktop \
    /usr/share/icons/hicolor/scalable/apps/kestrovane.svg \
    /usr/share/metainfo/org.kestrovane.Kestrovane.metainfo.xml \
    /usr/share/doc/kestrovane/README.md /usr/share/doc/kestrovane/copyright \
    /usr/share/kestrovane/sample-watch.wav /usr/share/kestrovane/guide/index.html \
    /usr/share/kestrovane/guide/images/main-window.png; do
    [ -f "$file" ] || fail "$file is not installed"
done
(cd / && kestrovane-analyze --help) | grep -q "^usage: kestrovane-analyze" ||
    fail "kestrovane-analyze --help"
(cd / && kestrovane-graph --help) | grep -q "^usage: kestrovane-graph" ||
    fail "kestrovane-graph --help"
for page in kestrovane kestrovane-analyze kestrovane-graph; do
    MANPAGER=cat MANWIDTH=80 man "$page" 2>/dev/null | grep -q "^NAME" || fail "man $page"
done
# The installed analyser measures the installed sample: +4.50 s/d (see the sample's recipe).
reading=$(kestrovane-analyze /usr/share/kestrovane/sample-watch.wav | tail -n 1)
echo "$reading" | grep -Eq '"rate_sd":4\.(49|50)' || fail "sample reading: $reading"
echo "test-package.sh: the package builds, installs, works and is removed again"
