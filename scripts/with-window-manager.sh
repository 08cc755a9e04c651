#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Runs a command on a private X server (Xvfb) under a real window manager (openbox), so that
# window placement, maximized state and full screen are decided by a window manager as on a
# desktop. Each run takes a display number Xvfb finds free itself, so runs may go in parallel.
# Usage: with-window-manager.sh [--screen WxH] command [args...]
# Exit status: the command's; 77 when Xvfb or openbox is missing (the test counts as skipped).
set -euo pipefail

screen=1600x1000
if [ "${1:-}" = "--screen" ]; then
    screen=$2
    shift 2
fi
[ $# -gt 0 ] || { echo "usage: $0 [--screen WxH] command [args...]" >&2; exit 2; }

for tool in Xvfb openbox xprop; do
    if ! command -v "$tool" >/dev/null; then
        echo "SKIPPED: $tool is not installed (scripts/install-deps.sh installs it)" >&2
        exit 77
    fi
done

# Seconds to wait for the X server and for the window manager before giving up.
readonly StartTimeout=20
# Seconds the command may run before it is stopped.
readonly CommandTimeout=${KV_WM_COMMAND_TIMEOUT:-240}

work=$(mktemp -d "${TMPDIR:-/tmp}/kv-wm.XXXXXX")
xvfb_pid=""
wm_pid=""
cleanup() {
    [ -n "$wm_pid" ] && kill "$wm_pid" 2>/dev/null && wait "$wm_pid" 2>/dev/null
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# Xvfb writes the display number it chose to fd 3 once it accepts connections.
Xvfb -displayfd 3 -screen 0 "${screen}x24" -nolisten tcp -noreset \
    3>"$work/display" >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq $((StartTimeout * 10))); do
    grep -q '^[0-9]\+$' "$work/display" 2>/dev/null && break
    kill -0 "$xvfb_pid" 2>/dev/null || { cat "$work/xvfb.log" >&2; exit 1; }
    sleep 0.1
done
grep -q '^[0-9]\+$' "$work/display" || { echo "Xvfb did not start" >&2; exit 1; }
export DISPLAY=":$(cat "$work/display")"

# openbox with its own home, so no user configuration or autostart takes part.
HOME="$work" XDG_CONFIG_HOME="$work/config" openbox --sm-disable >"$work/openbox.log" 2>&1 &
wm_pid=$!
wm_ready=""
for _ in $(seq $((StartTimeout * 10))); do
    if xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; then
        wm_ready=1
        break
    fi
    kill -0 "$wm_pid" 2>/dev/null || break
    sleep 0.1
done
[ -n "$wm_ready" ] || { cat "$work/openbox.log" >&2; echo "openbox did not start" >&2; exit 1; }

export QT_QPA_PLATFORM=xcb
status=0
timeout --kill-after=10 "$CommandTimeout" "$@" || status=$?
exit "$status"
