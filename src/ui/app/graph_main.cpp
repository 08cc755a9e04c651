// SPDX-License-Identifier: GPL-3.0-or-later
// kestrovane-graph: the log viewer's graph of a log file as PNG, PDF or CSV, for reports and
// scripts; needs no display.
#include <QGuiApplication>
#include <QtGlobal>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "ui/logview/GraphExport.h"

namespace {

// Scripts read one line on standard error; the platform's notes (such as a missing runtime
// folder off-screen) are not for them. Critical and fatal messages still pass.
void QuietQtNotes(QtMsgType type, const QMessageLogContext&, const QString& message) {
    if (type == QtCriticalMsg || type == QtFatalMsg)
        std::fprintf(stderr, "kestrovane-graph: %s\n", message.toLocal8Bit().constData());
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
        std::fputs(kv::GraphCommandUsage, stdout);
        return 0;
    }
    std::string error;
    const std::optional<kv::GraphCommandOptions> options = kv::ParseGraphArguments(args, error);
    if (!options) {
        std::fprintf(stderr, "kestrovane-graph: %s\n%s", error.c_str(), kv::GraphCommandUsage);
        return 2;
    }
    setenv("QT_QPA_PLATFORM", "offscreen", 0); // draws off-screen; no display needed
    qInstallMessageHandler(QuietQtNotes);
    QGuiApplication app(argc, argv);
    return kv::RunGraphCommand(*options, std::cerr);
}
