#include "ui/ChildView.h"

#include <QApplication>
#include <QCursor>
#include <QMessageBox>
#include <QPaintEvent>
#include <QPainter>
#include <QThread>
#include <cstdio>
#include <cstdlib>

#include "audio/PortAudioSink.h"
#include "audio/PortAudioSource.h"

namespace kv {

namespace {
constexpr qint64 RepaintThrottleMs = 90;
} // namespace

CChildView::CChildView(QWidget* parent, CaptureSource* capture, PlaybackSink* output)
    : QWidget(parent), Core(*this), Monitor(std::make_shared<MonitorState>()),
      TimerSet([this](int id) { OnTimer(id); }, this) {
    if (!capture) {
        OwnCapture = std::make_unique<PortAudioSource>();
        capture = OwnCapture.get();
    }
    PlaybackSink* fileOutput = output;
    if (!output) {
        OwnOutput = std::make_unique<PortAudioSink>();
        OwnFileOutput = std::make_unique<PortAudioSink>();
        output = OwnOutput.get();
        fileOutput = OwnFileOutput.get();
    }
    Player = std::make_unique<FilePlayer>(*fileOutput);
    SoundOut = std::make_unique<CSoundOut>(Monitor, *output, [this](const std::string& m) {
        OutputProblems << QString::fromStdString(m);
    });
    SoundIn = std::make_unique<CSoundIn>(
        *capture,
        [this](size_t n, int16_t* samples, int remaining) {
            Core.ProcessBuffer(n, samples, remaining);
        },
        [this](const std::string& m) { Message(QString::fromStdString(m)); });
    SoundIn->SetCallbackLock([this] { return Core.HoldAnalysis(); });
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(true);
    RepaintClock.start();
}

CChildView::~CChildView() {
    OnDestroy();
}

bool CChildView::OnUiThread() const {
    return QThread::currentThread() == thread();
}

namespace {
// A box's text also goes to standard error, one line a box, for a user who started the program
// from a terminal and for scripts that watch it.
void EchoMessageBox(const QString& text) {
    QString line = text;
    line.replace(QLatin1Char('\n'), QStringLiteral(" / "));
    std::fprintf(stderr, "kestrovane: message box: %s\n", line.toLocal8Bit().constData());
}
} // namespace

void CChildView::ShowMessageText(const QString& text) {
    if (ShowMessage) {
        ShowMessage(text);
        return;
    }
    EchoMessageBox(text);
    QMessageBox::warning(this, QStringLiteral("Kestrovane"), text);
}

void CChildView::Message(const QString& text) {
    if (!OnUiThread()) {
        QMetaObject::invokeMethod(
            this, [this, text] { Message(text); }, Qt::QueuedConnection);
        return;
    }
    if (!PendingNotices.contains(text)) PendingNotices << text;
    ScheduleNotices();
}

void CChildView::ScheduleNotices() {
    if (NoticeScheduled) return;
    NoticeScheduled = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            NoticeScheduled = false;
            ShowNotices();
        },
        Qt::QueuedConnection);
}

void CChildView::ShowNotices() {
    if (NoticeOpen || PendingNotices.isEmpty()) return;
    const QString text = PendingNotices.join(QLatin1Char('\n'));
    PendingNotices.clear();
    NoticeOpen = true;
    if (ShowMessage) {
        ShowMessage(text);
        OnNoticeClosed();
        return;
    }
    EchoMessageBox(text);
    // Window-modal and opened without an event loop of its own: the caller returns at once.
    auto* box = new QMessageBox(QMessageBox::Warning, QStringLiteral("Kestrovane"), text,
                                QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    connect(box, &QMessageBox::finished, this, &CChildView::OnNoticeClosed);
    box->open();
}

void CChildView::OnNoticeClosed() {
    NoticeOpen = false;
    if (!PendingNotices.isEmpty()) ScheduleNotices();
}

bool CChildView::IsRunning() const {
    const auto lock = Core.HoldAnalysis();
    return Core.Measurement.Running;
}

void CChildView::Run() {
    if (IsRunning())
        StopMeasurement();
    else
        StartMeasurement();
}

void CChildView::StartMeasurement() {
    TimeLapse.Find();
    Core.BeginRun();
    {
        const auto lock = Core.HoldAnalysis();
        BuffersAtRun = Core.Detector.BufferCounter;
    }
    SilentCaptureReported = false;
    SoundIn->SampleRate = Core.Settings.SampleRate;
    SoundIn->DeviceName = App.SoundDeviceStr;
    if (SoundIn->Start() != 0) {
        Message(QStringLiteral("Please check wave-in device. Unable to continue."));
        Core.EndRun();
        return;
    }
    Monitor->DropClip();
    StartOutput();
    RandomPlaybackStart();
    TimerSet.Start(TimerAutoStop, Core.AutoStopDelayMs());
    if (Core.Settings.Centre)
        TimerSet.Start(TimerCentre, static_cast<unsigned>(Core.Derived.BeatPeriod * 4000.0));
    emit RunningChanged(true);
}

void CChildView::StopMeasurement() {
    TimerSet.Kill(TimerRepaintRetry);
    WriteLogRecord(LogTimeOnly);
    TimerSet.Kill(TimerAutoStop);
    TimerSet.Kill(TimerTrainDetect);
    TimerSet.Kill(TimerCentre);
    Monitor->DropClip();
    Core.EndRun();
    SoundIn->Close();
    Monitor->Free();
    StopOutput();
    update();
    emit RunningChanged(false);
}

bool CChildView::StartOutput() {
    if (!Core.Settings.DuplexAudio) return false;
    SoundOut->SampleRate = Core.Settings.SampleRate;
    SoundOut->DeviceName = App.SoundDeviceOutStr;
    OutputProblems.clear();
    if (SoundOut->Start() == 0) return true;
    if (!OutputProblemReported) {
        OutputProblemReported = true;
        for (const QString& problem : OutputProblems)
            Message(problem);
        Message(QStringLiteral("Please check wave-out device. Continuing without sound-out."));
    }
    const auto lock = Core.HoldAnalysis();
    Core.Settings.DuplexAudio = 0;
    return false;
}

void CChildView::StopOutput() {
    if (SoundOut->Running()) SoundOut->Close();
}

void CChildView::MonitorCopy(const int16_t* samples, size_t count) {
    Monitor->Copy(samples, count, Core.Settings.DuplexAudio != 0);
}

void CChildView::SetOutputRingSize(int n) {
    SoundOut->SetRingSize(n);
}

void CChildView::CentreNow() {
    Core.CentreNow();
}

void CChildView::ToggleAutostop() {
    {
        const auto lock = Core.HoldAnalysis();
        Core.Settings.Autostop = !Core.Settings.Autostop;
        Core.NoSignal = false;
    }
    TimerSet.Start(TimerAutoStop, Core.AutoStopDelayMs());
}

void CChildView::OnTimer(int id) {
    switch (id) {
    case TimerAutoStop:
        ReportSilentCapture();
        Core.OnAutoStopTimer(false);
        RequestRepaint();
        break;
    case TimerTrainDetect:
        Core.ParseTrain("TAUTO");
        break;
    case TimerRepaintRetry:
        RequestRepaint();
        break;
    case TimerCentre:
        if (IsRunning()) Core.CentreNow();
        break;
    case TimerPointer:
        OnPointerTimer();
        break;
    case TimerPerBuffer:
        if (IsRunning()) PerBufferStep();
        break;
    case TimerClearCalibrationText: {
        const auto lock = Core.HoldCalibration();
        Core.Measurement.CalibrationStatusText.clear();
        break;
    }
    default:
        break;
    }
}

// The auto-stop delay after Run without a single buffer: the device was opened and started but
// delivers nothing (held by another program, a stalled driver). A playback goes on without the
// sound card; live measuring cannot work, and that is said once per Run.
void CChildView::ReportSilentCapture() {
    if (!IsRunning() || SilentCaptureReported) return;
    bool playing;
    {
        const auto lock = Core.HoldAnalysis();
        if (Core.Detector.BufferCounter != BuffersAtRun) return;
        playing = Waveform.Playing();
    }
    if (playing && !SoundIn->UsingFallback()) {
        SoundIn->PreferFallback();
        StopMeasurement();
        StartMeasurement();
        return;
    }
    SilentCaptureReported = true;
    Message(QStringLiteral("No sound arrives from the input device: it was started but delivers "
                           "nothing. Check that no other program holds it, or choose another "
                           "input in the settings."));
}

void CChildView::PerBufferStep() {
    if (!Core.Settings.AGC) return;
    if (const auto level = Core.AutomaticGainStep(AgcStepSize, InputLevel)) {
        InputLevel = *level;
        emit InputLevelChanged(InputLevel);
    }
}

void CChildView::StartTimer(int id, unsigned milliseconds) {
    TimerSet.Start(id, milliseconds);
}
void CChildView::KillTimer(int id) {
    TimerSet.Kill(id);
}

void CChildView::RequestRepaint() {
    if (!OnUiThread()) { // the capture thread invalidates directly, unthrottled
        QMetaObject::invokeMethod(this, qOverload<>(&QWidget::update), Qt::QueuedConnection);
        return;
    }
    if (!IsRunning()) {
        update();
        return;
    }
    const qint64 now = RepaintClock.elapsed();
    if (now - LastRepaintMs > RepaintThrottleMs) {
        LastRepaintMs = now;
        update();
    } else {
        TimerSet.Start(TimerRepaintRetry, RepaintThrottleMs);
    }
}

void CChildView::RefreshTrainBox() {
    emit TrainBoxChanged();
}
void CChildView::RefreshMeasuringTimeBox() {
    emit MeasuringTimeBoxChanged();
}
void CChildView::RefreshLiftAngleBox() {
    emit LiftAngleBoxChanged();
}
void CChildView::SetCaptureRingSize(int n) {
    SoundIn->SetRingSize(n);
}
void CChildView::SetCaptureSamplesPerBuffer(double s) {
    SoundIn->SetSamplesPerBuffer(s);
}
void CChildView::SetCaptureBufferAdjust(double s) {
    SoundIn->SetBufferAdjust(s);
}

void CChildView::NotifyTick(uint32_t milliseconds, uint32_t beatCountLow) {
    TimeLapse.Notify(milliseconds, beatCountLow);
}

void CChildView::paintEvent(QPaintEvent* event) {
    ++Paints;
    {
        const auto lock = Core.HoldAnalysis();
        Display.PlayingBack = Waveform.Playing();
        Display.Recording = Waveform.Recording();
        Display.LoopCount = Waveform.LoopCount();
    }
    Display.CtrlHeld = (QApplication::queryKeyboardModifiers() & Qt::ControlModifier) != 0;
    Renderer.Render(BackBuffer, size(), Core, App, Display);
    QPainter painter(this);
    painter.drawImage(event->rect(), BackBuffer, event->rect());
}

} // namespace kv
