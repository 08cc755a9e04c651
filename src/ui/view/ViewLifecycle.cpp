// SPDX-License-Identifier: GPL-3.0-or-later
// Creation and destruction of the measuring view: the session's settings, the bundled sample as
// the first waveform file, the start-up playback (of a file named on the command line or of the
// waveform file), and the orderly shutdown.
#include <QGuiApplication>
#include <QScreen>

#include "session/SampleRecording.h"
#include "settings/SettingsPaths.h"
#include "ui/view/ChildView.h"

namespace kv {

void CChildView::OnCreate(SettingsStore* store, const std::filesystem::path& bundledSample,
                          const std::string& openFile) {
    const QScreen* screen = QGuiApplication::primaryScreen();
    Measuring.Load(store, screen ? std::max(1, screen->size().width()) : 0);
    if (!bundledSample.empty()) {
        const std::string data = DataFolder();
        if (!data.empty()) InstallSampleRecording(bundledSample, App().WaveFile2, data + "cal.wav");
    }
    Measuring.PlayAtStart(openFile);
}

void CChildView::OnDestroy() {
    Measuring.Shutdown();
}

} // namespace kv
