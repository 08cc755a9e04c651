// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/view/ChildView.h"

#include "ui/common/TextScale.h"
#include "ui/logview/GraphView.h"

#include <QApplication>
#include <QPaintEvent>
#include <QPainter>
#include <QThread>

namespace kv {

namespace {
constexpr qint64 RepaintThrottleMs = 90; // about eleven pictures a second while measuring
} // namespace

CChildView::CChildView(QWidget* parent, CaptureSource* capture, PlaybackSink* output,
                       const CalibrationSeams& seams)
    : QWidget(parent), TimerSet([this](int id) { OnTimer(id); }, this),
      Measuring(*this, capture, output, seams) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(true);
    RepaintClock.start();
    Measuring.SetPositionalRunUser(&PositionUser);
    // Set before any capture runs; a written record reaches the open viewer on this thread.
    Measuring.LogFile().NotifyLogViewer = [this] {
        Post([this] {
            if (Viewer) Viewer->MarkStale();
        });
    };
}

CChildView::~CChildView() {
    OnDestroy();
}

bool CChildView::OnUiThread() const {
    return QThread::currentThread() == thread();
}

void CChildView::ShowMessageText(const QString& text) {
    Notices.ShowNow(text);
}

void CChildView::Notice(const std::string& text) {
    Notices.Add(QString::fromStdString(text));
}

void CChildView::Post(std::function<void()> task) {
    QMetaObject::invokeMethod(this, std::move(task), Qt::QueuedConnection);
}

void CChildView::OnTimer(int id) {
    if (id == TimerRepaintRetry)
        RequestRepaint();
    else if (id == TimerPointer)
        Mouse.OnPointerTimer();
    else
        Measuring.OnTimer(id);
}

void CChildView::ShowRunning(bool running) {
    if (!running) TimerSet.Kill(TimerRepaintRetry); // a stopped view repaints unthrottled
    emit RunningChanged(running);
}

void CChildView::RequestRepaint() {
    if (!OnUiThread()) { // the capture thread invalidates directly, unthrottled
        QMetaObject::invokeMethod(this, qOverload<>(&QWidget::update), Qt::QueuedConnection);
        return;
    }
    if (!Measuring.IsRunning()) {
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

void CChildView::leaveEvent(QEvent* event) {
    Mouse.Leave();
    QWidget::leaveEvent(event);
}

void CChildView::paintEvent(QPaintEvent* event) {
    ++Paints;
    const PlaybackView playback = Measuring.Playback();
    Display.PlayingBack = playback.Playing;
    Display.Recording = playback.Recording;
    Display.LoopCount = playback.LoopCount;
    Display.CtrlHeld = (QApplication::queryKeyboardModifiers() & Qt::ControlModifier) != 0;
    Display.FaderDiagnosticText = Measuring.Mixer().MicrophoneFader().DiagnosticText();
    Display.TextScale = TextScaleOf(*this);
    const double ratio = devicePixelRatioF();
    Renderer.Render(BackBuffer, size(), Core(), Measuring.Calibration().State(), App(), Display,
                    ratio);
    QPainter painter(this);
    const QRectF area(event->rect());
    const QRectF source(area.topLeft() * ratio, area.size() * ratio); // in image pixels
    painter.drawImage(area, BackBuffer, source);
}

} // namespace kv
