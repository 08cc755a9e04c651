// SPDX-License-Identifier: GPL-3.0-or-later
// The calibration's questions as the measuring view asks them: message boxes and the end dialog,
// or the test hooks in their place.
#pragma once

#include "calibration/CalibrationQuestions.h"
#include "ui/view/ViewHooks.h"

class QWidget;

namespace kv {

class ViewQuestions final : public CalibrationQuestions {
public:
    ViewQuestions(QWidget& parent, const ViewHooks& hooks) : Parent(parent), Hooks(hooks) {}
    Answer Ask(const std::string& text, QuestionButtons buttons, QuestionIcon icon) override;
    EndChoice ChooseEndOfRun(const std::string& report) override;

private:
    QWidget& Parent;
    const ViewHooks& Hooks;
};

} // namespace kv
