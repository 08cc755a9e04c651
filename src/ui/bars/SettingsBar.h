// SPDX-License-Identifier: GPL-3.0-or-later
// The settings bar: the Train button, the train, lift-angle and measuring-time boxes and the
// Clear button. The boxes' edit fields show the session's current values; whoever owns the bar
// calls the Show functions when the session says a box changed.
#pragma once

#include <QComboBox>
#include <QPushButton>
#include <QToolBar>

#include "ui/common/CommandTable.h"

namespace kv {

class MeasuringSession;
class FlowWidget;

// Texts the edit fields show.
QString LiftBoxText(double degrees);
QString MeasuringTimeBoxText(double seconds);

class SettingsBar : public QToolBar {
    Q_OBJECT
public:
    // `commandStatus` gives the Train button's enable state, as the command router decides it.
    SettingsBar(MeasuringSession& session, CommandStatusQuery commandStatus,
                QWidget* parent = nullptr);

    QComboBox* TrainBox() const { return Train; }
    QComboBox* LiftBox() const { return Lift; }
    QComboBox* MeasuringTimeBox() const { return MeasuringTime; }

    // Refill the edit fields from the session.
    void ShowTrain();
    void ShowLiftAngle();
    void ShowMeasuringTime();
    // Apply what was typed into the three boxes (the Enter key).
    void ApplyTypedTexts();
    // The enable rules of the Train button and the train box (idle update).
    void UpdateControls();
    // The Train button: starts automatic train detection, or stops one that runs.
    void OnTrainButton();

private:
    QComboBox* MakeBox(FlowWidget* row, const QString& label, const QStringList& items,
                       int widthChars);
    void ApplyTrain(const QString& text);
    void ApplyLiftAngle(const QString& text);
    void ApplyMeasuringTime(const QString& text);
    void OnClearButton();

    MeasuringSession& Session;
    CommandStatusQuery CommandStatus;
    QPushButton* TrainButton = nullptr;
    QComboBox* Train = nullptr;
    QComboBox* Lift = nullptr;
    QComboBox* MeasuringTime = nullptr;
    QPushButton* ClearButton = nullptr;
};

} // namespace kv
