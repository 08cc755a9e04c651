// SPDX-License-Identifier: GPL-3.0-or-later
// The settings bar: the Train button, the train, lift-angle and measuring-time boxes and the
// Clear button. The boxes' edit fields always show the view's current values.
#pragma once

#include <QComboBox>
#include <QPushButton>
#include <QToolBar>

namespace kv {

class CChildView;
class FlowWidget;

// Texts the edit fields show.
QString LiftBoxText(double degrees);
QString MeasuringTimeBoxText(double seconds);

class SettingsBar : public QToolBar {
    Q_OBJECT
public:
    explicit SettingsBar(CChildView& view, QWidget* parent = nullptr);

    QComboBox* TrainBox() const { return Train; }
    QComboBox* LiftBox() const { return Lift; }
    QComboBox* MeasuringTimeBox() const { return MeasuringTime; }

    // Refill the edit fields from the view.
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

    CChildView& View;
    QPushButton* TrainButton = nullptr;
    QComboBox* Train = nullptr;
    QComboBox* Lift = nullptr;
    QComboBox* MeasuringTime = nullptr;
    QPushButton* ClearButton = nullptr;
};

} // namespace kv
