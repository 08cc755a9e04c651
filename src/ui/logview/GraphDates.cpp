// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/logview/GraphDates.h"

namespace kv {

QString GraphDateFormat(const QLocale& locale) {
    if (locale.language() == QLocale::C) return QStringLiteral("yyyy-MM-dd");
    return locale.dateFormat(QLocale::ShortFormat);
}

QString GraphDateText(const QDate& date, const QLocale& locale) {
    return locale.toString(date, GraphDateFormat(locale));
}

QString GraphDateTimeText(const QDateTime& time, const QLocale& locale) {
    return locale.toString(time.time(), QStringLiteral("HH:mm:ss")) + QLatin1Char(' ') +
           GraphDateText(time.date(), locale);
}

} // namespace kv
