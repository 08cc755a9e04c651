// SPDX-License-Identifier: GPL-3.0-or-later
// The questions a calibration asks its user: the end-of-run choice and the yes/no boxes of the
// local standard. The window answers them with its dialogs; tests answer them directly.
// Called on the user-interface thread only, never while a calibration lock is held.
#pragma once

#include <string>

namespace kv {

enum class Answer { Yes, No, Cancel };

// Which buttons a question offers, and its icon.
enum class QuestionButtons { YesNo, YesNoCancel };
enum class QuestionIcon { Information, Question };

// What to do at the end of a reference run (the choices of the end dialog, in its order).
enum class EndChoice : int {
    Continue = 0,         // continue without applying the new factor
    ApplyAndContinue = 1, // apply it and continue
    ApplyAndEnd = 2,      // apply it and end the run
    Abandon = 3,          // end the run without applying
};

class CalibrationQuestions {
public:
    virtual ~CalibrationQuestions() = default;
    // A message box with `text`; closing it without a button counts as No (Cancel when offered).
    virtual Answer Ask(const std::string& text, QuestionButtons buttons, QuestionIcon icon) = 0;
    // The end dialog showing `report`; a cancelled dialog is EndChoice::Continue.
    virtual EndChoice ChooseEndOfRun(const std::string& report) = 0;
};

} // namespace kv
