// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/view/FileCommands.h"

#include <QFileDialog>
#include <QMessageBox>
#include <filesystem>

#include "ui/dialogs/FileFilters.h"
#include "ui/dialogs/SmallDialogs.h"
#include "ui/view/ChildView.h"

namespace kv {

namespace {

// A file name from the file dialog, or empty when the user cancelled.
std::string AskForFile(CChildView& view, const std::string& current, const QString& filters,
                       const QString& suffix) {
    QFileDialog dialog(&view, QString(), QString::fromStdString(current), filters);
    dialog.setDefaultSuffix(suffix);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
    return dialog.selectedFiles().first().toStdString();
}

void ChooseWaveformFile(CChildView& view) {
    const std::string path =
        AskForFile(view, view.App().WaveFile2, SoundFileFilters(), QStringLiteral("wav"));
    if (!path.empty()) view.Session().SetWaveformFile(path);
}

void ChooseLogFile(CChildView& view) {
    const std::string path =
        AskForFile(view, view.App().LogFile2,
                   QStringLiteral("Log files (*.log);;Text files (*.txt);;All files (*)"),
                   QStringLiteral("log"));
    if (path.empty()) return;
    view.Session().LogFile().ChooseLogFile(path);
    view.Session().Save();
}

bool ConfirmClearLog(CChildView& view) {
    const QString question =
        QStringLiteral("Are you sure you want to delete the log file contents?");
    if (view.Hooks.ConfirmHook) return view.Hooks.ConfirmHook(question);
    return QMessageBox::question(&view, QStringLiteral("Kestrovane"), question,
                                 QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
}

void AnnotateLog(CChildView& view) {
    CAnnotateDlg dialog(&view);
    if (dialog.exec() == QDialog::Accepted)
        view.Session().LogFile().AnnotateLog(dialog.Trace(), dialog.Text().toStdString());
    view.RequestRepaint();
}

CommandState LogCommandStatus(const CChildView& view, int id) {
    const LogWriter& log = view.Session().LogFile();
    CommandState s;
    if (id == cmd::ClearLog) s.Enabled = log.HasLogFile();
    if (id == cmd::EnableLogging) {
        s.Enabled = log.HasLogFile();
        s.Checked = log.LoggingOn();
    }
    if (id == cmd::AnnotateLog) s.Enabled = log.CanAnnotate(view.App().PaperTape != 0);
    return s;
}

} // namespace

CommandState FileCommandStatus(const CChildView& view, int id) {
    if (id != cmd::RecordWaveform && id != cmd::PlaybackWaveform) return LogCommandStatus(view, id);
    const PlaybackView playback = view.Session().Playback();
    CommandState s;
    if (id == cmd::RecordWaveform) {
        s.Checked = playback.Recording;
        std::error_code error;
        s.Enabled = playback.Recording || !std::filesystem::exists(view.App().WaveFile2, error);
    } else {
        s.Checked = playback.Playing;
        s.Enabled = playback.Playing || !playback.Recording;
    }
    return s;
}

bool OnFileCommand(CChildView& view, int id) {
    MeasuringSession& session = view.Session();
    switch (id) {
    case cmd::ChooseWaveform:
        ChooseWaveformFile(view);
        return true;
    case cmd::RecordWaveform:
        session.ToggleRecording();
        return true;
    case cmd::PlaybackWaveform:
        session.TogglePlayback();
        return true;
    case cmd::ChooseLog:
        ChooseLogFile(view);
        return true;
    case cmd::ClearLog:
        if (ConfirmClearLog(view)) session.LogFile().ClearLogFile();
        return true;
    case cmd::EnableLogging:
        session.LogFile().ToggleLogging();
        return true;
    case cmd::AnnotateLog:
        AnnotateLog(view);
        return true;
    default:
        return false;
    }
}

} // namespace kv
