// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/dialogs/SoundPage.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QRadioButton>
#include <utility>

namespace kv {

namespace {

const NumericControl Numbers[] = {
    {ctl::SampleRate, &TrainDiaFields::SampleRate, Limits{11025, 96000}},
};

// The devices are this machine's: a reset keeps them.
const TextControl Lists[] = {{ctl::InputDevice, &TrainDiaFields::InputDevice, OnReset::Keep},
                             {ctl::OutputDevice, &TrainDiaFields::OutputDevice, OnReset::Keep}};

const CheckControl Checks[] = {{ctl::Duplex, &TrainDiaFields::DuplexAudio}};

const char* const SampleRates[] = {"22050", "44100", "48000", "96000"};

} // namespace

SoundPage::SoundPage(const PageHooks& hooks)
    : TrainDiaPage(hooks, PageTables{Numbers, {}, {}, Lists, Checks}) {}

QWidget* SoundPage::Build(const TrainDiaFields&, const TrainDiaLists& lists) {
    auto* group = new QGroupBox(QStringLiteral("Sound devices"), Owner());
    auto* grid = new QGridLayout(group);
    QComboBox* inputs = AddList(grid, 0, 0, ctl::InputDevice, QStringLiteral("Input"), false);
    for (const std::string& name : lists.InputDevices)
        inputs->addItem(QString::fromStdString(name));
    QComboBox* rates = AddList(grid, 1, 0, ctl::SampleRate, QStringLiteral("Sample rate"), true);
    for (const char* rate : SampleRates)
        rates->addItem(QString::fromLatin1(rate));
    auto* slider = new QGroupBox(QStringLiteral("Mic slider affects:"), group);
    auto* sources = new QHBoxLayout(slider);
    Sources = new QButtonGroup(Owner());
    for (const auto& [id, label] : {std::pair{ctl::MicIn, "Mic-in"}, {ctl::LineIn, "Line-in"}}) {
        auto* radio = new QRadioButton(QString::fromLatin1(label), slider);
        NameControl(radio, id);
        Sources->addButton(radio, id);
        sources->addWidget(radio);
    }
    grid->addWidget(slider, 2, 0, 1, 2);
    QComboBox* outputs = AddList(grid, 3, 0, ctl::OutputDevice, QStringLiteral("Output"), false);
    for (const std::string& name : lists.OutputDevices)
        outputs->addItem(QString::fromStdString(name));
    AddCheck(grid, 4, 0, ctl::Duplex, QStringLiteral("Duplex audio"));
    return group;
}

void SoundPage::ShowChoices(const TrainDiaFields& fields) {
    Sources->button(fields.LineIn ? ctl::LineIn : ctl::MicIn)->setChecked(true);
}

void SoundPage::ReadChoices(TrainDiaFields& fields) const {
    fields.LineIn = Sources->checkedId() == ctl::LineIn;
}

} // namespace kv
