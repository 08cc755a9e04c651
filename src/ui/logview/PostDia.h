// SPDX-License-Identifier: GPL-3.0-or-later
// The "Trace presentation" dialog: per trace whether it is shown, its low-pass filter and
// coefficient, its label and held scale limits, and the graph title. OK checks every number
// first; "Reset default" ends the dialog with its own result. User-interface thread only.
#pragma once

#include <QCheckBox>
#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <array>
#include <functional>

#include "logview/model/GraphSettings.h"

namespace kv {

class CPostDia : public QDialog {
    Q_OBJECT
public:
    static constexpr int ResetResult = 2; // the dialog's result after "Reset default"

    struct Row {
        QCheckBox* On = nullptr;
        QCheckBox* Filter = nullptr;
        QLineEdit* Coefficient = nullptr;
        QLineEdit* Label = nullptr;
        QCheckBox* Hold = nullptr;
        QLineEdit* Min = nullptr;
        QLineEdit* Max = nullptr;
    };

    // `tell` shows the refusal of a box that holds no valid number (a message box when empty).
    CPostDia(const GraphSettings& settings, std::function<void(const QString&)> tell,
             QWidget* parent = nullptr);

    const Row& Trace(int i) const { return Rows[static_cast<size_t>(i)]; }
    QLineEdit* TitleEdit() const { return Title; }
    QPushButton* ResetButton() const { return Reset; }

    // Takes the boxes over into `settings` (after OK); true when a slope trace has no held limits,
    // which the caller explains once.
    bool ApplyTo(GraphSettings& settings) const;

    void accept() override; // refuses while a box holds no valid number

private:
    QLineEdit* NumberEdit(double value, uint32_t colour);
    bool Refuse(QLineEdit* edit, const QString& message);

    std::array<Row, TraceCount> Rows;
    QLineEdit* Title = nullptr;
    QPushButton* Reset = nullptr;
    std::function<void(const QString&)> Tell;
};

} // namespace kv
