// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/view/ViewQuestions.h"

#include <QMessageBox>

#include "ui/dialogs/DEndCal.h"

namespace kv {

namespace {
// The engine's texts end their lines with CR LF; a Qt text wants LF alone.
QString Text(const std::string& text) {
    return QString::fromStdString(text).replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}
} // namespace

Answer ViewQuestions::Ask(const std::string& text, QuestionButtons buttons, QuestionIcon icon) {
    const bool cancel = buttons == QuestionButtons::YesNoCancel;
    if (Hooks.QuestionHook) return Hooks.QuestionHook(Text(text), buttons);
    QMessageBox box(icon == QuestionIcon::Question ? QMessageBox::Question
                                                   : QMessageBox::Information,
                    QStringLiteral("Kestrovane"), Text(text),
                    cancel ? QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel
                           : QMessageBox::Yes | QMessageBox::No,
                    &Parent);
    box.setEscapeButton(cancel ? QMessageBox::Cancel : QMessageBox::No);
    switch (box.exec()) {
    case QMessageBox::Yes:
        return Answer::Yes;
    case QMessageBox::Cancel:
        return Answer::Cancel;
    default:
        return Answer::No;
    }
}

EndChoice ViewQuestions::ChooseEndOfRun(const std::string& report) {
    CDEndCal dialog(Text(report), &Parent);
    if (Hooks.EndCalibrationDialogHook) {
        dialog.show();
        Hooks.EndCalibrationDialogHook(dialog);
    } else {
        dialog.exec();
    }
    return dialog.result() == QDialog::Accepted ? dialog.Choice() : EndChoice::Continue;
}

} // namespace kv
