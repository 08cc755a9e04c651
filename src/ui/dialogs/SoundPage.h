// SPDX-License-Identifier: GPL-3.0-or-later
// The settings dialog's "Sound devices" group: the input device and its sample rate, which
// input the mixer's microphone slider moves, the output device and duplex audio.
#pragma once

#include "ui/dialogs/TrainDiaPage.h"

class QButtonGroup;

namespace kv {

class SoundPage : public TrainDiaPage {
public:
    explicit SoundPage(const PageHooks& hooks);
    QWidget* Build(const TrainDiaFields& fields, const TrainDiaLists& lists) override;
    void ShowChoices(const TrainDiaFields& fields) override;
    void ReadChoices(TrainDiaFields& fields) const override;

private:
    QButtonGroup* Sources = nullptr;
};

} // namespace kv
