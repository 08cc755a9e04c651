// SPDX-License-Identifier: GPL-3.0-or-later
// The settings dialog's "Calibration" group: the sound cards' calibration factors, the time
// references (SNTP server, GPS receiver) they are measured against, and the clock trim. All of
// it belongs to this machine, so "Reset to defaults" keeps it.
#pragma once

#include "ui/dialogs/TrainDiaPage.h"

namespace kv {

class CalibrationPage : public TrainDiaPage {
public:
    explicit CalibrationPage(const PageHooks& hooks);
    QWidget* Build(const TrainDiaFields& fields, const TrainDiaLists& lists) override;
};

} // namespace kv
