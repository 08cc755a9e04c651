// SPDX-License-Identifier: GPL-3.0-or-later
// The mouse on the measuring view: drags of the unlock threshold, the mute spans, the manual
// cursor disk and the paper tape, marking the time between two tape rows, the wheel, hover texts
// and the pointer shape. Lives on the user-interface thread with the view it serves.
#pragma once

#include <QPoint>
#include <Qt>
#include <cstdint>

class QMouseEvent;
class QWheelEvent;

namespace kv {

class AnalysisCore;
struct AppSettings;
struct ViewDisplayState;
class CChildView;

class ViewMouse {
public:
    explicit ViewMouse(CChildView& view);

    void Press(QMouseEvent* event);
    void Release(QMouseEvent* event);
    void DoubleClick(QMouseEvent* event);
    void Move(QMouseEvent* event);
    void Wheel(QWheelEvent* event);
    void Leave();
    // The tool tip for the latest pointer position.
    QString ToolTipText() const;
    // Timer 105: repeats the last mouse move, so that a marking drag with the pointer held
    // outside the window keeps scrolling the tape.
    void OnPointerTimer();

private:
    enum class Drag {
        None = 0,
        Threshold = 1,
        PreUnlock = 3,
        PostUnlock = 4,
        Disk = 5,
        TapeScroll = 6,
        TapeMark = 7
    };
    enum class Pointer { Arrow, SizeVer, SizeHor, Tape, Marking };

    CChildView& View;
    AnalysisCore& Core;
    AppSettings& App;
    ViewDisplayState& Display;
    Drag DragMode = Drag::None;
    QPoint LastPointer;   // client position of the previous mouse event handled
    QPoint PointerGlobal; // screen position, buttons and keys of the latest mouse event
    Qt::MouseButtons PointerButtons;
    Qt::KeyboardModifiers PointerModifiers;
    int SavedScrollOffset = 0; // the tape's scroll and write index when a marking began
    int SavedWriteIndex = 0;
    Pointer PointerShape = Pointer::Arrow;

    void RememberPointer(const QMouseEvent* event);
    bool TapeShown() const;
    bool NearThreshold(QPoint p) const;
    bool OverManualDiskGrip(QPoint p) const;
    int Feed() const;
    uint64_t TimeAtTapeRow(int y) const;
    void SetDragMode(Drag mode);
    void EndMarking();
    void LeftButtonDown(QPoint p);
    Drag LeftDragAt(QPoint p) const;
    void RightButtonDown(QPoint p);
    bool RescaleToothChart(QPoint p);
    bool ResetDiskOrScroll(QPoint p);
    void CommandAtTopRight(QPoint p);
    QPoint DragTo(QPoint p, bool shift);
    void DragThreshold(int y);
    void DragMute(bool pre, int x);
    void DragDisk(int dy, bool shift);
    QPoint DragTape(QPoint p, bool shift);
    void DragMarking(QPoint p);
    void AutoScroll(int y);
    void MoveMarkedRow(int scrollChange);
    void UpdateHoverText(QPoint p);
    void UpdatePointerShape(QPoint p);
    void SetPointerShape(Pointer shape);
    bool WheelAt(QPoint p, int delta, bool fast);
    void WheelTape(int step);
    void WheelThreshold(QPoint p, int delta);
};

} // namespace kv
