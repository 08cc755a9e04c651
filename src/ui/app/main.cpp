// SPDX-License-Identifier: GPL-3.0-or-later
// Kestrovane: the measuring window.
#include <QApplication>
#include <QDir>
#include <QLocale>
#include <QSocketNotifier>
#include <clocale>
#include <cstdio>
#include <memory>

#include "platform/TerminationSignals.h"
#include "ui/app/Application.h"
#include "ui/app/WindowArguments.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    // QApplication took LC_ALL from the environment. Every number the program reads or writes
    // uses "." whatever the desktop's language: C library conversions and Qt's default locale
    // both go back to "C".
    std::setlocale(LC_NUMERIC, "C");
    QLocale::setDefault(QLocale::c());
    // What is left after Qt took its own options: at most one recording to play at once.
    const kv::WindowArguments arguments =
        kv::ParseWindowArguments(QCoreApplication::arguments(), QDir::currentPath());
    if (arguments.Help) {
        std::fputs(kv::WindowUsage, stdout);
        return 0;
    }
    if (!arguments.Error.isEmpty()) {
        std::fprintf(stderr, "kestrovane: %s\n%s", arguments.Error.toLocal8Bit().constData(),
                     kv::WindowUsage);
        return 2;
    }
    kv::CKestrovaneApp instance;
    if (!instance.InitInstance(arguments.File.toStdString())) return 1;
    // Ctrl+C, a termination request or a closed terminal closes the window the normal way, so
    // the settings are saved and a recording gets its header sizes.
    kv::TerminationSignals termination;
    std::unique_ptr<QSocketNotifier> notifier;
    if (termination.Installed()) {
        notifier =
            std::make_unique<QSocketNotifier>(termination.WakeDescriptor(), QSocketNotifier::Read);
        QObject::connect(notifier.get(), &QSocketNotifier::activated, &app, [&] {
            if (!termination.TakePending().empty() && instance.Frame()) instance.Frame()->close();
        });
    }
    return QApplication::exec();
}
