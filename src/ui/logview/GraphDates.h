// SPDX-License-Identifier: GPL-3.0-or-later
// Dates in the log viewer's graph, its read-out and kestrovane-graph's pictures, in the user's
// locale: the locale's short numeric date (day before month in German, month first in US
// English ...), and ISO 8601 (2024-06-02) in the C or POSIX locale. Times stay 24-hour.
#pragma once

#include <QDate>
#include <QDateTime>
#include <QLocale>
#include <QString>

namespace kv {

// The date format of `locale`: "yyyy-MM-dd" for the C locale, else its short date format.
QString GraphDateFormat(const QLocale& locale);
QString GraphDateText(const QDate& date, const QLocale& locale);
// "HH:mm:ss " and the date: the start of the shown data, the clock, the mouse's read-out.
QString GraphDateTimeText(const QDateTime& time, const QLocale& locale);

} // namespace kv
