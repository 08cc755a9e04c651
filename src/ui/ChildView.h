// The measuring view: owns the analysis core and the sound objects, runs the measuring loop
// (Run and Stop, the one-shot timers by id, the throttled repaint) and draws the core's state.
// It is the analysis core's host; the capture thread reaches it only through thread-safe calls.
#pragma once

#include <QDialog>
#include <QElapsedTimer>
#include <QImage>
#include <QStringList>
#include <QWidget>
#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <vector>

#include "analysis/AnalysisCore.h"
#include "audio/CaptureSource.h"
#include "audio/ClockedSource.h"
#include "audio/FilePlayer.h"
#include "audio/SoundIn.h"
#include "audio/SoundOut.h"
#include "audio/WaveformFiles.h"
#include "logview/format/LogWriter.h"
#include "platform/TimeLapseLink.h"
#include "settings/AppSettings.h"
#include "settings/SettingsStore.h"
#include "ui/ViewDisplayState.h"
#include "ui/ViewRenderer.h"
#include "ui/ViewTimers.h"

class QLineEdit;
class QButtonGroup;

namespace kv {

// The check and enable state of a command.
struct CommandState {
    bool Enabled = true;
    bool Checked = false;
};

// An item of the magnification, feed or zoom pop-up menu.
struct PopupItem {
    QString Label;
    bool Checked = false;
    bool Enabled = true;
};

// The "Annotate log" dialog: a comment and the trace it belongs to.
class CAnnotateDlg : public QDialog {
    Q_OBJECT
public:
    explicit CAnnotateDlg(QWidget* parent = nullptr);
    int Trace() const;
    QString Text() const;

private:
    QLineEdit* Comment;
    QButtonGroup* Traces;
};

// Every message box of the view goes through one sink, so that tests can record them.
using MessageSink = std::function<void(const QString& text)>;

class CChildView : public QWidget, public AnalysisHost {
    Q_OBJECT
public:
    // `capture` and `output` replace the sound card (tests); null uses PortAudio. `output` serves
    // both the monitor and the playback of a waveform file heard without duplex audio.
    explicit CChildView(QWidget* parent = nullptr, CaptureSource* capture = nullptr,
                        PlaybackSink* output = nullptr);
    ~CChildView() override;

    AnalysisCore Core;
    AppSettings App;

    // --- Creation and destruction ---
    // Loads the settings from `store` (may be null), fills in default file names, makes the
    // default waveform file from `bundledSample` when it is missing, and starts its playback.
    void OnCreate(SettingsStore* store, const std::filesystem::path& bundledSample = {});
    // Stops measuring, closes the waveform file and saves the settings; once.
    void OnDestroy();
    // Log-off or shutdown: stop measuring and save.
    void OnSessionEnd();
    bool SaveAllSettings();

    // --- Measuring loop ---
    void Run(); // the Run command: Stop when running, otherwise Start
    bool IsRunning() const;
    void CentreNow();
    void ToggleAutostop();
    // The input level control the automatic gain step moves (0 .. 65535) and its step size;
    // a step size of 0 leaves the level alone.
    int InputLevel = 32768;
    int AgcStepSize = 0;
    // Replaces the message boxes (tests): the sink receives each text as it would be shown.
    void SetMessageSink(MessageSink sink) { ShowMessage = std::move(sink); }
    // Shows a message at once and waits for it to be read (dialog validation, on the
    // user-interface thread).
    void ShowMessageText(const QString& text);
    // Device and measuring notices not shown yet.
    int PendingNoticeCount() const { return static_cast<int>(PendingNotices.size()); }
    // Where playback starts at Run: a number 0..32767 scaled over the recording (random unless a
    // test fixes it).
    std::function<int()> PlaybackStartDraw;
    // Answers yes/no questions instead of a message box (tests).
    std::function<bool(const QString&)> ConfirmHook;
    const ViewTimers& Timers() const { return TimerSet; }
    // Repaints actually made since construction (tests count the throttle's effect).
    int PaintCount() const { return Paints; }
    // The last repaint's image.
    const QImage& Picture() const { return BackBuffer; }

    // --- Commands ---
    CommandState CommandStatus(int id) const;
    // Runs a command of the view; false when the view has no handler for it.
    bool OnCommand(int id);
    std::vector<PopupItem> PopupItems(int popupId) const;
    // Waveform files.
    void ChooseWaveformFile();
    void SetWaveformFile(const std::string& path);
    void ToggleRecording();
    void TogglePlayback();
    const WaveformFiles& WaveformState() const { return Waveform; }
    LogWriter& LogFile() { return Log; }
    MonitorState& MonitorOutput() { return *Monitor; }

    // Applies item `item` (1 upward) of a pop-up menu.
    void ApplyPopupChoice(int popupId, int item);
    ViewDisplayState Display;

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
    void SetOutputRingSize(int n) override;
    int64_t RecordOrPlayBuffer(int16_t* samples, size_t count) override;
    void MonitorCopy(const int16_t* samples, size_t count) override;
    void WriteLogRecord(int mode) override;
    void NotifyTick(uint32_t milliseconds, uint32_t beatCountLow) override;

signals:
    void TrainBoxChanged();
    void MeasuringTimeBoxChanged();
    void LiftAngleBoxChanged();
    void RunningChanged(bool running);
    void InputLevelChanged(int level);
    // Asks the frame to run a command (e.g. a double click that opens the title dialog).
    void CommandRequested(int id);

protected:
    void paintEvent(QPaintEvent* event) override;

    // --- Mouse and keyboard (ViewMouse.cpp) ---
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void leaveEvent(QEvent* event) override;
    bool event(QEvent* event) override; // tool tips
    // Timer 105: repeats the last mouse move, so that a marking drag with the pointer held
    // outside the window keeps scrolling the tape.
    void OnPointerTimer();
    // --- end of mouse and keyboard ---

private:
    bool LocalCalibrationRunning() const;
    CommandState FlagCommandStatus(int id) const;
    CommandState WaveformCommandStatus(int id) const;
    bool OnFlagCommand(int id);
    bool OnSettingToggle(int id);
    bool OnWaveformCommand(int id);
    CommandState LogCommandStatus(int id) const;
    bool OnLogCommand(int id);
    void ChooseLogFile();
    bool ConfirmClearLog();
    void TogglePaperTape();
    void ToggleCursorDisk(bool ctrlHeld);
    void EndPlayback();
    void EndPlaybackAtUserRate();
    void CloseWaveformFiles();
    void PostRun();
    void RandomPlaybackStart();
    void OnPlaybackEnded();

    void OnTimer(int id);
    void PerBufferStep();
    void ReportSilentCapture();
    int64_t BuffersAtRun = 0;           // buffers analysed before the current Run
    bool SilentCaptureReported = false; // said once per Run
    // A device or measuring notice, from any thread: collected while the command that raised it
    // runs and shown afterwards, the texts of one command in one box, one box at a time. So no
    // notice opens an event loop inside Run or Stop, and the measurement is running behind it.
    void Message(const QString& text);
    void ScheduleNotices();
    void ShowNotices();
    void OnNoticeClosed();
    bool OnUiThread() const;

    bool StartOutput();
    void StopOutput();

    std::unique_ptr<CaptureSource> OwnCapture;
    std::unique_ptr<PlaybackSink> OwnOutput;
    std::unique_ptr<PlaybackSink> OwnFileOutput;
    std::unique_ptr<FilePlayer> Player; // hear a playback while duplex audio is off
    ClockedSource Clocked;              // the capture clock of a playback without a sound card
    std::shared_ptr<MonitorState> Monitor;
    ViewTimers TimerSet;
    std::unique_ptr<CSoundOut> SoundOut;
    std::unique_ptr<CSoundIn> SoundIn;
    TimeLapseLink TimeLapse;
    WaveformFiles Waveform;
    LogWriter Log{Core, App};
    MessageSink ShowMessage; // empty: real message boxes
    QStringList PendingNotices;
    bool NoticeScheduled = false;
    bool NoticeOpen = false;
    // A machine without an output device is a normal state: said once per program start.
    bool OutputProblemReported = false;
    QStringList OutputProblems; // the output device's own texts of the current start
    QElapsedTimer RepaintClock;
    qint64 LastRepaintMs = -1000;
    int Paints = 0;
    QImage BackBuffer;
    SettingsStore* Store = nullptr;
    bool Destroyed = false;
    ViewRenderer Renderer;

    // --- Mouse and keyboard state (ViewMouse.cpp) ---
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
    QString ToolTipText() const;
    // --- end of mouse and keyboard state ---

    // --- Settings dialog and profiles (ViewSettingsCommands.cpp) ---
public:
    // Command 32776: runs the settings dialog and applies what it accepted; true when accepted.
    // Apply, Save and Load open it again afterwards.
    bool OpenSettingsDialog();
    // Command 32895: the profile pop-up list centred on `pointer` (global); the choice loads a
    // profile or selects none. True when something was chosen.
    bool ChooseProfile(QPoint pointer);
    // Device names the settings dialog lists; empty functions ask PortAudio.
    std::function<std::vector<std::string>()> InputDeviceNames;
    std::function<std::vector<std::string>()> OutputDeviceNames;
    // Drives the settings dialog instead of its modal loop (tests); it counts as accepted when
    // the hook closed it with OK, Apply, Save or Load.
    std::function<void(class CTrainDia&)> SettingsDialogHook;
    // Chooses from the profile list instead of showing it (tests): the chosen number, 0 for none.
    std::function<int(class ProfileChooser&)> ProfileChooserHook;
    // Replaces the system beep (tests).
    std::function<void()> BeepHook;
    // --- end of settings dialog and profiles ---
};

} // namespace kv
