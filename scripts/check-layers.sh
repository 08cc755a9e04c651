#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Keeps the layers: Qt only under src/ui/, the headers of Linux system calls only under
# src/platform/ and the audio back ends, and includes between the folders of src/ only down the
# tables below (which also rules out a loop between two folders). Fast, needs no build. Names
# every offending line and exits 1 when there is one.
set -euo pipefail
cd "$(dirname "$0")/.."

# Widgets classes named in the message, so a stray dialog or box is recognised at once; every
# other Qt header outside src/ui/ is refused as well, since the core stays Qt-free.
widgets_classes='QApplication|QWidget|QDialog|QMainWindow|QMessageBox|QPushButton|QLabel|QLineEdit|QComboBox|QCheckBox|QSpinBox|QToolBar|QDockWidget|QStatusBar|QMenu|QMenuBar|QAction|QLayout|QBoxLayout|QGridLayout|QFormLayout|QFileDialog|QPrintDialog|QAbstractButton|QGroupBox|QScrollArea|QtWidgets'

# The audio back ends talk to PortAudio and ALSA themselves, so they may use system headers:
allowed_system_users=(
    src/audio/PortAudioSource.cpp # PortAudio capture: blocking reads on the device's stream
    src/audio/PortAudioSink.cpp   # PortAudio output: blocking writes on the device's stream
    src/audio/mixer/Alsa          # the ALSA mixer: waits on snd_mixer poll descriptors
)

system_headers='sys/[^>]*|termios\.h|sched\.h|unistd\.h|fcntl\.h|poll\.h|signal\.h|csignal|pthread\.h|netdb\.h|arpa/[^>]*|netinet/[^>]*|dlfcn\.h'

failures=0
report() { # file line text rule
    echo "$1:$2: $4: $3" >&2
    failures=$((failures + 1))
}

allowed_system_user() {
    local file=$1 prefix
    for prefix in "${allowed_system_users[@]}"; do
        [[ $file == "$prefix"* ]] && return 0
    done
    return 1
}

# file:line:text of every include matching $1 in the sources (under $2, src by default).
includes() {
    grep -rnE --include='*.h' --include='*.hpp' --include='*.cpp' --include='*.cc' \
        "^[[:space:]]*#[[:space:]]*include[[:space:]]*$1" "${2:-src}" | sort -t: -k1,1 -k2,2n ||
        true
}

while IFS=: read -r file line text; do
    [[ $file == src/ui/* ]] && continue
    if [[ $text =~ \<($widgets_classes) ]]; then
        report "$file" "$line" "$text" "Qt Widgets outside src/ui/"
    else
        report "$file" "$line" "$text" "Qt outside src/ui/ (the core is Qt-free)"
    fi
done < <(includes '<Q')

while IFS=: read -r file line text; do
    [[ $file == src/ui/* ]] && continue
    report "$file" "$line" "$text" "a user-interface header outside src/ui/"
done < <(includes '"ui/')

while IFS=: read -r file line text; do
    [[ $file == src/platform/* ]] && continue
    allowed_system_user "$file" && continue
    report "$file" "$line" "$text" "system-call header outside src/platform/ and the audio back ends"
done < <(includes "<($system_headers)>")

# The folders of src/ from the bottom up: a folder includes only from itself and the folders
# before it, so no include goes up the table and no two folders include each other. A
# sub-folder not named here (audio/mixer, logview/format) belongs to its top folder; src/ui is
# one folder in this table and has a table of its own below.
layers=(platform text audio timebase analysis settings logview logging references positions
        calibration session cli ui)

# The folders of src/ui from the bottom up, kept the same way: the command table, placement and
# screen helpers; the dialogs; the help window; the print service; the log viewer, which prints;
# the bars, which show the session and never the view widget; the measuring view, which routes
# the commands; the application, which puts them together.
ui_layers=(common dialogs help print logview bars view app)

layer_of() { # folder table-name -> the folder's place in the table, or nothing
    local -n table=$2
    local i
    for i in "${!table[@]}"; do
        [[ ${table[$i]} == "$1" ]] && echo "$i" && return 0
    done
    return 1
}

# Every include of a folder of `root` (src or src/ui) from another folder of it must go down
# `table`. Files directly under `root` are not in a folder and are left alone.
check_table() { # root table-name
    local root=$1 table=$2 file line text from to from_layer to_layer
    while IFS=: read -r file line text; do
        from=${file#"$root"/}
        from=${from%%/*}
        [[ $file == "$root/$from" ]] && continue # a file directly under the root
        to=${text#*\"}
        [[ $root != src ]] && to=${to#"${root#src/}"/}
        to=${to%%/*}
        [[ $from == "$to" ]] && continue
        if ! from_layer=$(layer_of "$from" "$table"); then
            report "$file" "$line" "$text" "$root/$from is not in the layer table"
            continue
        fi
        to_layer=$(layer_of "$to" "$table") || continue # not a folder of the root
        if ((to_layer > from_layer)); then
            report "$file" "$line" "$text" "$root/$from includes $root/$to, which lies above it"
        fi
    done < <(includes "$3" "$root")
}

check_table src layers '"[a-z_]+/'
check_table src/ui ui_layers '"ui/[a-z_]+/'

if ((failures > 0)); then
    echo "check-layers: $failures include(s) break the layers (see scripts/check-layers.sh)" >&2
    exit 1
fi
echo "check-layers: the layers hold"
