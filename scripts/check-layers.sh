#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Keeps the layers: Qt only under src/ui/, the headers of Linux system calls only under
# src/platform/ and the audio back ends, and includes between the folders of src/ only down the
# table below (which also rules out a loop between two folders). Fast, needs no build. Names
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

# file:line:text of every include matching $1 in the sources.
includes() {
    grep -rnE --include='*.h' --include='*.hpp' --include='*.cpp' --include='*.cc' \
        "^[[:space:]]*#[[:space:]]*include[[:space:]]*$1" src | sort -t: -k1,1 -k2,2n || true
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
# one folder for now.
layers=(platform text audio timebase analysis settings logview logging references positions calibration
        session cli ui)

layer_of() { # folder -> its place in the table, or nothing
    local i
    for i in "${!layers[@]}"; do
        [[ ${layers[$i]} == "$1" ]] && echo "$i" && return 0
    done
    return 1
}

while IFS=: read -r file line text; do
    from=${file#src/}
    from=${from%%/*}
    [[ $file == src/"$from" ]] && continue # a file directly under src/
    to=${text#*\"}
    to=${to%%/*}
    [[ $from == "$to" ]] && continue
    if ! from_layer=$(layer_of "$from"); then
        report "$file" "$line" "$text" "src/$from is not in the layer table"
        continue
    fi
    to_layer=$(layer_of "$to") || continue # not a folder of src/ (a system or library header)
    if ((to_layer > from_layer)); then
        report "$file" "$line" "$text" "src/$from includes src/$to, which lies above it"
    fi
done < <(includes '"[a-z_]+/')

if ((failures > 0)); then
    echo "check-layers: $failures include(s) break the layers (see scripts/check-layers.sh)" >&2
    exit 1
fi
echo "check-layers: the layers hold"
