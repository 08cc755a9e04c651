// SPDX-License-Identifier: GPL-3.0-or-later
// The measuring view: draws its measuring session and routes commands, mouse input and timers to
// it. It owns the session, not the analysis or the sound objects themselves, and is the session's
// window: notices as message boxes, the throttled repaint, the one-shot timers by id.
#pragma once

#include <QElapsedTimer>
#include <QImage>
#include <QPointer>
#include <QWidget>
#include <filesystem>
#include <vector>

#include "session/MeasuringSession.h"
#include "ui/common/CommandTable.h"
#include "ui/logview/GraphView.h"
#include "ui/view/ViewDisplayState.h"
#include "ui/view/ViewHooks.h"
#include "ui/view/ViewMouse.h"
#include "ui/view/ViewNotices.h"
#include "ui/view/ViewPositions.h"
#include "ui/view/ViewQuestions.h"
#include "ui/view/ViewRenderer.h"
#include "ui/view/ViewTimers.h"

namespace kv {

class CChildView : public QWidget, private SessionHost {
    Q_OBJECT
public:
    // `capture`, `output` and `seams` stand in for the sound card and time references (tests).
    explicit CChildView(QWidget* parent = nullptr, CaptureSource* capture = nullptr,
                        PlaybackSink* output = nullptr, const CalibrationSeams& seams = {});
    ~CChildView() override;

    MeasuringSession& Session() { return Measuring; }
    const MeasuringSession& Session() const { return Measuring; }
    AnalysisCore& Core() { return Measuring.Analysis(); }
    const AnalysisCore& Core() const { return Measuring.Analysis(); }
    AppSettings& App() { return Measuring.Settings(); }
    const AppSettings& App() const { return Measuring.Settings(); }
    ViewDisplayState Display;
    ViewHooks Hooks;

    // Loads the settings (`store` may be null), installs the sample if missing, and plays
    // `openFile` (a recording named on the command line; the waveform file setting is kept) or
    // else the waveform file.
    void OnCreate(SettingsStore* store, const std::filesystem::path& bundledSample = {},
                  const std::string& openFile = {});
    void OnDestroy(); // stops measuring, closes the files and saves the settings; once

    // Shows a message at once and waits for it to be read (dialog validation).
    void ShowMessageText(const QString& text);
    int PendingNoticeCount() const { return Notices.PendingCount(); } // not shown yet
    const ViewTimers& Timers() const { return TimerSet; }
    // Repaints actually made since construction, and the last one's image.
    int PaintCount() const { return Paints; }
    const QImage& Picture() const { return BackBuffer; }
    // Throttled while measuring runs; from another thread, queued.
    void RequestRepaint() override;

    CGraphView* LogViewer() const { return Viewer; } // null when none is open
    void AttachLogViewer(CGraphView* viewer) { Viewer = viewer; }
    CommandState CommandStatus(int id) const;
    bool OnCommand(int id); // false when the view has no handler for it
    std::vector<PopupItem> PopupItems(int popupId) const;
    void ApplyPopupChoice(int popupId, int item); // item 1 upward
    // Command 32776: runs the settings dialog and applies what it accepted; true when accepted.
    bool OpenSettingsDialog();
    // Command 32895: the profile pop-up list centred on `pointer` (global); true when chosen.
    bool ChooseProfile(QPoint pointer);

signals:
    void TrainBoxChanged();
    void MeasuringTimeBoxChanged();
    void LiftAngleBoxChanged();
    void RunningChanged(bool running);
    void InputLevelChanged(int level);
    void MixerChanged();           // the faders were bound, or ALC, mute or the extra gain changed
    void CommandRequested(int id); // e.g. a double click that opens the title dialog

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override { Mouse.Press(event); }
    void mouseReleaseEvent(QMouseEvent* event) override { Mouse.Release(event); }
    void mouseDoubleClickEvent(QMouseEvent* event) override { Mouse.DoubleClick(event); }
    void mouseMoveEvent(QMouseEvent* event) override { Mouse.Move(event); }
    void wheelEvent(QWheelEvent* event) override { Mouse.Wheel(event); }
    void leaveEvent(QEvent* event) override;
    bool event(QEvent* event) override; // tool tips

private:
    friend class ViewMouse;
    void Notice(const std::string& text) override;
    void Post(std::function<void()> task) override;
    void StartTimer(int id, unsigned milliseconds) override { TimerSet.Start(id, milliseconds); }
    void KillTimer(int id) override { TimerSet.Kill(id); }
    void ShowRunning(bool running) override;
    void ShowInputLevel(int level) override { emit InputLevelChanged(level); }
    void ShowMixer() override { emit MixerChanged(); }
    void ShowTrain() override { emit TrainBoxChanged(); }
    void ShowMeasuringTime() override { emit MeasuringTimeBoxChanged(); }
    void ShowLiftAngle() override { emit LiftAngleBoxChanged(); }
    CalibrationQuestions& Questions() override { return Asker; }

    CommandState FlagCommandStatus(int id) const;
    bool OnFlagCommand(int id);
    void OnTimer(int id);
    bool OnUiThread() const;

    ViewTimers TimerSet;
    MeasuringSession Measuring;
    ViewNotices Notices{*this, Hooks.MessageSink};
    ViewQuestions Asker{*this, Hooks};
    QElapsedTimer RepaintClock;
    qint64 LastRepaintMs = -1000;
    int Paints = 0;
    QImage BackBuffer;
    ViewRenderer Renderer;
    ViewMouse Mouse{*this};
    ViewPositionUser PositionUser{*this};
    QPointer<CGraphView> Viewer; // forgets the viewer when its window is gone
};

} // namespace kv
