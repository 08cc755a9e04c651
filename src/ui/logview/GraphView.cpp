// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/logview/GraphView.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDateTime>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <cmath>

#include "logging/LogWriter.h"
#include "logview/format/LogSection.h"
#include "settings/SettingsStore.h"
#include "ui/common/TextScale.h"
#include "ui/logview/GraphCanvas.h"
#include "ui/logview/GraphDates.h"
#include "ui/logview/GraphLayout.h"
#include "ui/logview/PostDia.h"
#include "ui/print/PrintJob.h"

namespace kv {

namespace {

constexpr int ResizeSettleMs = 500; // one re-layout after the user stops dragging the border
constexpr int MillisecondsPerSecond = 1000;
// The read-out line: a white band over the image's start label, text on its baseline; logical
// units above the image's bottom edge at text scale 1, growing with the texts.
constexpr double ReadoutBottom = -4, ReadoutTop = 56, ReadoutBaseline = 1;
constexpr double MinScaleRange = 1e-30; // a flat scale gives no value under the mouse
constexpr double MinFrequency = 1e-10;  // below it no period is worth showing
constexpr double SecondsPerMinute = 60, SecondsPerHour = 3600, SecondsPerDay = 86400;

const char* const DeleteQuestion = "You are about to remove the section of the graph which is "
                                   "currently displayed. Are you sure?";

const char* const HoldAdvice =
    "In order to use derivatives with discontinuous or wrapped data such as 't MOD T' phase etc, "
    "manual hold limits must be set. These are then used to discard out of range slope values.";

QString LocalText(int64_t unixSeconds) {
    return GraphDateTimeText(QDateTime::fromSecsSinceEpoch(unixSeconds), QLocale::system());
}

bool InPlotArea(QPointF p) {
    return p.x() >= PlotLeft && p.x() <= PlotRight && p.y() >= PlotBottom && p.y() <= PlotTop;
}

// Where the mouse is along the plot, 0 at the left edge and 1 at the right.
double PlotFraction(double x) {
    return (x - PlotLeft) / PlotWidth;
}

// Shift and Ctrl as they are after this key event (a modifier key's own press or release is
// not always in the event's modifiers yet).
Qt::KeyboardModifiers ModifiersAfter(const QKeyEvent& event, bool pressed) {
    Qt::KeyboardModifiers m = event.modifiers();
    const Qt::KeyboardModifier own = event.key() == Qt::Key_Shift     ? Qt::ShiftModifier
                                     : event.key() == Qt::Key_Control ? Qt::ControlModifier
                                                                      : Qt::NoModifier;
    m.setFlag(own, pressed);
    return m;
}

} // namespace

CGraphView::CGraphView(Setup setup, QWidget* owner, const QRect& initial)
    : QWidget(owner, Qt::Window), Context(std::move(setup)) {
    setAttribute(Qt::WA_DeleteOnClose);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setWindowTitle(QString::fromLatin1(ViewerCaption));
    setCursor(Qt::CrossCursor);
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    setGeometry(initial);
    if (Context.Store) LoadGraphSettings(*Context.Store, Graph);
    ResetGraphImage();
    ApplyStoredPlacement();
    ResizeTimer.setSingleShot(true);
    ResizeTimer.setInterval(ResizeSettleMs);
    connect(&ResizeTimer, &QTimer::timeout, this, [this] {
        ResetGraphImage();
        update();
    });
    connect(&RefreshTimer, &QTimer::timeout, this, &CGraphView::MarkStale);
    StartRefreshTimer();
}

// A viewer still open when the main window goes is destroyed with it, without a close event:
// its place is kept here then.
CGraphView::~CGraphView() {
    if (isVisible()) SavePlacement();
    SaveSettings();
}

void CGraphView::ApplyStoredPlacement() {
    if (!Context.Store) return;
    const auto stored = WindowPlacement::Parse(
        QString::fromStdString(Context.Store->GetText("Initial", ViewerPlacementKey, "")));
    if (!stored || stored->Show != ShowState::Normal || !stored->Normal.isValid()) return;
    setGeometry(stored->Normal);
}

WindowPlacement CGraphView::CurrentPlacement() const {
    WindowPlacement p;
    p.Show = isMinimized()                ? ShowState::Minimized
             : isMaximized() || NoCaption ? ShowState::Maximized
                                          : ShowState::Normal;
    p.Normal = normalGeometry().isValid() ? normalGeometry() : geometry();
    return p;
}

void CGraphView::StartRefreshTimer() {
    RefreshTimer.stop();
    if (Graph.Interval > 0) RefreshTimer.start(Graph.Interval * MillisecondsPerSecond);
}

void CGraphView::SettingsChanged() {
    StartRefreshTimer();
    MarkStale();
}

void CGraphView::SaveSettings() {
    if (!Context.Store) return;
    SaveGraphSettings(*Context.Store, Graph);
    Context.Store->Save();
}

void CGraphView::ResetDefaults() {
    ResetTraceDefaults(Graph, Model.Results);
    SaveSettings();
    SettingsChanged();
}

// "Reset default" resets and opens the dialog again, showing the defaults.
void CGraphView::RunSettingsDialog() {
    RefreshTimer.stop();
    for (;;) {
        CPostDia dialog(Graph, Context.Tell, this);
        if (Context.DriveDialog)
            Context.DriveDialog(dialog);
        else
            dialog.exec();
        if (dialog.result() == QDialog::Accepted) {
            if (dialog.ApplyTo(Graph) && Context.Tell)
                Context.Tell(QString::fromLatin1(HoldAdvice));
            SaveSettings();
            MarkStale();
        }
        if (dialog.result() != CPostDia::ResetResult) break;
        ResetDefaults();
    }
    StartRefreshTimer();
}

GraphFrame CGraphView::Frame() const {
    return GraphFrame(size(), TextScaleOf(*this));
}

void CGraphView::MarkStale() {
    ImageStale = true;
    update();
}

void CGraphView::ResetGraphImage() {
    Image = QImage(size().expandedTo(QSize(1, 1)), QImage::Format_RGB32);
    ImageStale = true;
}

void CGraphView::RenderGraph() {
    Model.SpectrumTrace = Spectrum;
    Renderer.SetTextScale(TextScaleOf(*this));
    Renderer.Render(Image, Model, Graph, Context.LogPath);
    ImageStale = false;
    ++Renders;
}

void CGraphView::PrintGraph(const PrintContext& context, int commandId) {
    if (ImageStale) RenderGraph();
    RunPrintJob(context, commandId, PicturePage(Image));
}

void CGraphView::paintEvent(QPaintEvent*) {
    if (ImageStale) {
        RenderGraph();
        RefreshReadout(HeldModifiers);
    }
    QPainter painter(this);
    painter.drawImage(0, 0, Image);
    if (!MouseInside || ReadoutText.isEmpty()) return;
    const GraphFrame frame = Frame();
    const auto above = [&frame](double units) { return frame.Bottom() + frame.TextY(units); };
    GraphCanvas canvas(painter, frame);
    canvas.FillRect(PlotLeft, above(ReadoutBottom), 0, above(ReadoutTop), Qt::white);
    canvas.Text(PlotLeft, above(ReadoutBaseline), ReadoutText.toStdString(), HAlign::Left,
                VAlign::Baseline, Qt::black, GraphFont::Main);
}

// A new font size or a screen of another scale changes the texts' size: draw afresh.
void CGraphView::changeEvent(QEvent* event) {
    if (event->type() == QEvent::FontChange || event->type() == QEvent::ScreenChangeInternal)
        MarkStale();
    QWidget::changeEvent(event);
}

void CGraphView::resizeEvent(QResizeEvent* event) {
    ResizeTimer.start();
    QWidget::resizeEvent(event);
}

int64_t CGraphView::UpdateReadout(QPointF point, Qt::KeyboardModifiers modifiers) {
    ReadoutText.clear();
    update();
    const GraphWindow& w = Model.Window;
    if (w.DisplayStart < 0 || !ShowsRecords(w)) return 0;
    QString text = QStringLiteral("start ") + LocalText(w.DisplayStart);
    const QPointF logical = Frame().Unmap(point);
    int64_t t = 0;
    if (rect().contains(point.toPoint()) && InPlotArea(logical)) {
        const double start = static_cast<double>(w.DisplayStart);
        const double end = static_cast<double>(w.DisplayEnd);
        const double at = PlotFraction(logical.x());
        t = static_cast<int64_t>(
            Graph.LogX && start > 0
                ? std::pow(10.0, std::log10(start) + (std::log10(end) - std::log10(start)) * at)
                : start + std::trunc((end - start) * at));
        text = LocalText(t) + QLatin1Char(' ');
        ReadOutTraces(logical, modifiers, text);
    }
    ReadoutText = text;
    return t;
}

void CGraphView::ReadOutTraces(QPointF logical, Qt::KeyboardModifiers modifiers, QString& text) {
    const bool shift = modifiers.testFlag(Qt::ShiftModifier);
    const bool ctrl = modifiers.testFlag(Qt::ControlModifier);
    const StripLayout& strips = Renderer.Strips();
    for (int i = 0; i < TraceCount; ++i) {
        const TraceSettings& trace = Graph.Traces[i];
        const TraceResult& result = Model.Results[i];
        const double bottom = strips.BottomOf(trace);
        if (!trace.Enabled || logical.y() < bottom || logical.y() > bottom + strips.BandHeight ||
            result.ScaleMax - result.ScaleMin <= MinScaleRange)
            continue;
        const bool showsSpectrum = i == Spectrum && Model.HasSpectrum();
        if (!shift && !ctrl && Spectrum >= 0) {
            Spectrum = -1;
            MarkStale();
        }
        if ((shift || ctrl) && showsSpectrum) text = FrequencyText(logical.x(), trace);
        const double value =
            (logical.y() - bottom) * (result.ScaleMax - result.ScaleMin) / strips.BandHeight +
            result.ScaleMin;
        text += QString::fromStdString(FormatScaled(value, trace.Precision, trace.SI)) +
                QLatin1Char(' ');
        if (!shift && !ctrl) continue;
        if (showsSpectrum) text += QStringLiteral("dB ");
        const bool picks = trace.ScaleOnRight() ? ctrl : shift;
        if (picks && Spectrum < 0) {
            Spectrum = i;
            MarkStale();
        }
    }
}

QString CGraphView::FrequencyText(double x, const TraceSettings& trace) const {
    const GraphWindow& w = Model.Window;
    const double span = static_cast<double>(w.DisplayEnd - w.DisplayStart);
    const double f = span > 0 ? (Model.SpectrumSize / 2.0) / span * PlotFraction(x) : 0.0;
    const auto number = [&trace](double v) {
        return QString::fromStdString(FormatScaled(v, trace.Precision, trace.SI));
    };
    QString text = QStringLiteral("Freq ");
    if (f > 1)
        text += number(f) + QStringLiteral(" Hz, ");
    else if (f > 1 / SecondsPerMinute)
        text += number(SecondsPerMinute * f) + QStringLiteral(" cpm, ");
    else if (f > 1 / SecondsPerHour)
        text += number(SecondsPerHour * f) + QStringLiteral(" cph, ");
    else
        text += number(SecondsPerDay * f) + QStringLiteral(" cpd, ");
    if (f <= MinFrequency) return text;
    const double p = 1 / f;
    text += QStringLiteral("period ");
    if (p < SecondsPerMinute) return text + number(p) + QStringLiteral(" secs, ");
    if (p < SecondsPerHour) return text + number(p / SecondsPerMinute) + QStringLiteral(" mins, ");
    if (p < SecondsPerDay) return text + number(p / SecondsPerHour) + QStringLiteral(" hours, ");
    return text + number(p / SecondsPerDay) + QStringLiteral(" days, ");
}

void CGraphView::RefreshReadout(Qt::KeyboardModifiers modifiers) {
    HeldModifiers = modifiers;
    if (MouseInside) Cursor = UpdateReadout(MousePos, modifiers);
}

void CGraphView::TrackMouse(const QMouseEvent& event) {
    MousePos = event.position();
    MouseInside = rect().contains(MousePos.toPoint());
    HeldModifiers = event.modifiers();
    Cursor = UpdateReadout(MousePos, HeldModifiers);
}

void CGraphView::mouseMoveEvent(QMouseEvent* event) {
    TrackMouse(*event);
}

void CGraphView::leaveEvent(QEvent* event) {
    MouseInside = false;
    update();
    QWidget::leaveEvent(event);
}

void CGraphView::mousePressEvent(QMouseEvent* event) {
    const bool left = event->button() == Qt::LeftButton;
    if (!left && event->button() != Qt::RightButton) return;
    if (!hasFocus()) { // the first click only gives the viewer the focus
        activateWindow();
        setFocus(Qt::MouseFocusReason);
        return;
    }
    TrackMouse(*event); // as the move before the click would have
    if (event->modifiers().testFlag(Qt::ShiftModifier) && Model.Window.HasRightMark())
        Pan(left);
    else
        SetMark(left, event->modifiers());
    MarkStale();
}

void CGraphView::SetMark(bool left, Qt::KeyboardModifiers modifiers) {
    GraphWindow& w = Model.Window;
    if (modifiers.testFlag(Qt::ControlModifier) && w.HasRightMark()) return;
    (left ? w.LeftMark : w.RightMark) = Cursor;
    w.SectionMarked = true;
}

// Moves the window by half its width, stopping at the file's first or last record.
void CGraphView::Pan(bool forward) {
    GraphWindow& w = Model.Window;
    const int64_t width = w.RightMark - w.LeftMark;
    const int64_t step = forward ? width / 2 : -(width / 2);
    w.LeftMark += step;
    w.RightMark += step;
    if (forward && w.RightMark > w.LastRecordTime) {
        w.RightMark = w.LastRecordTime;
        w.LeftMark = w.LastRecordTime - width;
    } else if (!forward && w.LeftMark < w.FirstRecordTime) {
        w.LeftMark = w.FirstRecordTime;
        w.RightMark = w.FirstRecordTime + width;
    }
    w.SectionMarked = true;
}

void CGraphView::mouseDoubleClickEvent(QMouseEvent* event) {
    const bool left = event->button() == Qt::LeftButton;
    if ((!left && event->button() != Qt::RightButton) ||
        event->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier))
        return;
    Model.Window.ResetMarks();
    Model.Window.SectionMarked = !left; // right: the whole file, marked for deletion
    MarkStale();
}

void CGraphView::keyPressEvent(QKeyEvent* event) {
    if (Spectrum < 0) RefreshReadout(ModifiersAfter(*event, true));
    QWidget::keyPressEvent(event);
}

void CGraphView::keyReleaseEvent(QKeyEvent* event) {
    RefreshReadout(ModifiersAfter(*event, false));
    if (event->key() == Qt::Key_F11) ToggleCaption();
    QWidget::keyReleaseEvent(event);
}

void CGraphView::ToggleCaption() {
    NoCaption = !NoCaption;
    setWindowFlag(Qt::FramelessWindowHint, NoCaption);
    if (NoCaption)
        showMaximized();
    else
        showNormal();
}

void CGraphView::closeEvent(QCloseEvent* event) {
    SavePlacement();
    QWidget::closeEvent(event);
}

void CGraphView::SavePlacement() {
    if (Context.Store)
        Context.Store->WriteText("Initial", ViewerPlacementKey,
                                 CurrentPlacement().Format().toStdString());
}

bool CGraphView::DeleteSection() {
    GraphWindow& w = Model.Window;
    if (Context.LogPath.empty() || !w.SectionMarked) return false;
    if (Context.Confirm && !Context.Confirm(QString::fromLatin1(DeleteQuestion))) return false;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    std::string error;
    const SectionDeletion result =
        Context.Writer
            ? Context.Writer->DeleteSection(Context.LogPath, w.DisplayStart, w.DisplayEnd, error)
            : DeleteLogSection(Context.LogPath, w.DisplayStart, w.DisplayEnd, error);
    QApplication::restoreOverrideCursor();
    if (result == SectionDeletion::WriteFailed && Context.Tell)
        Context.Tell(QStringLiteral("The section could not be removed: ") +
                     QString::fromStdString(error));
    if (result != SectionDeletion::Deleted) return false;
    w.ResetMarks();
    MarkStale();
    return true;
}

} // namespace kv
