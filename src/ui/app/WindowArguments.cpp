// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/app/WindowArguments.h"

#include <QDir>
#include <QUrl>

namespace kv {

WindowArguments ParseWindowArguments(const QStringList& arguments, const QString& workingFolder) {
    WindowArguments result;
    bool optionsEnded = false;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (!optionsEnded && argument == QLatin1String("--")) {
            optionsEnded = true;
        } else if (!optionsEnded &&
                   (argument == QLatin1String("--help") || argument == QLatin1String("-h"))) {
            result.Help = true;
        } else if (!optionsEnded && argument.size() > 1 && argument.startsWith(QLatin1Char('-'))) {
            result.Error = QStringLiteral("unknown option ") + argument;
            return result;
        } else if (!result.File.isEmpty()) {
            result.Error = QStringLiteral("only one FILE may be given");
            return result;
        } else if (argument.isEmpty()) {
            result.Error = QStringLiteral("an empty FILE name");
            return result;
        } else {
            const QUrl url(argument);
            const QString path = url.isLocalFile() ? url.toLocalFile() : argument;
            result.File = QDir::cleanPath(QDir(workingFolder).absoluteFilePath(path));
        }
    }
    return result;
}

} // namespace kv
