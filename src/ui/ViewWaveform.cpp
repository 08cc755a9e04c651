// Waveform file commands of the view: choosing the file, recording the raw input and playing a
// recording back in place of the live input.
#include <QFileDialog>
#include <QRandomGenerator>
#include <filesystem>

#include "ui/ChildView.h"
#include "ui/CommandTable.h"

namespace kv {

CommandState CChildView::WaveformCommandStatus(int id) const {
    CommandState s;
    const auto lock = Core.HoldAnalysis();
    if (id == cmd::RecordWaveform) {
        s.Checked = Waveform.Recording();
        std::error_code error;
        s.Enabled = Waveform.Recording() || !std::filesystem::exists(App.WaveFile2, error);
    } else if (id == cmd::PlaybackWaveform) {
        s.Checked = Waveform.Playing();
        s.Enabled = Waveform.Playing() || !Waveform.Recording();
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
        ToggleRecording();
        return true;
    case cmd::PlaybackWaveform:
        TogglePlayback();
        return true;
    default:
        return OnLogCommand(id);
    }
}

void CChildView::ChooseWaveformFile() {
    QFileDialog dialog(this, QString(), QString::fromStdString(App.WaveFile2),
                       QStringLiteral("Wave files (*.wav);;All files (*)"));
    dialog.setDefaultSuffix(QStringLiteral("wav"));
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
    SetWaveformFile(dialog.selectedFiles().first().toStdString());
}

void CChildView::SetWaveformFile(const std::string& path) {
    EndPlaybackAtUserRate();
    {
        const auto lock = Core.HoldAnalysis();
        CloseWaveformFiles();
        App.WaveFile2 = path;
    }
    SaveAllSettings();
    std::error_code error;
    if (std::filesystem::exists(path, error)) TogglePlayback();
}

// The header carries the rate the samples arrive at. Ending a playback gives the capture back the
// user's rate, so a running capture is restarted on it before the first sample is recorded.
void CChildView::ToggleRecording() {
    EndPlaybackAtUserRate();
    const auto lock = Core.HoldAnalysis();
    if (Waveform.Recording())
        Waveform.CloseRecording();
    else
        Waveform.OpenForWriting(App.WaveFile2, Core.Settings.SampleRate, SoundIn->Channels);
    RequestRepaint();
}

void CChildView::TogglePlayback() {
    {
        const auto lock = Core.HoldAnalysis();
        if (Waveform.Recording()) Waveform.CloseRecording();
    }
    const bool wasRunning = IsRunning();
    if (wasRunning) StopMeasurement();
    auto lock = Core.HoldAnalysis();
    if (Waveform.Playing()) {
        EndPlayback();
        lock.unlock();
        if (wasRunning) PostRun();
    } else if (Waveform.OpenForReading(App.WaveFile2, Core.Settings.SampleRate,
                                       SoundIn->Channels)) {
        Core.PlayingBack = true;
        SoundIn->SetPlaybackFallback(&Clocked);
        if (!Core.Settings.DuplexAudio)
            Player->Start(Waveform.PlaybackData(), Core.Settings.SampleRate, App.SoundDeviceOutStr);
        lock.unlock();
        PostRun();
    } else if (std::error_code error; std::filesystem::exists(App.WaveFile2, error)) {
        lock.unlock();
        Message(QStringLiteral("Cannot play %1: it is not a WAV recording this program can read.")
                    .arg(QString::fromStdString(App.WaveFile2)));
    }
    RequestRepaint();
}

// Ends a playback the way the playback command does: a running measurement is restarted, so the
// capture runs at the user's rate again instead of the file's.
void CChildView::EndPlaybackAtUserRate() {
    bool playing;
    {
        const auto lock = Core.HoldAnalysis();
        playing = Waveform.Playing();
    }
    if (playing) TogglePlayback();
}

// Under the analysis lock: closes the playback and gives back the capture rate and channels.
void CChildView::EndPlayback() {
    Player->Stop();
    Waveform.ClosePlayback(Core.Settings.SampleRate, SoundIn->Channels);
    Core.PlayingBack = false;
    SoundIn->SetPlaybackFallback(nullptr);
}

// Under the analysis lock: closes whatever waveform file is open.
void CChildView::CloseWaveformFiles() {
    if (Waveform.Recording()) Waveform.CloseRecording();
    if (Waveform.Playing()) EndPlayback();
}

void CChildView::PostRun() {
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (!IsRunning()) StartMeasurement();
        },
        Qt::QueuedConnection);
}

void CChildView::RandomPlaybackStart() {
    const auto lock = Core.HoldAnalysis();
    if (!Waveform.Playing()) return;
    Waveform.RandomStart(PlaybackStartDraw
                             ? PlaybackStartDraw()
                             : static_cast<int>(QRandomGenerator::global()->bounded(32768)));
}

// Capture thread, inside ProcessBuffer: recording or playback substitution. A playback that can
// no longer fill a buffer has ended; the user-interface thread closes it and resumes live input.
int64_t CChildView::RecordOrPlayBuffer(int16_t* samples, size_t count) {
    const bool wasPlaying = Waveform.Playing();
    const int64_t splice = Waveform.Process(samples, count);
    if (wasPlaying && !Waveform.Playing())
        QMetaObject::invokeMethod(
            this, [this] { OnPlaybackEnded(); }, Qt::QueuedConnection);
    return splice;
}

void CChildView::OnPlaybackEnded() {
    const bool wasRunning = IsRunning();
    if (wasRunning) StopMeasurement();
    {
        const auto lock = Core.HoldAnalysis();
        EndPlayback();
    }
    if (wasRunning) StartMeasurement();
}

} // namespace kv
