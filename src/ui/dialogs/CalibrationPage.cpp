// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/dialogs/CalibrationPage.h"

#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QStringList>

#include "references/GpsReceiver.h"

namespace kv {

namespace {

// Calibration factors between 0.5 and 2, the factors the settings store accepts on loading;
// outside them the sample constants of the analysis lose their meaning.
constexpr Limits CalibrationLimits{-43000, 86000};

const NumericControl Numbers[] = {
    {ctl::Cal22, &TrainDiaFields::Cal22, CalibrationLimits, OnReset::Keep},
    {ctl::Cal44, &TrainDiaFields::Cal44, CalibrationLimits, OnReset::Keep},
    {ctl::Cal48, &TrainDiaFields::Cal48, CalibrationLimits, OnReset::Keep},
    {ctl::Cal96, &TrainDiaFields::Cal96, CalibrationLimits, OnReset::Keep},
    {ctl::Trim, &TrainDiaFields::Trim, Limits{-100, 100}, OnReset::Keep},
};

const TextControl Texts[] = {{ctl::SntpServer, &TrainDiaFields::SntpServer, OnReset::Keep}};

const TextControl Lists[] = {{ctl::GpsPort, &TrainDiaFields::GpsPort, OnReset::Keep},
                             {ctl::GpsBaud, &TrainDiaFields::GpsBaud, OnReset::Keep}};

const char* const SntpServers[] = {"0.pool.ntp.org",
                                   "1.pool.ntp.org",
                                   "2.pool.ntp.org",
                                   "3.pool.ntp.org",
                                   "africa.pool.ntp.org",
                                   "asia.pool.ntp.org",
                                   "europe.pool.ntp.org",
                                   "north-america.pool.ntp.org",
                                   "oceania.pool.ntp.org",
                                   "pool.ntp.org",
                                   "south-america.pool.ntp.org",
                                   "de.pool.ntp.org",
                                   "uk.pool.ntp.org",
                                   "ntp.ubuntu.com",
                                   "ptbtime1.ptb.de",
                                   "time.apple.com",
                                   "time.cloudflare.com",
                                   "time.facebook.com",
                                   "time.google.com",
                                   "time.nist.gov",
                                   "time-a-g.nist.gov",
                                   "time.windows.com"};

// The stored port or speed stays choosable when the machine does not offer it.
void KeepStored(QComboBox* list, const QString& stored) {
    if (!stored.isEmpty() && list->findText(stored, Qt::MatchExactly) < 0) list->addItem(stored);
}

} // namespace

CalibrationPage::CalibrationPage(const PageHooks& hooks)
    : TrainDiaPage(hooks, PageTables{Numbers, {}, Texts, Lists, {}}) {}

QWidget* CalibrationPage::Build(const TrainDiaFields& fields, const TrainDiaLists& lists) {
    auto* group = new QGroupBox(QStringLiteral("Calibration"), Owner());
    auto* grid = new QGridLayout(group);
    const QString sd = QStringLiteral("s/d");
    AddEdit(grid, 0, 0, ctl::Cal22, QStringLiteral("Calibration factor 22050"), sd);
    AddEdit(grid, 1, 0, ctl::Cal44, QStringLiteral("Calibration factor 44100"), sd);
    AddEdit(grid, 2, 0, ctl::Cal48, QStringLiteral("Calibration factor 48000"), sd);
    AddEdit(grid, 3, 0, ctl::Cal96, QStringLiteral("Calibration factor 96000"), sd);
    auto* note = new QLabel(QStringLiteral("Nominal value is zero. Increase to make indicated rate "
                                           "faster. Reduce to make indicated rate slower."),
                            group);
    note->setWordWrap(true);
    grid->addWidget(note, 4, 0, 1, 3);
    QStringList servers;
    for (const char* name : SntpServers)
        servers << QString::fromLatin1(name);
    servers.sort();
    AddList(grid, 5, 0, ctl::SntpServer, QStringLiteral("SNTP server for internet calibration"),
            true)
        ->addItems(servers);
    QComboBox* ports = AddList(grid, 6, 0, ctl::GpsPort, QStringLiteral("GPS com port"), false);
    for (const std::string& port : lists.SerialPorts)
        ports->addItem(QString::fromStdString(port));
    QComboBox* bauds = AddList(grid, 7, 0, ctl::GpsBaud, QStringLiteral("GPS baud rate"), false);
    for (const int baud : GpsBaudRates)
        bauds->addItem(QString::number(baud));
    KeepStored(ports, fields.GpsPort);
    KeepStored(bauds, fields.GpsBaud);
    AddEdit(grid, 8, 0, ctl::Trim, QStringLiteral("Timestamp clock trim"), sd);
    // Spare height goes below the fields, not between them.
    grid->setRowStretch(9, 1);
    return group;
}

} // namespace kv
