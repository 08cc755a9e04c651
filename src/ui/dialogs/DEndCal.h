// SPDX-License-Identifier: GPL-3.0-or-later
// The "End calibration dialog" (CDEndCal): the run's report and how to proceed.
#pragma once

#include <QDialog>
#include <QString>

#include "calibration/CalibrationQuestions.h"

class QButtonGroup;
class QPlainTextEdit;

namespace kv {

class CDEndCal : public QDialog {
    Q_OBJECT
public:
    // Control ids, also the controls' object names ("id2207", "id2223" ...).
    static constexpr int ReportId = 2207;
    static constexpr int FirstChoiceId = 2223; // the four radio buttons are 2223 to 2226

    explicit CDEndCal(const QString& report, QWidget* parent = nullptr);
    // The choice the radio buttons show; what the caller acts on only when the dialog was
    // accepted.
    EndChoice Choice() const;

private:
    QButtonGroup* Choices;
};

} // namespace kv
