// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/dialogs/DEndCal.h"

#include <QButtonGroup>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QVBoxLayout>

namespace kv {

namespace {

const char* const ChoiceTexts[] = {"Continue calibration without applying the new cal factor",
                                   "Apply the new factor and also continue calibration",
                                   "Apply the new cal factor and end calibration",
                                   "Abandon the calibration without applying"};

QString ControlName(int id) {
    return QStringLiteral("id%1").arg(id);
}

} // namespace

CDEndCal::CDEndCal(const QString& report, QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("End calibration dialog"));
    auto* layout = new QVBoxLayout(this);
    auto* text = new QPlainTextEdit(report);
    text->setObjectName(ControlName(ReportId));
    text->setReadOnly(true);
    layout->addWidget(text);
    auto* group = new QGroupBox(QStringLiteral("Please choose how to proceed"));
    auto* groupLayout = new QVBoxLayout(group);
    Choices = new QButtonGroup(this);
    int choice = 0;
    for (const char* label : ChoiceTexts) {
        auto* button = new QRadioButton(QString::fromLatin1(label));
        button->setObjectName(ControlName(FirstChoiceId + choice));
        Choices->addButton(button, choice++);
        groupLayout->addWidget(button);
    }
    Choices->button(0)->setChecked(true);
    layout->addWidget(group);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
}

EndChoice CDEndCal::Choice() const {
    return static_cast<EndChoice>(Choices->checkedId());
}

} // namespace kv
