// SPDX-License-Identifier: GPL-3.0-or-later
// The view's command table: what each command does and when it is checked or enabled.
#include <QApplication>
#include <cmath>

#include "ui/common/CommandTable.h"
#include "ui/view/ChildView.h"
#include "ui/view/FileCommands.h"
#include "ui/view/PrintCommands.h"
#include "ui/view/ViewerCommands.h"

namespace kv {

namespace {

struct TrainCommand {
    int Id;
    const char* Text;
    double Period;
};

const TrainCommand TrainCommands[] = {
    {cmd::Train14400, "14400 vph", 0.25},     {cmd::Train18000, "18000 vph", 0.2},
    {cmd::Train19800, "19800 vph", 2.0 / 11}, {cmd::Train21600, "21600 vph", 1.0 / 6},
    {cmd::Train25200, "25200 vph", 1.0 / 7},  {cmd::Train28800, "28800 vph", 0.125},
    {cmd::Train36000, "36000 vph", 0.1},      {cmd::Train1pps, "3600 vph", 1.0},
    {cmd::Fork300, "300 Hz", 1.0 / 300},      {cmd::Fork330, "330 Hz", 1.0 / 330},
    {cmd::Fork360, "360 Hz", 1.0 / 360},
};

struct ValueCommand {
    int Id;
    double Value;
};

const ValueCommand MeasuringCommands[] = {
    {cmd::Measure4, 4}, {cmd::Measure8, 8}, {cmd::Measure12, 12}, {cmd::Measure24, 24}};
const ValueCommand MagnificationCommands[] = {{cmd::Mag05, 0.5}, {cmd::Mag1, 1.0},
                                              {cmd::Mag2, 2.0},  {cmd::Mag4, 4.0},
                                              {cmd::Mag8, 8.0},  {cmd::Mag025, 0.25}};
const ValueCommand ZoomCommands[] = {{cmd::Zoom05, 0.5},
                                     {cmd::Zoom1, 1.0},
                                     {cmd::Zoom2, 2.0},
                                     {cmd::Zoom5, 5.0},
                                     {cmd::Zoom10, 10.0}};
const ValueCommand FeedCommands[] = {
    {cmd::Feed1, 1}, {cmd::Feed10th, 10}, {cmd::Feed100th, 100}, {cmd::Feed10, -10}};

struct EscapementCommand {
    int Id;
    EscapementType Type;
};

const EscapementCommand EscapementCommands[] = {{cmd::Lever, EscapementType::Lever},
                                                {cmd::Coaxial1, EscapementType::Coaxial1},
                                                {cmd::Coaxial2, EscapementType::Coaxial2},
                                                {cmd::AP1, EscapementType::AP1},
                                                {cmd::AP2, EscapementType::AP2},
                                                {cmd::Pendulum, EscapementType::Pendulum},
                                                {cmd::TuningFork, EscapementType::TuningFork}};

template <typename Table> auto Find(const Table& table, int id) -> decltype(&table[0]) {
    for (const auto& entry : table)
        if (entry.Id == id) return &entry;
    return nullptr;
}

const int FeedPopupValues[] = {-10, -5, -2, 1, 2, 5, 10, 20, 50, 100};
const double ZoomPopupValues[] = {10, 5, 2, 1, 0.5};
const char* const ZoomPopupLabels[] = {"10 trig", "5 trig", "2 trig", "1 free", "0.5 free"};

// Read without the calibration lock: the command states are asked under the analysis lock,
// which must never be held while the calibration lock is taken.
bool LocalCalibrationRunning(const CChildView& view) {
    return view.Session().Calibration().Flags() == LocalCalibrationMode;
}

// Called under the analysis lock; the calibration word is read without its lock.
CommandState CalibrationCommandStatus(const CChildView& view, int id) {
    CommandState s;
    const int flags = view.Session().Calibration().Flags();
    const bool running = view.Core().Measurement.Running;
    if (CalibrationReferenceKey(id)) { // a run against any time reference
        s.Enabled = flags == calflags::None;
        return s;
    }
    switch (id) {
    case cmd::LocalCal:
        s.Enabled = flags == calflags::None && running;
        break;
    case cmd::FinishCal:
        s.Enabled = (flags & calflags::LowBits) != 0 && running;
        break;
    case cmd::CorrectClock:
        s.Enabled = calflags::IsReferenceRun(flags);
        s.Checked = view.Session().Calibration().CorrectSystemClockRequested();
        break;
    default:
        s = FileCommandStatus(view, id);
        break;
    }
    return s;
}

bool OnSettingToggle(CChildView& view, int id) {
    int* flag = id == cmd::DiscardOdd  ? &view.Core().Settings.DiscardOdd
                : id == cmd::Hpf       ? &view.Core().Settings.HPF
                : id == cmd::Averaging ? &view.Core().Params.Averaging
                                       : nullptr;
    if (!flag) return OnFileCommand(view, id); // takes its own locks
    const auto lock = view.Core().HoldAnalysis();
    *flag = !*flag;
    return true;
}

bool OnCalibrationCommand(CChildView& view, int id) {
    CalibrationEngine& calibration = view.Session().Calibration();
    if (const char* reference = CalibrationReferenceKey(id)) {
        {
            const auto lock = view.Core().HoldAnalysis();
            view.Display.Scroll.Set(view.Core(), 0); // the run is followed from its newest entry
        }
        view.Session().StartReferenceCalibration(reference);
        return true;
    }
    switch (id) {
    case cmd::LocalCal:
        calibration.StartLocalCalibration();
        break;
    case cmd::FinishCal:
        calibration.FinishCalibration();
        break;
    case cmd::CorrectClock:
        calibration.ToggleCorrectSystemClock();
        break;
    default:
        return OnSettingToggle(view, id);
    }
    return true;
}

// The view shows the zoom it keeps; the analysis draws its trace at it from the next buffer on.
void SetDisplayZoom(CChildView& view, double zoom) {
    view.App().DisplayZoom = zoom;
    const auto lock = view.Core().HoldAnalysis();
    view.Core().Trace.Zoom = zoom;
}

void TogglePaperTape(CChildView& view) {
    view.App().PaperTape = !view.App().PaperTape;
    if (!view.App().PaperTape) {
        if (view.Core().Params.MeasuringTime < 0.01) view.Core().SetMeasuringTime("8.0");
        view.Display.ManualCursorDisk = false;
    }
    {
        const auto lock = view.Core().HoldAnalysis();
        view.Display.Scroll.Set(view.Core(), 0);
    }
    view.RequestRepaint();
}

void ToggleCursorDisk(CChildView& view, bool ctrlHeld) {
    view.App().CursorDisk = !view.App().CursorDisk;
    if (view.App().CursorDisk && ctrlHeld) view.Display.ManualCursorDisk = true;
    if (!view.App().CursorDisk) {
        view.Display.ManualCursorDisk = false;
        if (view.Core().Params.MeasuringTime < 0.01) view.Core().SetMeasuringTime("8.0");
    }
    if (view.App().CursorDisk && !view.App().PaperTape) TogglePaperTape(view);
    view.RequestRepaint();
}

} // namespace

CommandState CChildView::CommandStatus(int id) const {
    CommandState s;
    if (IsPrintCommand(id)) return s;
    if (IsViewerCommand(id)) return ViewerCommandStatus(*this, id);
    const auto lock = Core().HoldAnalysis();
    const double T = Core().Derived.BeatPeriod;
    const bool fork = Core().Params.Escapement() == EscapementType::TuningFork;
    if (auto* t = Find(TrainCommands, id)) {
        s.Checked = std::fabs(T - t->Period) < 1e-15;
        s.Enabled = !LocalCalibrationRunning(*this);
    } else if (auto* e = Find(EscapementCommands, id)) {
        s.Checked = Core().Params.Escapement() == e->Type;
        s.Enabled = e->Type != EscapementType::Coaxial2 && e->Type != EscapementType::AP1 &&
                    e->Type != EscapementType::AP2;
    } else if (auto* m = Find(MeasuringCommands, id)) {
        s.Checked = Core().Params.MeasuringTime == m->Value;
    } else if (auto* g = Find(MagnificationCommands, id)) {
        s.Checked = Core().Settings.Zoom == g->Value;
        s.Enabled = g->Value <= 0.5 ? T < 2.0 : T > ForkModePeriod;
    } else if (auto* z = Find(ZoomCommands, id)) {
        s.Checked = App().DisplayZoom == z->Value;
        s.Enabled = z->Value < 2.0 || !fork;
    } else if (auto* f = Find(FeedCommands, id)) {
        s.Checked = Core().Settings.SlowFeed == static_cast<int>(f->Value);
    } else {
        s = FlagCommandStatus(id);
    }
    return s;
}

CommandState CChildView::FlagCommandStatus(int id) const {
    CommandState s;
    switch (id) {
    case cmd::Run:
        s.Checked = Core().Measurement.Running;
        s.Enabled = !LocalCalibrationRunning(*this);
        break;
    case cmd::TrainButton:
        s.Enabled = Core().Measurement.Running && !LocalCalibrationRunning(*this);
        break;
    case cmd::Settings:
    case cmd::LoadProfile:
        s.Enabled = !LocalCalibrationRunning(*this);
        break;
    case cmd::Clear:
        s.Enabled = !Core().PositionalRunActive() && !LocalCalibrationRunning(*this);
        break;
    case cmd::Positions:
        s.Checked = Core().PositionalRunActive();
        s.Enabled = Core().Params.PositionAveragingTime > 0 && !LocalCalibrationRunning(*this);
        break;
    case cmd::PaperTape:
        s.Checked = App().PaperTape != 0;
        break;
    case cmd::CursorDisk:
        s.Checked = App().CursorDisk != 0;
        break;
    case cmd::Waveform:
        s.Checked = Core().Trace.Shown;
        break;
    case cmd::Freeze:
        s.Checked = Core().Trace.Frozen;
        break;
    case cmd::Autostop:
        s.Checked = Core().Settings.Autostop != 0;
        break;
    case cmd::DiscardOdd:
        s.Checked = Core().Settings.DiscardOdd != 0;
        break;
    case cmd::Hpf:
        s.Checked = Core().Settings.HPF != 0;
        break;
    case cmd::Averaging:
        s.Checked = Core().Params.Averaging != 0;
        break;
    default:
        s = CalibrationCommandStatus(*this, id);
        break;
    }
    return s;
}

bool CChildView::OnCommand(int id) {
    if (IsViewerCommand(id)) return OnViewerCommand(*this, id);
    if (IsPrintCommand(id)) {
        OnPrintCommand(*this, id);
        return true;
    }
    if (auto* t = Find(TrainCommands, id)) {
        Core().Params.TickInterval = t->Text;
        Core().ParseTrain(t->Text);
        emit TrainBoxChanged();
    } else if (auto* e = Find(EscapementCommands, id)) {
        Core().SelectEscapement(e->Type);
    } else if (auto* m = Find(MeasuringCommands, id)) {
        Core().SetMeasuringTime(QString::number(m->Value, 'f', 1).toStdString());
    } else if (auto* g = Find(MagnificationCommands, id)) {
        const auto lock = Core().HoldAnalysis();
        Core().Settings.Zoom = g->Value;
    } else if (auto* z = Find(ZoomCommands, id)) {
        SetDisplayZoom(*this, z->Value);
    } else if (auto* f = Find(FeedCommands, id)) {
        if (f->Value == 1)
            Core().SetFeedNormal();
        else
            Core().ToggleFeed(static_cast<int>(f->Value));
    } else {
        return OnFlagCommand(id);
    }
    return true;
}

bool CChildView::OnFlagCommand(int id) {
    switch (id) {
    case cmd::Run:
        Measuring.Run();
        break;
    case cmd::ClearTape:
        Core().ClearTape();
        RequestRepaint();
        break;
    case cmd::PaperTape:
        TogglePaperTape(*this);
        break;
    case cmd::CursorDisk:
        ToggleCursorDisk(*this, (QApplication::keyboardModifiers() & Qt::ControlModifier) != 0);
        break;
    case cmd::Waveform: {
        {
            const auto lock = Core().HoldAnalysis();
            Core().Trace.Shown = !Core().Trace.Shown;
            Core().Trace.Frozen = false;
        }
        RequestRepaint();
        break;
    }
    case cmd::Freeze: {
        const auto lock = Core().HoldAnalysis();
        Core().Trace.Frozen = !Core().Trace.Frozen;
        break;
    }
    case cmd::RaiseThreshold:
        Core().RaiseUnlockThreshold();
        break;
    case cmd::LowerThreshold:
        Core().LowerUnlockThreshold();
        break;
    case cmd::Centre:
        Measuring.CentreNow();
        break;
    case cmd::Autostop:
        Measuring.ToggleAutostop();
        break;
    case cmd::Settings:
        OpenSettingsDialog();
        break;
    case cmd::LoadProfile:
        ChooseProfile(QCursor::pos());
        break;
    case cmd::Positions:
        Measuring.AdvancePositionalRun();
        RequestRepaint();
        break;
    case cmd::ChooseTextFile:
        ChooseTextFileCommand(*this);
        break;
    default:
        return OnCalibrationCommand(*this, id);
    }
    return true;
}

std::vector<PopupItem> CChildView::PopupItems(int popupId) const {
    const auto lock = Core().HoldAnalysis();
    std::vector<PopupItem> items;
    if (popupId == cmd::MagPopup) {
        for (int k = 1; k <= 6; ++k) {
            const double m = 16.0 * std::pow(0.5, k);
            items.push_back(
                {QString::asprintf("%g", m), std::fabs(m - Core().Settings.Zoom) < 1e-15});
        }
    } else if (popupId == cmd::FeedPopup) {
        for (int f : FeedPopupValues)
            items.push_back({f < 0 ? QString::asprintf("%d", -f) : QString::asprintf("1/%u", f),
                             f == Core().Settings.SlowFeed});
    } else if (popupId == cmd::ZoomPopup) {
        const bool fork = Core().Params.Escapement() == EscapementType::TuningFork;
        for (int i = 0; i < 5; ++i)
            items.push_back({QString::fromLatin1(ZoomPopupLabels[i]),
                             std::fabs(ZoomPopupValues[i] - App().DisplayZoom) < 1e-15,
                             i >= 3 || !fork});
    }
    return items;
}

void CChildView::ApplyPopupChoice(int popupId, int item) {
    const auto lock = Core().HoldAnalysis();
    if (popupId == cmd::MagPopup && item >= 1 && item <= 6) {
        Core().Settings.Zoom = 16.0 * std::pow(0.5, item);
    } else if (popupId == cmd::FeedPopup && item >= 1 && item <= 10) {
        Core().Settings.SlowFeed = FeedPopupValues[item - 1];
        Core().Tape.TapeBufferMark = Core().Detector.BufferCounter;
    } else if (popupId == cmd::ZoomPopup && item >= 1 && item <= 5) {
        SetDisplayZoom(*this, ZoomPopupValues[item - 1]);
    }
}

} // namespace kv
