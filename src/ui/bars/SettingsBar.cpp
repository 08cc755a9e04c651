// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/bars/SettingsBar.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>

#include "session/MeasuringSession.h"
#include "ui/bars/FlowLayout.h"
#include "ui/common/CommandTable.h"

namespace kv {

QString LiftBoxText(double degrees) {
    return QString::asprintf("%g \u00b0", degrees);
}

QString MeasuringTimeBoxText(double t) {
    if (t >= 3600.0) return QString::asprintf("%1.2f hour", t / 3600.0);
    if (t >= 60.0) return QString::asprintf("%1.2f min", t / 60.0);
    return QString::asprintf("%1.2f sec", t);
}

namespace {

QStringList TrainItems() {
    return {"3600 vph",   "7200 vph",  "10800 vph", "14400 vph", "18000 vph", "19800 vph",
            "21600 vph",  "23400 vph", "25200 vph", "28800 vph", "36000 vph", "72000 vph",
            "144000 vph", "300 Hz",    "330 Hz",    "360 Hz",    "1 sec",     "2 sec",
            "4 sec",      "5 sec",     "10 sec",    "20 sec"};
}

QStringList LiftItems() {
    QStringList items;
    for (int d = 20; d <= 100; ++d)
        items << QString::asprintf("%d \u00b0", d);
    return items;
}

QStringList MeasuringTimeItems() {
    return {"1 sec",  "2 sec",  "3 sec", "4 sec", "5 sec", "8 sec", "10 sec", "12 sec", "24 sec",
            "30 sec", "45 sec", "1 min", "2 min", "3 min", "4 min", "5 min",  "10 min"};
}

// The control's tool tip and the prompt the status bar shows while the pointer is over it.
void SetTexts(QWidget* control, int id) {
    if (const CommandText* t = FindCommandText(id)) {
        control->setToolTip(QString::fromUtf8(t->Tip));
        control->setStatusTip(QString::fromUtf8(t->Prompt));
    }
}

} // namespace

SettingsBar::SettingsBar(MeasuringSession& session, CommandStatusQuery commandStatus,
                         QWidget* parent)
    : QToolBar(QStringLiteral("Settings"), parent), Session(session),
      CommandStatus(std::move(commandStatus)) {
    setObjectName(QStringLiteral("SettingsBar"));
    // The controls wrap onto a second row when the window is too narrow for one, instead of
    // going behind the tool bar's overflow button; a label stays with its box.
    auto* row = new FlowWidget(this);
    TrainButton = new QPushButton(QStringLiteral("Train"), row);
    row->Flow()->addWidget(TrainButton);
    Train = MakeBox(row, {}, TrainItems(), 11);
    Lift = MakeBox(row, QStringLiteral(" Lift "), LiftItems(), 7);
    MeasuringTime = MakeBox(row, QStringLiteral(" Av time "), MeasuringTimeItems(), 10);
    ClearButton = new QPushButton(QStringLiteral("Clear"), row);
    row->Flow()->addWidget(ClearButton);
    addWidget(row);

    SetTexts(TrainButton, cmd::TrainButton);
    SetTexts(Train, cmd::TrainBox);
    SetTexts(Lift, cmd::LiftBox);
    SetTexts(MeasuringTime, cmd::MeasuringTimeBox);
    SetTexts(ClearButton, cmd::Clear);
    connect(TrainButton, &QPushButton::clicked, this, &SettingsBar::OnTrainButton);
    connect(ClearButton, &QPushButton::clicked, this, &SettingsBar::OnClearButton);
    connect(Train, &QComboBox::textActivated, this, &SettingsBar::ApplyTrain);
    connect(Lift, &QComboBox::textActivated, this, &SettingsBar::ApplyLiftAngle);
    connect(MeasuringTime, &QComboBox::textActivated, this, &SettingsBar::ApplyMeasuringTime);
    ShowTrain();
    ShowLiftAngle();
    ShowMeasuringTime();
}

QComboBox* SettingsBar::MakeBox(FlowWidget* row, const QString& label, const QStringList& items,
                                int widthChars) {
    auto* group = new QWidget(row);
    auto* line = new QHBoxLayout(group);
    line->setContentsMargins(0, 0, 0, 0);
    line->setSpacing(0);
    if (!label.isEmpty()) line->addWidget(new QLabel(label, group));
    auto* box = new QComboBox(group);
    box->setEditable(true);
    box->setInsertPolicy(QComboBox::NoInsert);
    box->addItems(items);
    box->setMinimumContentsLength(widthChars);
    line->addWidget(box);
    row->Flow()->addWidget(group);
    return box;
}

void SettingsBar::ShowTrain() {
    const auto lock = Session.Analysis().HoldAnalysis();
    Train->setEditText(QString::fromStdString(Session.Analysis().Params.TickInterval));
}

void SettingsBar::ShowLiftAngle() {
    const auto lock = Session.Analysis().HoldAnalysis();
    Lift->setEditText(LiftBoxText(Session.Analysis().Params.LiftAngle));
}

void SettingsBar::ShowMeasuringTime() {
    const auto lock = Session.Analysis().HoldAnalysis();
    MeasuringTime->setEditText(MeasuringTimeBoxText(Session.Analysis().Params.MeasuringTime));
}

void SettingsBar::ApplyTypedTexts() {
    ApplyTrain(Train->currentText());
    ApplyLiftAngle(Lift->currentText());
    ApplyMeasuringTime(MeasuringTime->currentText());
}

void SettingsBar::ApplyTrain(const QString& text) {
    const std::string train = text.trimmed().toStdString();
    if (train.empty()) return;
    if (Session.Analysis().ParseTrain(train)) Session.Analysis().Params.TickInterval = train;
    ShowTrain();
    Session.RequestRepaint();
}

void SettingsBar::UpdateControls() {
    TrainButton->setEnabled(CommandStatus(cmd::TrainButton).Enabled);
    bool detecting = false;
    {
        const auto lock = Session.Analysis().HoldAnalysis();
        detecting = Session.Analysis().AutoTrainActive;
    }
    const bool localCalibration = Session.Calibration().Flags() == LocalCalibrationMode;
    Train->setEnabled(!detecting && !localCalibration);
    if (localCalibration) ShowTrain();
}

void SettingsBar::ApplyLiftAngle(const QString& text) {
    if (!Session.Analysis().SetLiftAngle(text.toStdString())) return; // an empty box is ignored
    ShowLiftAngle();
    Session.RequestRepaint();
}

void SettingsBar::ApplyMeasuringTime(const QString& text) {
    Session.Analysis().SetMeasuringTime(text.toStdString());
    ShowMeasuringTime();
    Session.RequestRepaint();
}

void SettingsBar::OnTrainButton() {
    if (Session.Analysis().Params.Escapement() == EscapementType::TuningFork) return;
    if (Session.Analysis().AutoTrainActive) {
        Session.Analysis().AbandonTrainDetection();
        ApplyTypedTexts();
    } else {
        Session.Analysis().ParseTrain("AUTO");
    }
    Session.RequestRepaint();
}

void SettingsBar::OnClearButton() {
    Session.Analysis().Clear(MeasuringTime->currentText().toStdString());
    Session.RequestRepaint();
}

} // namespace kv
