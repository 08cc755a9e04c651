// SPDX-License-Identifier: GPL-3.0-or-later
// The measuring window's command line (after Qt has taken its own options): at most one
// recording to play and measure at once, as a file manager passes it with "Open with".
#pragma once

#include <QString>
#include <QStringList>

namespace kv {

inline constexpr const char* WindowUsage =
    "usage: kestrovane [Qt options] [FILE]\n"
    "FILE: a recording (WAV, FLAC, Ogg, MP3 ...) to play and measure at once; the waveform file\n"
    "      in the settings stays as it is.\n";

struct WindowArguments {
    QString File;  // absolute; empty when none was given
    QString Error; // a usage error: print it with the usage and end with status 2
    bool Help = false;
};

// `arguments` as QCoreApplication::arguments() gives them, the program name first. A relative
// FILE is taken from `workingFolder`; a file:// URL is taken as its local file.
WindowArguments ParseWindowArguments(const QStringList& arguments, const QString& workingFolder);

} // namespace kv
