// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/dialogs/MeasuringPage.h"

#include <QButtonGroup>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QPushButton>
#include <QRadioButton>
#include <tuple>

namespace kv {

namespace {

const NumericControl Numbers[] = {
    {ctl::LiftAngle, &TrainDiaFields::LiftAngle, Limits{20, 120}},
    {ctl::Tau, &TrainDiaFields::Tau, Limits{0.2, 1000}},
    {ctl::RateAverage, &TrainDiaFields::RateAverage, Limits{0, 100000}},
    {ctl::Positions, &TrainDiaFields::Positions, Limits{1, 6}},
    {ctl::PositionAverage, &TrainDiaFields::PositionAverage, Limits{1, 100000}},
    {ctl::Stabilization, &TrainDiaFields::Stabilization, Limits{0, 300}},
    {ctl::Threshold, &TrainDiaFields::ThresholdPercent, Limits{1, 99}},
    {ctl::MaxAmplitude, &TrainDiaFields::MaxAmplitude, Limits{30, 400}},
    {ctl::Blanking, &TrainDiaFields::BlankingPercent, Limits{0, 99}},
    {ctl::Silence, &TrainDiaFields::SilencePercent, Limits{0, 99}},
    {ctl::Teeth, &TrainDiaFields::EscapeWheelTeeth, Limits{0, 120}},
    {ctl::FreeWheel, &TrainDiaFields::FreeWheel, Limits{0, 100}},
};

const SpinControl Spins[] = {
    {ctl::LiftAngleSpin, ctl::LiftAngle, SpinKind::Step, {20, 120}},
    {ctl::TauSpin, ctl::Tau, SpinKind::Step, {0.2, 1000}},
    {ctl::RateAverageSpin, ctl::RateAverage, SpinKind::Step, {2, 300}},
    {ctl::PositionsSpin, ctl::Positions, SpinKind::Integer, {1, 6}},
    {ctl::PositionAverageSpin, ctl::PositionAverage, SpinKind::Step, {2, 300}},
    {ctl::StabilizationSpin, ctl::Stabilization, SpinKind::Step, {0, 300}},
    {ctl::ThresholdSpin, ctl::Threshold, SpinKind::Integer, {1, 99}},
    {ctl::MaxAmplitudeSpin, ctl::MaxAmplitude, SpinKind::Integer, {60, 340}},
    {ctl::BlankingSpin, ctl::Blanking, SpinKind::Integer, {0, 99}},
    {ctl::SilenceSpin, ctl::Silence, SpinKind::Integer, {0, 99}},
    {ctl::TeethSpin, ctl::Teeth, SpinKind::Integer, {0, 100}},
    {ctl::FreeWheelSpin, ctl::FreeWheel, SpinKind::Step, {0, 100}},
};

// The profile's name is the user's, not a setting: a reset keeps it.
const TextControl Texts[] = {{ctl::Train, &TrainDiaFields::Train},
                             {ctl::Sequence, &TrainDiaFields::Sequence},
                             {ctl::ProfileName, &TrainDiaFields::Profile, OnReset::Keep}};

const CheckControl Checks[] = {{ctl::Averaging, &TrainDiaFields::Averaging}};

const char* const EscapementLabels[] = {"Lever", "Coax1", "Coax2", "AP1", "AP2", "Clock", "Fork"};

// Coax2, AP1 and AP2 are shown but cannot be chosen.
bool Choosable(int code) {
    return code != 2 && code != 3 && code != 4;
}

// The row of escapement buttons spans the group's two captioned columns of fields.
constexpr int GroupColumns = 8;

} // namespace

MeasuringPage::MeasuringPage(const PageHooks& hooks)
    : TrainDiaPage(hooks, PageTables{Numbers, Spins, Texts, {}, Checks}), OnProfile(hooks.Profile) {
}

QWidget* MeasuringPage::Build(const TrainDiaFields&, const TrainDiaLists&) {
    auto* group = new QGroupBox(QStringLiteral("Profile"), Owner());
    auto* grid = new QGridLayout(group);
    auto* types = new QHBoxLayout;
    Escapements = new QButtonGroup(Owner());
    for (int code = 0; code < static_cast<int>(std::size(EscapementLabels)); ++code) {
        auto* radio = new QRadioButton(QString::fromLatin1(EscapementLabels[code]), group);
        NameControl(radio, ctl::Lever + code);
        radio->setEnabled(Choosable(code));
        Escapements->addButton(radio, ctl::Lever + code);
        types->addWidget(radio);
    }
    grid->addLayout(types, 0, 0, 1, GroupColumns);
    const QString secs = QStringLiteral("secs"), degrees = QString::fromUtf8("\u00b0");
    AddEdit(grid, 1, 0, ctl::Train, QStringLiteral("Train"));
    AddEdit(grid, 2, 0, ctl::LiftAngle, QStringLiteral("Lift angle"), degrees);
    AddEdit(grid, 3, 0, ctl::Tau, QStringLiteral("Allen deviation Tau"), secs);
    AddEdit(grid, 4, 0, ctl::RateAverage, QStringLiteral("Rate average time"), secs);
    AddEdit(grid, 5, 0, ctl::Positions, QStringLiteral("Positions"));
    AddEdit(grid, 6, 0, ctl::PositionAverage, QStringLiteral("Position average time"), secs);
    AddEdit(grid, 7, 0, ctl::Stabilization, QStringLiteral("Stabilization time"), secs);
    AddEdit(grid, 8, 0, ctl::Sequence, QStringLiteral("Sequence"));
    AddEdit(grid, 1, 4, ctl::Threshold, QStringLiteral("Unlock threshold"), QStringLiteral("%"));
    AddEdit(grid, 2, 4, ctl::MaxAmplitude, QStringLiteral("Max amplitude"), degrees);
    AddEdit(grid, 3, 4, ctl::Blanking, QStringLiteral("Post tick blanking"), QStringLiteral("%"));
    AddEdit(grid, 4, 4, ctl::Silence, QStringLiteral("Silence"), QStringLiteral("%"));
    AddEdit(grid, 5, 4, ctl::Teeth, QStringLiteral("Escape wheel teeth"));
    AddEdit(grid, 6, 4, ctl::FreeWheel, QStringLiteral("Freewheel ticks"));
    AddCheck(grid, 7, 4, ctl::Averaging, QStringLiteral("Beat && amplitude averaging?"));
    BuildProfileButtons(grid, 8);
    return group;
}

void MeasuringPage::BuildProfileButtons(QGridLayout* grid, int row) {
    AddEdit(grid, row, 4, ctl::ProfileName, QStringLiteral("Profile name"));
    auto* buttons = new QHBoxLayout;
    for (const auto& [id, label, exit] : {std::tuple{ctl::Save, "Save", TrainDiaExit::Save},
                                          std::tuple{ctl::Load, "Load", TrainDiaExit::Load}}) {
        auto* button = new QPushButton(QString::fromLatin1(label), Owner());
        button->setAutoDefault(false);
        NameControl(button, id);
        QObject::connect(button, &QPushButton::clicked, Owner(),
                         [profile = OnProfile, exit] { profile(exit); });
        buttons->addWidget(button);
    }
    grid->addLayout(buttons, row, 6, 1, 2);
}

void MeasuringPage::ShowChoices(const TrainDiaFields& fields) {
    if (QAbstractButton* type = Escapements->button(ctl::Lever + fields.Escapement))
        type->setChecked(true);
}

void MeasuringPage::ReadChoices(TrainDiaFields& fields) const {
    if (Escapements->checkedId() >= ctl::Lever)
        fields.Escapement = Escapements->checkedId() - ctl::Lever;
}

} // namespace kv
