// SPDX-License-Identifier: GPL-3.0-or-later
// The settings dialog's "Profile" group: the escapement, the train and what the analysis
// measures with, and the profile's name with the buttons that save and load it.
#pragma once

#include "ui/dialogs/TrainDiaPage.h"

class QButtonGroup;
class QGridLayout;

namespace kv {

class MeasuringPage : public TrainDiaPage {
public:
    explicit MeasuringPage(const PageHooks& hooks);
    QWidget* Build(const TrainDiaFields& fields, const TrainDiaLists& lists) override;
    void ShowChoices(const TrainDiaFields& fields) override;
    void ReadChoices(TrainDiaFields& fields) const override;

private:
    void BuildProfileButtons(QGridLayout* grid, int row);

    std::function<void(TrainDiaExit)> OnProfile;
    QButtonGroup* Escapements = nullptr;
};

} // namespace kv
