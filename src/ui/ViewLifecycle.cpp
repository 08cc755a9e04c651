// Creation and destruction of the measuring view: settings, default file names, the start-up
// playback, and the orderly shutdown that stops measuring, closes the waveform file and saves.
#include <QGuiApplication>
#include <QScreen>

#include "settings/SettingsIO.h"
#include "settings/SettingsPaths.h"
#include "ui/ChildView.h"
#include "ui/SampleRecording.h"

namespace kv {

void CChildView::OnCreate(SettingsStore* store, const std::filesystem::path& bundledSample) {
    Store = store;
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const auto lock = Core.HoldAnalysis();
        Core.DisplayWidthPixels = std::max(1, screen->size().width());
    }
    if (Store) {
        ToolBarRefresh refresh{[this] { RefreshLiftAngleBox(); },
                               [this] { RefreshMeasuringTimeBox(); }};
        LoadSettings(*Store, Core, App, ProcessTimestampClock(), refresh);
        MakeDefaultFileNames(App);
        RefreshTrainBox();
    }
    if (!bundledSample.empty()) {
        const std::string data = DataFolder();
        if (!data.empty()) InstallSampleRecording(bundledSample, App.WaveFile2, data + "cal.wav");
    }
    TogglePlayback();
}

// A playback borrows the file's sample rate for the capture; the store keeps the user's own.
bool CChildView::SaveAllSettings() {
    if (!Store) return false;
    const auto lock = Core.HoldAnalysis();
    const unsigned inUse = Core.Settings.SampleRate;
    Core.Settings.SampleRate = Waveform.UserSampleRate(inUse);
    SaveSettings(*Store, Core, App, ProcessTimestampClock());
    Core.Settings.SampleRate = inUse;
    return Store->Save();
}

void CChildView::OnDestroy() {
    if (Destroyed) return;
    Destroyed = true;
    TimerSet.Kill(TimerCalibrationCycle);
    if (IsRunning()) StopMeasurement();
    {
        const auto lock = Core.HoldAnalysis();
        CloseWaveformFiles();
    }
    SaveAllSettings();
}

void CChildView::OnSessionEnd() {
    if (IsRunning()) StopMeasurement();
    SaveAllSettings();
}

} // namespace kv
