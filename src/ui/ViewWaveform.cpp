// Waveform file commands of the view: choosing the file, recording the raw input and playing a
// recording back in place of the live input; the session does the work.
#include <QFileDialog>
#include <filesystem>

#include "ui/ChildView.h"
#include "ui/CommandTable.h"

namespace kv {

CommandState CChildView::WaveformCommandStatus(int id) const {
    CommandState s;
    const auto lock = Core().HoldAnalysis();
    if (id == cmd::RecordWaveform) {
        s.Checked = Measuring.WaveformState().Recording();
        std::error_code error;
        s.Enabled = Measuring.WaveformState().Recording() || !std::filesystem::exists(App().WaveFile2, error);
    } else if (id == cmd::PlaybackWaveform) {
        s.Checked = Measuring.WaveformState().Playing();
        s.Enabled = Measuring.WaveformState().Playing() || !Measuring.WaveformState().Recording();
    } else {
        s = LogCommandStatus(id);
    }
    return s;
}

bool CChildView::OnWaveformCommand(int id) {
    switch (id) {
    case cmd::ChooseWaveform:
        ChooseWaveformFile();
        return true;
    case cmd::RecordWaveform:
        Measuring.ToggleRecording();
        return true;
    case cmd::PlaybackWaveform:
        Measuring.TogglePlayback();
        return true;
    default:
        return OnLogCommand(id);
    }
}

void CChildView::ChooseWaveformFile() {
    QFileDialog dialog(this, QString(), QString::fromStdString(App().WaveFile2),
                       QStringLiteral("Wave files (*.wav);;All files (*)"));
    dialog.setDefaultSuffix(QStringLiteral("wav"));
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
    Measuring.SetWaveformFile(dialog.selectedFiles().first().toStdString());
}

} // namespace kv
