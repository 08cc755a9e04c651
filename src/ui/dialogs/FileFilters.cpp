// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/dialogs/FileFilters.h"

#include <QStringList>

#include "audio/SoundFile.h"

namespace kv {

QString SoundFileFilters(const std::vector<std::string>& extensions) {
    QStringList patterns;
    for (const std::string& extension : extensions)
        patterns << QStringLiteral("*.") + QString::fromStdString(extension);
    QStringList filters;
    if (!patterns.isEmpty())
        filters << QStringLiteral("Sound files (%1)").arg(patterns.join(QLatin1Char(' ')));
    filters << QStringLiteral("Wave files (*.wav)") << QStringLiteral("All files (*)");
    return filters.join(QStringLiteral(";;"));
}

QString SoundFileFilters() {
    return SoundFileFilters(ReadableSoundFileExtensions());
}

} // namespace kv
