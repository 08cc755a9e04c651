// SPDX-License-Identifier: GPL-3.0-or-later
// The measuring view's seams for tests: each replaces a modal box, a device list or the beep.
// Empty functions give the real behaviour.
#pragma once

#include <QString>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "calibration/CalibrationQuestions.h"

class QPrinter;

namespace kv {

class CDEndCal;
class CTrainDia;
class ProfileChooser;
class CAnnotatePos;
class CPostDia;

struct ViewHooks {
    // Receives each message box's text as it would be shown, instead of the box.
    std::function<void(const QString& text)> MessageSink;
    // Answers yes/no questions instead of a message box.
    std::function<bool(const QString&)> ConfirmHook;
    // Device names the settings dialog lists; empty functions ask PortAudio.
    std::function<std::vector<std::string>()> InputDeviceNames;
    std::function<std::vector<std::string>()> OutputDeviceNames;
    // Drives the settings dialog instead of its modal loop; it counts as accepted when the hook
    // closed it with OK, Apply, Save or Load.
    std::function<void(CTrainDia&)> SettingsDialogHook;
    // Chooses from the profile list instead of showing it: the chosen number, 0 for none.
    std::function<int(ProfileChooser&)> ProfileChooserHook;
    // Drives the annotate dialog of positional results instead of its modal loop; true for OK.
    std::function<bool(CAnnotatePos&)> AnnotatePosHook;
    // Chooses the results text file instead of the file dialog: the path, empty for Cancel.
    std::function<QString(const QString& initial)> TextFileHook;
    // Answers the calibration's message boxes instead of showing them (the box's text with LF
    // line ends, and whether Cancel is offered).
    std::function<Answer(const QString& text, QuestionButtons buttons)> QuestionHook;
    // Drives the end-of-calibration dialog instead of its modal loop; its choice counts when the
    // hook closed it with OK.
    std::function<void(CDEndCal&)> EndCalibrationDialogHook;
    // Drives the log viewer's Trace presentation dialog instead of its modal loop.
    std::function<void(CPostDia&)> GraphSettingsDialogHook;
    // Supplies the printer of a print command instead of the print dialog or the default printer
    // (for example a PDF file); a null printer counts as a cancelled dialog.
    std::function<std::unique_ptr<QPrinter>(int commandId)> PrinterHook;
    // Replaces the system beep.
    std::function<void()> BeepHook;
};

} // namespace kv
