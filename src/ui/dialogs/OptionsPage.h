// SPDX-License-Identifier: GPL-3.0-or-later
// The settings dialog's options beside the calibration group: the statistics file, logging and
// its interval, the display (centred trace, large fonts), the timing options, and the sound
// devices group, which sits among them.
#pragma once

#include "ui/dialogs/TrainDiaPage.h"

namespace kv {

class OptionsPage : public TrainDiaPage {
public:
    // `sound` is built inside this page, after its own controls.
    OptionsPage(const PageHooks& hooks, TrainDiaPage& sound);
    QWidget* Build(const TrainDiaFields& fields, const TrainDiaLists& lists) override;

private:
    TrainDiaPage& Sound;
};

} // namespace kv
