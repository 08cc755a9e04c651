// The measuring view: owns the analysis core and the sound objects, runs the measuring loop
// (Run and Stop, the one-shot timers by id, the throttled repaint) and draws the core's state.
// It is the analysis core's host; the capture thread reaches it only through thread-safe calls.
#pragma once

#include <QElapsedTimer>
#include <QImage>
#include <QWidget>
#include <atomic>
#include <functional>
#include <memory>

#include "analysis/AnalysisCore.h"
#include "audio/CaptureSource.h"
#include "audio/SoundIn.h"
#include "settings/AppSettings.h"
#include "ui/TimeLapseLink.h"
#include "ui/ViewTimers.h"

namespace kv {

// Every message box of the view goes through one sink, so that tests can record them.
using MessageSink = std::function<void(const QString& text)>;

class CChildView : public QWidget, public AnalysisHost {
    Q_OBJECT
public:
    // `capture` replaces the sound card (tests); null uses PortAudio.
    explicit CChildView(QWidget* parent = nullptr, CaptureSource* capture = nullptr);
    ~CChildView() override;

    AnalysisCore Core;
    AppSettings App;

    // --- Measuring loop ---
    void Run(); // the Run command: Stop when running, otherwise Start
    bool IsRunning() const;
    void CentreNow();
    void ToggleAutostop();
    // The input level control the automatic gain step moves (0 .. 65535) and its step size;
    // a step size of 0 leaves the level alone.
    int InputLevel = 32768;
    int AgcStepSize = 0;
    void SetMessageSink(MessageSink sink) { ShowMessage = std::move(sink); }
    const ViewTimers& Timers() const { return TimerSet; }
    // Repaints actually made since construction (tests count the throttle's effect).
    int PaintCount() const { return Paints; }

    // --- AnalysisHost ---
    void StopMeasurement() override;
    void StartMeasurement() override;
    void RefreshTrainBox() override;
    void RefreshMeasuringTimeBox() override;
    void RefreshLiftAngleBox() override;
    void StartTimer(int id, unsigned milliseconds) override;
    void KillTimer(int id) override;
    void RequestRepaint() override;
    void SetCaptureRingSize(int n) override;
    void SetCaptureSamplesPerBuffer(double samples) override;
    void SetCaptureBufferAdjust(double samples) override;
    void NotifyTick(uint32_t milliseconds, uint32_t beatCountLow) override;

signals:
    void TrainBoxChanged();
    void MeasuringTimeBoxChanged();
    void LiftAngleBoxChanged();
    void RunningChanged(bool running);
    void InputLevelChanged(int level);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void OnTimer(int id);
    void PerBufferStep();
    void Message(const QString& text);
    bool OnUiThread() const;

    std::unique_ptr<CaptureSource> OwnCapture;
    ViewTimers TimerSet;
    std::unique_ptr<CSoundIn> SoundIn;
    TimeLapseLink TimeLapse;
    MessageSink ShowMessage;
    QElapsedTimer RepaintClock;
    qint64 LastRepaintMs = -1000;
    int Paints = 0;
    QImage BackBuffer;
};

} // namespace kv
