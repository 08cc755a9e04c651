// SPDX-License-Identifier: GPL-3.0-or-later
// The mouse on the measuring view. The hit rectangles of the last repaint decide what a button,
// the wheel or a double click acts on: the unlock threshold line, the two mute spans after an
// unlock, the paper tape, the manual cursor disk's grip and the tooth chart. Hovering sets the
// hover text (a tool tip, or drawn beside the pointer over the running tape); a right-button drag
// on the tape measures the time between two rows and puts the tape back where it was.
#include <QApplication>
#include <QCursor>
#include <QHelpEvent>
#include <QMouseEvent>
#include <QToolTip>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "ui/common/CommandTable.h"
#include "ui/view/ChildView.h"
#include "ui/view/CursorDisk.h"
#include "ui/view/StatusText.h"
#include "ui/view/TapeCursors.h"

namespace kv {

namespace {

constexpr int ThresholdMax = 32767;
constexpr int ThresholdSpan = 65535;
constexpr int NearThresholdUnits = 300;
constexpr int ToolTipMaxChars = 80;
constexpr unsigned AutoScrollMs = 20;
constexpr unsigned HoverRefreshMs = 90; // as often as a running view repaints
constexpr int TapeRowsLookedAt = 5;     // a row's time comes from the first ticked entry of five

// The threshold value a pointer at client height y stands for.
int ThresholdAt(int y, int height) {
    if (height <= 0) return ThresholdMax;
    return ThresholdMax - static_cast<int>(static_cast<long long>(y) * ThresholdSpan / height);
}

int Sign(int v) {
    return (v > 0) - (v < 0);
}

// Radians the manual disk turns per pixel of a drag: finer for slow movements.
double DiskStepPerPixel(int dy) {
    const int a = std::abs(dy);
    return a < 4 ? 0.0001 : a < 8 ? 0.0003 : a < 16 ? 0.001 : 0.003;
}

// The time from the marked row to another, signed; empty when they are the same.
std::string MarkedIntervalText(uint64_t time, uint64_t marked) {
    if (time > marked) return ClockTimeText(time - marked);
    if (time < marked) return "-" + ClockTimeText(marked - time);
    return {};
}

} // namespace

ViewMouse::ViewMouse(CChildView& view)
    : View(view), Core(view.Core()), App(view.App()), Display(view.Display) {}

// --- Geometry and state helpers ---

void ViewMouse::RememberPointer(const QMouseEvent* event) {
    PointerGlobal = event->globalPosition().toPoint();
    PointerButtons = event->buttons();
    PointerModifiers = event->modifiers();
    Display.PointerPosition = event->position().toPoint();
}

bool ViewMouse::TapeShown() const {
    return App.PaperTape != 0;
}

bool ViewMouse::NearThreshold(QPoint p) const {
    const int u = [&] {
        const auto lock = Core.HoldAnalysis();
        return Core.Params.UnlockThreshold;
    }();
    return std::abs(ThresholdAt(p.y(), View.height()) - u) < NearThresholdUnits;
}

bool ViewMouse::OverManualDiskGrip(QPoint p) const {
    return TapeShown() && Display.ManualCursorDisk && Display.DiskGripRect.contains(p);
}

// The tape feed f: entries per pixel row when positive, rows per entry when negative.
int ViewMouse::Feed() const {
    const auto lock = Core.HoldAnalysis();
    return Core.Settings.SlowFeed == 0 ? 1 : Core.Settings.SlowFeed;
}

// The time of the tape row at client height y, found as the repaint lays out the rows: the first
// non-zero time among the row's entry and the four after it, or 0.
uint64_t ViewMouse::TimeAtTapeRow(int y) const {
    const auto lock = Core.HoldAnalysis();
    const TapeState& tape = Core.Tape;
    const long long f = Feed();
    const long long n = static_cast<long long>(tape.TapeWriteIndex) - Display.Scroll.Offset(Core);
    const long long top = Display.TapeRect.top();
    long long k = f >= 1 ? f * (n / f + top - y) : -((top - f * n - y) / f);
    const long long size = static_cast<long long>(tape.Entries.size());
    for (int i = 0; i < TapeRowsLookedAt && k >= 0 && k < size; ++i, ++k)
        if (const uint64_t t = tape.Entries[static_cast<size_t>(k)].Time) return t;
    return 0;
}

// Every way out of a marking drag puts the tape back where it was.
void ViewMouse::SetDragMode(Drag mode) {
    if (DragMode == Drag::TapeMark && mode != Drag::TapeMark) EndMarking();
    DragMode = mode;
}

// The tape goes back to the scroll offset it had when the marking began. A tape that was scrolled
// back has since been held still, one slot per beat, so those slots are added.
void ViewMouse::EndMarking() {
    Display.HoverText.clear();
    Display.TapeMarking = false;
    {
        const auto lock = Core.HoldAnalysis();
        const TapeState& tape = Core.Tape;
        Display.Scroll.Hold(Core, false);
        const int advanced = SavedScrollOffset != 0 ? tape.TapeWriteIndex - SavedWriteIndex : 0;
        Display.Scroll.Set(Core, std::clamp(SavedScrollOffset + advanced, 0, tape.TapeWriteIndex));
    }
    View.update();
}

// --- Buttons ---

void ViewMouse::Press(QMouseEvent* event) {
    RememberPointer(event);
    const QPoint p = event->position().toPoint();
    if (event->button() == Qt::LeftButton)
        LeftButtonDown(p);
    else if (event->button() == Qt::RightButton)
        RightButtonDown(p);
}

void ViewMouse::LeftButtonDown(QPoint p) {
    View.setFocus();
    SetDragMode(LeftDragAt(p));
    LastPointer = p;
}

// What a left button press at p grabs.
ViewMouse::Drag ViewMouse::LeftDragAt(QPoint p) const {
    if (Display.PostUnlockRect.contains(p)) return Drag::PostUnlock;
    if (Display.PreUnlockRect.contains(p)) return Drag::PreUnlock;
    if (TapeShown() && Display.TapeRect.contains(p)) return Drag::TapeScroll;
    if (OverManualDiskGrip(p)) return Drag::Disk;
    return NearThreshold(p) ? Drag::Threshold : Drag::None;
}

// Starts a time marking on the tape: the row under the pointer is marked and the tape's scroll
// is kept to be restored when the button comes up.
void ViewMouse::RightButtonDown(QPoint p) {
    View.setFocus();
    LastPointer = p;
    if (!TapeShown() || !Display.TapeRect.contains(p)) return;
    SetDragMode(Drag::TapeMark);
    Display.MarkedRow = p;
    Display.MarkedTime = TimeAtTapeRow(p.y());
    Display.TapeMarking = true;
    Display.HoverText = "0:0:0";
    SetPointerShape(Pointer::Marking);
    {
        const auto lock = Core.HoldAnalysis();
        SavedScrollOffset = Display.Scroll.Offset(Core);
        SavedWriteIndex = Core.Tape.TapeWriteIndex;
        Display.Scroll.Hold(Core, true);
    }
    View.RequestRepaint();
}

void ViewMouse::Release(QMouseEvent* event) {
    RememberPointer(event);
    if (event->button() == Qt::LeftButton || event->button() == Qt::RightButton)
        SetDragMode(Drag::None);
}

void ViewMouse::DoubleClick(QMouseEvent* event) {
    RememberPointer(event);
    if (event->button() != Qt::LeftButton) return; // a right double click does nothing
    const QPoint p = event->position().toPoint();
    if (RescaleToothChart(p) || ResetDiskOrScroll(p)) return;
    CommandAtTopRight(p);
    LeftButtonDown(p);
}

// The chart is scaled so that its largest bar fills the half-height.
bool ViewMouse::RescaleToothChart(QPoint p) {
    double largest = 0.0;
    {
        const auto lock = Core.HoldAnalysis();
        const int teeth = std::min(Core.Params.EscapeWheelTeeth, MaxTeeth);
        if (teeth <= 0 || !Display.ToothChartRect.contains(p)) return false;
        for (int i = 0; i < teeth; ++i)
            largest = std::max(largest, std::fabs(Core.Measurement.ToothResidual[i]));
    }
    if (largest >= 1e-12) Display.ToothChartScale = std::min(1.0 / largest, 50000.0);
    View.RequestRepaint();
    return true;
}

// On the manual disk's grip the disk turns back to 0 (and the click goes on as a press); anywhere
// else a scrolled tape returns to its newest entries, and that is all the double click does.
bool ViewMouse::ResetDiskOrScroll(QPoint p) {
    if (OverManualDiskGrip(p)) {
        Display.Disk.Theta = 0.0;
        UpdateDiskChords(Display.Disk);
        View.RequestRepaint();
        return false;
    }
    {
        const auto lock = Core.HoldAnalysis();
        if (Display.Scroll.Offset(Core) == 0) return false;
        Display.Scroll.Set(Core, 0);
    }
    View.RequestRepaint();
    return true;
}

// The top right corner shows the title, or the waveform file being played.
void ViewMouse::CommandAtTopRight(QPoint p) {
    if (p.y() >= View.height() / 32 || p.x() <= View.width() * 2 / 3) return;
    const PlaybackView playback = View.Session().Playback();
    if (playback.Playing)
        emit View.CommandRequested(cmd::ChooseWaveform);
    else if (!playback.Recording)
        emit View.CommandRequested(cmd::Title);
}

// --- Pointer movement ---

void ViewMouse::Move(QMouseEvent* event) {
    RememberPointer(event);
    const QPoint p = event->position().toPoint();
    if (!(event->buttons() & (Qt::LeftButton | Qt::RightButton))) SetDragMode(Drag::None);
    const bool wasOverTape = Display.PointerOverTape;
    Display.PointerOverTape = Display.TapeRect.contains(p) &&
                              QApplication::widgetAt(event->globalPosition().toPoint()) == &View;
    if (DragMode != Drag::None) {
        LastPointer = DragTo(p, (event->modifiers() & Qt::ShiftModifier) != 0);
        View.RequestRepaint();
        return;
    }
    const std::string before = Display.HoverText;
    UpdateHoverText(p);
    UpdatePointerShape(p);
    // The text beside the pointer over the tape is drawn, so it is redrawn when it changes.
    if (Display.PointerOverTape != wasOverTape ||
        (Display.PointerOverTape && Display.HoverText != before))
        View.RequestRepaint();
    // Under a resting pointer the running tape moves on: the row's time is read again shortly.
    if (Display.PointerOverTape && TapeShown() && View.Session().IsRunning())
        View.TimerSet.Start(TimerPointer, HoverRefreshMs);
}

// Applies the drag to the pointer at p; returns the position to remember as the last one.
QPoint ViewMouse::DragTo(QPoint p, bool shift) {
    switch (DragMode) {
    case Drag::Threshold:
        DragThreshold(p.y());
        break;
    case Drag::PreUnlock:
    case Drag::PostUnlock:
        DragMute(DragMode == Drag::PreUnlock, p.x());
        break;
    case Drag::Disk:
        DragDisk(p.y() - LastPointer.y(), shift);
        break;
    case Drag::TapeScroll:
        return DragTape(p, shift);
    case Drag::TapeMark:
        DragMarking(p);
        break;
    case Drag::None:
        break;
    }
    return p;
}

void ViewMouse::DragThreshold(int y) {
    const auto lock = Core.HoldAnalysis();
    Core.Params.UnlockThreshold = std::clamp(ThresholdAt(y, View.height()), 0, ThresholdMax);
}

// Dragging right shortens the pre-unlock span (a longer post-tick mute) and lengthens the
// post-unlock span (a smaller maximum amplitude, hence a longer minimum lift time).
void ViewMouse::DragMute(bool pre, int x) {
    const bool right = x > LastPointer.x();
    {
        const auto lock = Core.HoldAnalysis();
        AnalysisParameters& pa = Core.Params;
        if (pre)
            pa.PostTickMute = std::clamp(pa.PostTickMute + (right ? 0.005 : -0.005), 0.01, 0.99);
        else
            pa.MaxAmplitude = std::clamp(pa.MaxAmplitude + (right ? -10.0 : 10.0), 30.0, 400.0);
    }
    Core.RecomputeConstants();
}

void ViewMouse::DragDisk(int dy, bool shift) {
    if (shift) dy *= 10;
    if (dy == 0) return;
    Display.Disk.Theta -= dy * DiskStepPerPixel(dy);
    UpdateDiskChords(Display.Disk);
}

// The tape follows the pointer: by f entries per pixel row when f entries share a row, and by
// whole entries of -f rows each otherwise (the remainder of a row stays in the remembered y).
QPoint ViewMouse::DragTape(QPoint p, bool shift) {
    const int g = shift ? 5 : 1;
    const int dy = p.y() - LastPointer.y();
    const auto lock = Core.HoldAnalysis();
    const int f = Feed();
    const int offset = Display.Scroll.Offset(Core);
    if (f >= 1) {
        Display.Scroll.Set(Core, std::max(0, offset - f * g * dy));
        return p;
    }
    const int r = dy / f;
    Display.Scroll.Set(Core, std::max(0, offset + g * r));
    return {p.x(), LastPointer.y() + r * f};
}

// The hover text shows the time from the marked row to the row under the pointer.
void ViewMouse::DragMarking(QPoint p) {
    Display.HoverText.clear();
    if (TapeShown() && Display.PointerOverTape && Display.MarkedTime != 0)
        if (const uint64_t t = TimeAtTapeRow(p.y()))
            Display.HoverText = MarkedIntervalText(t, Display.MarkedTime);
    AutoScroll(p.y());
}

// With the pointer below or above the window the tape scrolls toward it; timer 105 repeats the
// move while the pointer stays there.
void ViewMouse::AutoScroll(int y) {
    const int h = View.height();
    int change = 0;
    {
        const auto lock = Core.HoldAnalysis();
        const int write = Core.Tape.TapeWriteIndex;
        const int offset = Display.Scroll.Offset(Core);
        if (y > h && h + offset < write)
            change = std::min(y - h, write - offset);
        else if (y < 0 && offset > 0)
            change = -std::min(offset, -y);
        Display.Scroll.Set(Core, offset + change);
    }
    if (change == 0) return;
    MoveMarkedRow(change);
    View.TimerSet.Start(TimerPointer, AutoScrollMs);
}

// The marked row moves with the tape when the scroll offset changes by `scrollChange` entries.
void ViewMouse::MoveMarkedRow(int scrollChange) {
    const int f = Feed();
    Display.MarkedRow.ry() += f >= 1 ? -(scrollChange / f) : scrollChange * f;
    Display.MarkedTime = TimeAtTapeRow(Display.MarkedRow.y());
}

void ViewMouse::UpdateHoverText(QPoint p) {
    std::string& text = Display.HoverText;
    if (TapeShown() && Display.PointerOverTape) {
        const uint64_t t = TimeAtTapeRow(p.y());
        text = t != 0 ? ClockTimeText(t) : std::string();
    } else if (NearThreshold(p)) {
        text = "Unlock threshold";
    } else if (Display.PostUnlockRect.contains(p)) {
        text = "Post-unlock mute";
    } else if (Display.PreUnlockRect.contains(p)) {
        text = "Pre-unlock mute";
    } else if (OverManualDiskGrip(p)) {
        text = "Manual cursor disk rotate";
    } else if (Display.ToothChartRect.contains(p)) {
        text = "Double click to rescale";
    } else {
        text.clear();
    }
}

// The pointer shows what a press would grab; over a grabbable element the view takes the
// keyboard focus, so that the arrow keys step the threshold at once.
void ViewMouse::UpdatePointerShape(QPoint p) {
    if (Display.ToothChartRect.contains(p)) return SetPointerShape(Pointer::SizeVer);
    Pointer shape = Pointer::Arrow;
    if (Display.PostUnlockRect.contains(p) || Display.PreUnlockRect.contains(p))
        shape = Pointer::SizeHor;
    else if (TapeShown() && Display.TapeRect.contains(p))
        shape = Pointer::Tape;
    else if (OverManualDiskGrip(p) || NearThreshold(p))
        shape = Pointer::SizeVer;
    else
        return SetPointerShape(DragMode == Drag::TapeMark ? Pointer::Marking : Pointer::Arrow);
    View.setFocus();
    SetPointerShape(shape);
}

void ViewMouse::SetPointerShape(Pointer shape) {
    if (shape == PointerShape) return;
    PointerShape = shape;
    switch (shape) {
    case Pointer::Arrow:
        View.unsetCursor();
        break;
    case Pointer::SizeVer:
        View.setCursor(Qt::SizeVerCursor);
        break;
    case Pointer::SizeHor:
        View.setCursor(Qt::SizeHorCursor);
        break;
    case Pointer::Tape:
        View.setCursor(TapeCursor());
        break;
    case Pointer::Marking:
        View.setCursor(MarkingCursor());
        break;
    }
}

void ViewMouse::Leave() {
    if (DragMode == Drag::None) View.TimerSet.Kill(TimerPointer); // no more hover refreshes
    if (Display.PointerOverTape) {
        Display.PointerOverTape = false;
        View.RequestRepaint();
    }
}

// A fresh mouse move where the pointer was last seen, with the buttons and keys it had.
void ViewMouse::OnPointerTimer() {
    QMouseEvent move(QEvent::MouseMove, View.mapFromGlobal(PointerGlobal), PointerGlobal,
                     Qt::NoButton, PointerButtons, PointerModifiers);
    Move(&move);
}

// --- Wheel ---

void ViewMouse::Wheel(QWheelEvent* event) {
    const QPoint p = event->position().toPoint();
    const QPoint angle = event->angleDelta();
    const int delta = angle.y() != 0 ? angle.y() : angle.x();
    const bool fast =
        (event->buttons() & Qt::RightButton) || (event->modifiers() & Qt::ShiftModifier);
    if (WheelAt(p, delta, fast)) View.RequestRepaint();
}

// Returns false when the wheel acted on nothing and needs no repaint.
bool ViewMouse::WheelAt(QPoint p, int delta, bool fast) {
    if (Display.PostUnlockRect.contains(p) || Display.PreUnlockRect.contains(p)) return true;
    if (TapeShown() && Display.TapeRect.contains(p)) {
        WheelTape(Sign(delta) * (fast ? 10 : 1));
        return true;
    }
    if (App.CursorDisk && OverManualDiskGrip(p)) {
        Display.Disk.Theta += delta * (fast ? 0.0001 : 0.00001);
        UpdateDiskChords(Display.Disk);
        return true;
    }
    if (!NearThreshold(p)) return false;
    WheelThreshold(p, delta);
    return true;
}

// One entry per notch (ten when fast), whatever the wheel's resolution; the marked row follows.
void ViewMouse::WheelTape(int step) {
    int change = 0;
    {
        const auto lock = Core.HoldAnalysis();
        const int before = Display.Scroll.Offset(Core);
        const int offset = std::clamp(before + step, 0, Core.Tape.TapeWriteIndex);
        change = offset - before;
        Display.Scroll.Set(Core, offset);
    }
    if (change != 0 && DragMode == Drag::TapeMark) MoveMarkedRow(change);
}

// The threshold moves by the wheel delta and the pointer stays on the line.
void ViewMouse::WheelThreshold(QPoint p, int delta) {
    int u = 0;
    {
        const auto lock = Core.HoldAnalysis();
        u = std::clamp(Core.Params.UnlockThreshold + delta, 0, ThresholdMax);
        Core.Params.UnlockThreshold = u;
    }
    const int y =
        static_cast<int>(static_cast<long long>(ThresholdMax - u) * View.height() / ThresholdSpan);
    QCursor::setPos(View.mapToGlobal(QPoint(p.x(), y)));
}

// --- Tool tips ---

// No tool tip over the running tape, where the hover text is drawn beside the pointer instead.
QString ViewMouse::ToolTipText() const {
    if (Display.HoverText.empty()) return {};
    if (Display.PointerOverTape && View.Session().IsRunning()) return {};
    return QString::fromStdString(Display.HoverText).left(ToolTipMaxChars);
}

bool CChildView::event(QEvent* event) {
    if (event->type() != QEvent::ToolTip) return QWidget::event(event);
    const auto* help = static_cast<QHelpEvent*>(event);
    const QString text = Mouse.ToolTipText();
    if (text.isEmpty()) {
        QToolTip::hideText();
        event->ignore();
        return true;
    }
    // A 10 x 10 square around the pointer: moving out of it ends this tip.
    const QRect square(help->pos() - QPoint(5, 5), QSize(10, 10));
    QToolTip::showText(help->globalPos(), text, this, square);
    return true;
}

} // namespace kv
