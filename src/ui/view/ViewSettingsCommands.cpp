// SPDX-License-Identifier: GPL-3.0-or-later
// The settings dialog and profile commands of the view: filling the dialog from the view,
// applying an accepted dialog in its fixed order, and the profile pop-up list.
#include <QApplication>
#include <QTimer>
#include <algorithm>
#include <climits>
#include <cmath>

#include "audio/PortAudioSink.h"
#include "audio/PortAudioSource.h"
#include "references/GpsReceiver.h"
#include "settings/Profiles.h"
#include "ui/common/CommandTable.h"
#include "ui/dialogs/ProfileChooser.h"
#include "ui/dialogs/TrainDia.h"
#include "ui/view/ChildView.h"

namespace kv {

namespace {

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

// Truncation toward zero that stays defined for values no int holds (a damaged settings file).
int TruncateToInt(double x) {
    if (std::isnan(x)) return 0;
    return static_cast<int>(std::clamp(x, double{INT_MIN}, double{INT_MAX}));
}

void FillProfileFields(TrainDiaFields& f, const AnalysisParameters& p) {
    f.Escapement = p.Coaxial;
    f.Train = Q(p.TickInterval);
    f.LiftAngle = p.LiftAngle;
    f.Tau = p.Tau;
    f.RateAverage = p.MeasuringTime;
    f.Positions = p.Positions;
    f.PositionAverage = p.PositionAveragingTime;
    f.Stabilization = p.Stabilization;
    f.Sequence = Q(p.Sequence);
    f.ThresholdPercent = TruncateToInt(p.UnlockThreshold / 32767.0 * 100.0 + 0.5);
    f.MaxAmplitude = TruncateToInt(p.MaxAmplitude + 0.5);
    f.BlankingPercent = TruncateToInt(p.PostTickMute * 100.0);
    f.SilencePercent = TruncateToInt(p.PreTickSilence * 100.0);
    f.Averaging = p.Averaging != 0;
    f.EscapeWheelTeeth = p.EscapeWheelTeeth;
    f.FreeWheel = p.FreeWheel;
}

void FillOtherFields(TrainDiaFields& f, const AnalysisSettings& s, const AppSettings& a) {
    f.Profile = Q(a.Profile);
    f.Cal22 = FactorToSecondsPerDay(s.Cal.CalFactor22);
    f.Cal44 = FactorToSecondsPerDay(s.Cal.CalFactor44);
    f.Cal48 = FactorToSecondsPerDay(s.Cal.CalFactor48);
    f.Cal96 = FactorToSecondsPerDay(s.Cal.CalFactor96);
    f.SntpServer = Q(a.SNTPServer);
    f.GpsPort = Q(a.GPSPort);
    f.GpsBaud = QString::number(a.GPSBaud);
    f.Trim = FactorToSecondsPerDay(ProcessTimestampClock().GetTrim());
    f.PositionsToText = a.PositionsToText != 0;
    f.Centre = s.Centre != 0;
    f.Logging = s.Logging != 0;
    f.PrecisionTiming = s.PrecisionTiming != 0;
    f.AutoThreshold = s.AutoThreshold != 0;
    f.LogInterval = a.LogInterval;
    f.LargeFonts = a.CellFactor < 8;
    f.InputDevice = Q(a.SoundDeviceStr);
    f.SampleRate = static_cast<int>(std::min<unsigned>(s.SampleRate, INT_MAX));
    f.LineIn = a.Source != MicrophoneSource;
    f.OutputDevice = Q(a.SoundDeviceOutStr);
    f.DuplexAudio = s.DuplexAudio != 0;
}

TrainDiaFields DialogFields(const CChildView& v) {
    const auto lock = v.Core().HoldAnalysis();
    TrainDiaFields f;
    FillProfileFields(f, v.Core().Params);
    FillOtherFields(f, v.Core().Settings, v.App());
    return f;
}

// The fields as the default settings give them: what "Reset to defaults" shows.
TrainDiaFields DefaultDialogFields() {
    TrainDiaFields f;
    FillProfileFields(f, AnalysisParameters{});
    FillOtherFields(f, AnalysisSettings{}, AppSettings{});
    return f;
}

// Display options, positional settings and the time references.
void ApplyOptions(CChildView& v, const TrainDiaFields& f) {
    AnalysisParameters& p = v.Core().Params;
    v.App().CellFactor = f.LargeFonts ? 5 : 8;
    p.FreeWheel = f.FreeWheel;
    p.EscapeWheelTeeth = f.EscapeWheelTeeth;
    p.Sequence = f.Sequence.toStdString();
    v.Core().Settings.Centre = f.Centre ? 1 : 0;
    v.App().GPSPort = f.GpsPort.toStdString();
    v.App().GPSBaud = TruncateToInt(static_cast<double>(RoundHalfAway(f.GpsBaud.toDouble())));
    v.App().SNTPServer = f.SntpServer.toStdString();
}

// Thresholds, lift angle and escapement; "Fork" leaves the escapement as it is.
void ApplyDetectorFields(CChildView& v, const TrainDiaFields& f) {
    AnalysisParameters& p = v.Core().Params;
    p.UnlockThreshold = static_cast<int>((f.ThresholdPercent * 32767 + 0.5) * 0.01);
    p.PostTickMute = f.BlankingPercent * 0.01;
    p.PreTickSilence = f.SilencePercent * 0.01;
    p.LiftAngle = ClampLiftAngle(f.LiftAngle);
    v.Core().RecomputeConstants();
    v.Session().RefreshLiftAngleBox();
    if (f.Escapement >= 0 && f.Escapement < static_cast<int>(EscapementType::TuningFork)) {
        p.Coaxial = f.Escapement;
        v.Core().RecomputeConstants();
    }
}

// The four factors; the capture buffers follow them at the sample rate now in force.
void ApplyCalibrationFactors(CChildView& v, const TrainDiaFields& f) {
    CalibrationFactors& cal = v.Core().Settings.Cal;
    cal.CalFactor22 = SecondsPerDayToFactor(f.Cal22);
    cal.CalFactor44 = SecondsPerDayToFactor(f.Cal44);
    cal.CalFactor48 = SecondsPerDayToFactor(f.Cal48);
    cal.CalFactor96 = SecondsPerDayToFactor(f.Cal96);
    const DerivedConstants& d = v.Core().Derived;
    v.Session().SetCaptureSamplesPerBuffer(v.Core().EffectiveRate() * d.BeatPeriod *
                                           d.BeatsPerBuffer / d.BuffersPerBeat);
}

// Measuring times, positional run, averaging and logging. The measuring time and Tau are only
// touched when they were changed, so an unchanged short measuring time stays as it is.
void ApplyTimes(CChildView& v, const TrainDiaFields& f) {
    AnalysisParameters& p = v.Core().Params;
    const DerivedConstants& d = v.Core().Derived;
    p.MaxAmplitude = f.MaxAmplitude;
    if (std::fabs(f.RateAverage - p.MeasuringTime) > 1e-15) {
        p.MeasuringTime = std::max(f.RateAverage, d.BeatPeriod / 2 + d.MinMeasureInterval);
        v.Session().RefreshMeasuringTimeBox();
    }
    p.Stabilization = f.Stabilization;
    p.PositionAveragingTime = f.PositionAverage;
    p.Averaging = f.Averaging ? 1 : 0;
    v.App().LogInterval = f.LogInterval;
    v.Core().Settings.Logging = f.Logging ? 1 : 0;
    v.Core().Settings.PrecisionTiming = f.PrecisionTiming ? 1 : 0;
    v.Core().Settings.AutoThreshold = f.AutoThreshold ? 1 : 0;
    v.App().PositionsToText = f.PositionsToText ? 1 : 0;
    p.Positions = f.Positions;
    if (std::fabs(f.Tau - p.Tau) > 1e-15) {
        p.Tau = f.Tau;
        v.Core().RestartAllan();
    }
}

void ApplyLockedFields(CChildView& v, const TrainDiaFields& f) {
    const auto lock = v.Core().HoldAnalysis();
    ApplyOptions(v, f);
    ApplyDetectorFields(v, f);
    ApplyCalibrationFactors(v, f);
    ApplyTimes(v, f);
    ProcessTimestampClock().SetTrim(SecondsPerDayToFactor(f.Trim));
    v.Core().ClockRegression.Restart(); // the sample total runs on: a calibration reads it
}

// A changed train text is applied unless it is empty or "AUTO". A text that names no train is
// not taken: the train in force and the text shown for it stay together.
void ApplyTrainText(CChildView& v, const QString& text) {
    const std::string train = text.toStdString();
    if (train.empty() || text.compare(QLatin1String("AUTO"), Qt::CaseInsensitive) == 0) return;
    if (ParseTrainText(train).Kind == TrainTextKind::Rejected) return;
    {
        const auto lock = v.Core().HoldAnalysis();
        if (train == v.Core().Params.TickInterval) return;
        v.Core().Params.TickInterval = train;
    }
    v.Core().ParseTrain(train);
}

// Devices, source, duplex mode and sample rate: a running measurement stops around a change, and
// a new input is a new measurement.
void ApplySound(CChildView& v, const TrainDiaFields& f) {
    const int source = f.LineIn ? LineInSource : MicrophoneSource;
    const std::string input = f.InputDevice.toStdString();
    const std::string output = f.OutputDevice.toStdString();
    const int duplex = f.DuplexAudio ? 1 : 0;
    const auto rate = static_cast<unsigned>(f.SampleRate);
    bool newInput = false;
    {
        const auto lock = v.Core().HoldAnalysis();
        const AnalysisSettings& s = v.Core().Settings;
        newInput =
            source != v.App().Source || input != v.App().SoundDeviceStr || rate != s.SampleRate;
        if (!newInput && output == v.App().SoundDeviceOutStr && duplex == s.DuplexAudio) return;
    }
    bool wasRunning = false;
    if (newInput) {
        wasRunning = v.Session().StopForNewInput();
    } else if (v.Session().IsRunning()) {
        wasRunning = true;
        v.Session().StopMeasurement();
    }
    {
        const auto lock = v.Core().HoldAnalysis();
        v.App().Source = source;
        v.App().SoundDeviceStr = input;
        v.App().SoundDeviceOutStr = output;
        v.Core().Settings.DuplexAudio = duplex;
        v.Core().Settings.SampleRate = rate; // capture and playback share it
    }
    if (wasRunning) v.Session().StartMeasurement();
}

void RefreshBars(CChildView& v) {
    v.Session().RefreshTrainBox();
    v.Session().RefreshLiftAngleBox();
    v.Session().RefreshMeasuringTimeBox();
}

ToolBarRefresh BarRefresh(CChildView& v) {
    return {[&v] { v.Session().RefreshLiftAngleBox(); },
            [&v] { v.Session().RefreshMeasuringTimeBox(); }};
}

// "Save" and "Load" select the typed profile after the whole dialog has been applied.
void ApplyProfileButton(CChildView& v, TrainDiaExit exit, const QString& name) {
    if (exit != TrainDiaExit::Save && exit != TrainDiaExit::Load) return;
    v.App().Profile = name.toStdString();
    PrivateProfileFile file(ProfileFilePath());
    if (exit == TrainDiaExit::Save) {
        AnalysisParameters params;
        {
            const auto lock = v.Core().HoldAnalysis();
            params = v.Core().Params;
        }
        SaveProfile(file, v.App().Profile, params);
    } else {
        LoadProfile(file, v.App().Profile, v.Core(), BarRefresh(v));
        RefreshBars(v);
    }
}

void ApplyDialog(CChildView& v, const CTrainDia& dialog) {
    const TrainDiaFields& f = dialog.Fields();
    ApplyLockedFields(v, f);
    ApplyTrainText(v, f.Train);
    v.Core().RecomputeConstants();
    ApplySound(v, f);
    RefreshBars(v);
    ApplyProfileButton(v, dialog.Exit(), f.Profile);
    v.update();
}

} // namespace

bool CChildView::OpenSettingsDialog() {
    TrainDiaLists lists;
    lists.InputDevices = Hooks.InputDeviceNames ? Hooks.InputDeviceNames() : ListInputDevices();
    lists.OutputDevices = Hooks.OutputDeviceNames ? Hooks.OutputDeviceNames() : ListOutputDevices();
    lists.SerialPorts = SerialPortNames();
    lists.CounterFrequency = static_cast<int64_t>(ProcessTimestampClock().Frequency());
    TrainDiaFields fields = DialogFields(*this);
    fields.GpsPort = Q(GpsPortToUse(App().GPSPort, lists.SerialPorts));
    CTrainDia dialog(fields, DefaultDialogFields(), lists, this);
    dialog.ShowMessage = [this](const QString& text) { ShowMessageText(text); };
    dialog.Beep = [this] { Hooks.BeepHook ? Hooks.BeepHook() : QApplication::beep(); };
    if (Hooks.SettingsDialogHook) {
        dialog.show();
        Hooks.SettingsDialogHook(dialog);
    } else {
        dialog.exec();
    }
    if (dialog.result() != QDialog::Accepted) return false;
    ApplyDialog(*this, dialog);
    if (dialog.Exit() != TrainDiaExit::Ok) // shows the values now in force
        QTimer::singleShot(0, this, [this] { OnCommand(cmd::Settings); });
    return true;
}

bool CChildView::ChooseProfile(QPoint pointer) {
    const PrivateProfileFile file(ProfileFilePath());
    const std::vector<ProfileMenuItem> items = ProfileMenu(file, App().Profile);
    ProfileChooser chooser(items, this);
    const int choice =
        Hooks.ProfileChooserHook ? Hooks.ProfileChooserHook(chooser) : chooser.Exec(pointer);
    if (choice < 1 || choice > static_cast<int>(items.size())) return false;
    ApplyProfileChoice(items, choice, App().Profile, file, Core(), BarRefresh(*this));
    RefreshBars(*this);
    RequestRepaint();
    return true;
}

} // namespace kv
