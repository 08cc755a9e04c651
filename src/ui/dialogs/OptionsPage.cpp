// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/dialogs/OptionsPage.h"

#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>

namespace kv {

namespace {

const NumericControl Numbers[] = {
    {ctl::LogInterval, &TrainDiaFields::LogInterval, Limits{0, 86400}},
};

const SpinControl Spins[] = {
    {ctl::LogIntervalSpin, ctl::LogInterval, SpinKind::Integer, {0, 32767}},
};

const CheckControl Checks[] = {{ctl::PositionsToText, &TrainDiaFields::PositionsToText},
                               {ctl::Centre, &TrainDiaFields::Centre},
                               {ctl::Logging, &TrainDiaFields::Logging},
                               {ctl::LargeFonts, &TrainDiaFields::LargeFonts},
                               {ctl::PrecisionTiming, &TrainDiaFields::PrecisionTiming},
                               {ctl::AutoThreshold, &TrainDiaFields::AutoThreshold}};

// The sound devices group takes the row between the performance counter and the timing options,
// across the caption, field and unit columns.
constexpr int SoundRow = 7, SoundColumns = 3;

} // namespace

OptionsPage::OptionsPage(const PageHooks& hooks, TrainDiaPage& sound)
    : TrainDiaPage(hooks, PageTables{Numbers, Spins, {}, {}, Checks}), Sound(sound) {}

QWidget* OptionsPage::Build(const TrainDiaFields& fields, const TrainDiaLists& lists) {
    auto* panel = new QWidget(Owner());
    auto* grid = new QGridLayout(panel);
    grid->setContentsMargins(0, 0, 0, 0);
    AddCheck(grid, 0, 0, ctl::PositionsToText,
             QStringLiteral("Save positional statistics to text file?"));
    AddCheck(grid, 1, 0, ctl::Centre, QStringLiteral("Centre trace on start"));
    AddCheck(grid, 2, 0, ctl::Logging, QStringLiteral("Enable logging?"));
    AddEdit(grid, 3, 0, ctl::LogInterval, QStringLiteral("Logging interval"));
    grid->addWidget(new QLabel(QStringLiteral("(secs. Set to zero to use rate measuring time)")), 4,
                    0, 1, 3);
    AddCheck(grid, 5, 0, ctl::LargeFonts, QStringLiteral("Large fonts"));
    QLineEdit* counter =
        AddEdit(grid, 6, 0, ctl::PerformanceCounter, QStringLiteral("Performance counter "));
    counter->setReadOnly(true);
    counter->setText(QString::number(static_cast<qlonglong>(lists.CounterFrequency)));
    AddCheck(grid, 8, 0, ctl::PrecisionTiming,
             QStringLiteral("Precision timing (tick times between samples)"));
    AddCheck(grid, 9, 0, ctl::AutoThreshold,
             QStringLiteral("Automatic threshold (follows the noise)"));
    grid->addWidget(Sound.Build(fields, lists), SoundRow, 0, 1, SoundColumns);
    return panel;
}

} // namespace kv
