// SPDX-License-Identifier: GPL-3.0-or-later
// The load and save orders of the "Settings" section.
#include "settings/SettingsIO.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <initializer_list>
#include <mutex>

#include "settings/SettingRanges.h"
#include "settings/SettingsPaths.h"

namespace kv {

namespace {

constexpr const char* LegacyCalFactorText = "1.00003109815019";
constexpr double Units100nsPerSecond = 1e7; // a calibration run's times count 100 ns

struct IntField {
    const char* Key;
    int* Field;
};
struct TextField {
    const char* Key;
    std::string* Field;
};
struct DoubleField {
    const char* Key;
    DoubleFormat Format;
    double* Field;
};

// Numbers are limited to their key's range as they are read.
void Read(const SettingsStore& s, std::initializer_list<IntField> fields) {
    for (const IntField& f : fields)
        *f.Field = LimitSetting(f.Key, s.GetInt(SettingsSection, f.Key, *f.Field), *f.Field);
}
void Read(const SettingsStore& s, std::initializer_list<TextField> fields) {
    for (const TextField& f : fields)
        *f.Field = s.GetText(SettingsSection, f.Key, *f.Field);
}
void Read(const SettingsStore& s, std::initializer_list<DoubleField> fields) {
    for (const DoubleField& f : fields)
        *f.Field =
            LimitSetting(f.Key, s.GetDouble(SettingsSection, f.Key, f.Format, *f.Field), *f.Field);
}

// Saving only needs the values.
struct IntValue {
    const char* Key;
    int Value;
};
struct TextValue {
    const char* Key;
    std::string_view Value;
};
struct DoubleValue {
    std::string Key;
    DoubleFormat Format;
    double Value;
};

void Write(SettingsStore& s, std::initializer_list<IntValue> values) {
    for (const IntValue& v : values)
        s.WriteInt(SettingsSection, v.Key, v.Value);
}
void Write(SettingsStore& s, std::initializer_list<TextValue> values) {
    for (const TextValue& v : values)
        s.WriteText(SettingsSection, v.Key, v.Value);
}
void Write(SettingsStore& s, std::initializer_list<DoubleValue> values) {
    for (const DoubleValue& v : values)
        s.WriteDouble(SettingsSection, v.Key, v.Format, v.Value);
}

std::string IndexedKey(const char* pattern, int index) {
    char key[32];
    std::snprintf(key, sizeof key, pattern, index);
    return key;
}

// --- Loading, one function per group of the load order ---

void LoadIntegers(const SettingsStore& s, AnalysisCore& core, AppSettings& app) {
    AnalysisParameters& p = core.Params;
    AnalysisSettings& a = core.Settings;
    Read(s, {{"CellFactor", &app.CellFactor},
             {"MaxLogsize", &app.MaxLogsize},
             {"MinInvalTime", &app.MinInvalTime},
             {"MinBuffers", &a.MinBuffers},
             {"EscapeWheelTeeth", &p.EscapeWheelTeeth},
             {"DiscardOdd", &a.DiscardOdd},
             {"Motorised", &app.Motorised},
             {"Positions", &p.Positions},
             {"PaperTape", &app.PaperTape},
             {"SlowFeed", &a.SlowFeed},
             {"Averaging", &p.Averaging},
             {"UnlockThreshold", &p.UnlockThreshold},
             {"AGC", &a.AGC},
             {"HPF", &a.HPF},
             {"Autostop", &a.Autostop},
             {"SNTPPort", &app.SNTPPort},
             {"GPSBaud", &app.GPSBaud},
             {"CursorDisk", &app.CursorDisk},
             {"Source", &app.Source},
             {"LogInterval", &app.LogInterval},
             {"Logging", &a.Logging},
             {"PositionsToText", &app.PositionsToText},
             {"PrecisionTiming", &a.PrecisionTiming},
             {"AutoThreshold", &a.AutoThreshold}});
}

void LoadEscapement(const SettingsStore& s, AnalysisCore& core) {
    const int current = core.Params.Coaxial;
    const int type =
        LimitSetting("Coaxial", s.GetInt(SettingsSection, "Coaxial", current), current);
    {
        const auto lock = core.HoldAnalysis();
        core.Params.Coaxial = type;
    }
    core.RecomputeConstants();
}

void LoadAudioAndMode(const SettingsStore& s, AnalysisCore& core, AppSettings& app) {
    Read(s, {{"FreeWheel", &core.Params.FreeWheel}});
    const auto current = static_cast<int32_t>(core.Settings.SampleRate);
    const int32_t rate = s.GetInt(SettingsSection, "SampleRate", current);
    core.Settings.SampleRate = static_cast<unsigned>(LimitSetting("SampleRate", rate, current));
    Read(s, {{"Centre", &core.Settings.Centre}, {"DuplexAudio", &core.Settings.DuplexAudio}});
    app.StoredCalibrationMode = s.GetInt(SettingsSection, "Calibrating", app.StoredCalibrationMode);
    Read(s, {{"CalDebug", &app.CalDebug}});
}

// Files of earlier versions store no run totals. They were saved with the run paused, so its
// totals are its start totals, unless those were lost to zero while points were stored: then the
// latest point is estimated from the window's sums (bin 0), the points lying one update interval
// apart on the fitted line.
void DeriveRunTotals(CalibrationSums& cal, unsigned sampleRate) {
    cal.TotalTime = cal.StartTime;
    cal.TotalSamples = cal.StartSample;
    if (cal.StartTime != 0 || cal.N[0] <= 0) return;
    const double n = static_cast<double>(cal.N[0]);
    const double meanX = cal.SumX[0] / n, meanY = cal.SumY[0] / n;
    const double d = n * cal.SumXX[0] - cal.SumX[0] * cal.SumX[0]; // n * n * variance of x
    const double slope = d > 0.0 ? (n * cal.SumXY[0] - cal.SumX[0] * cal.SumY[0]) / d : 1.0;
    // The last of n evenly spaced values lies sqrt(3 variance (n - 1) / (n + 1)) above their mean.
    const double lastX = meanX + std::sqrt(std::max(3.0 * d / (n * n) * (n - 1) / (n + 1), 0.0));
    const double lastY = meanY + slope * (lastX - meanX);
    cal.TotalTime = std::llround(lastX * Units100nsPerSecond);
    cal.TotalSamples = std::llround(lastY * sampleRate);
}

void LoadCalibrationRun(const SettingsStore& s, CalibrationSums& cal, unsigned sampleRate) {
    const DoubleFormat f = DoubleFormat::Fixed19;
    for (int i = 0; i < CalibrationSlots; ++i) {
        Read(s, {{IndexedKey("CalSumX[%02d]", i).c_str(), f, &cal.SumX[i]},
                 {IndexedKey("CalSumY[%02d]", i).c_str(), f, &cal.SumY[i]},
                 {IndexedKey("CalSumXY[%02d]", i).c_str(), f, &cal.SumXY[i]},
                 {IndexedKey("CalSumXX[%02d]", i).c_str(), f, &cal.SumXX[i]}});
        cal.N[i] = s.GetInt64(SettingsSection, IndexedKey("CalNHi[%02d]", i),
                              IndexedKey("CalNLo[%02d]", i), cal.N[i]);
    }
    cal.StartTime = s.GetInt64(SettingsSection, "CalStartTimeHi", "CalStartTimeLo", cal.StartTime);
    const int32_t low = s.GetInt(SettingsSection, "CalStartSampleLo", LowHalf(cal.StartSample));
    const int32_t high = s.GetInt(SettingsSection, "CalStartSampleHi", HighHalf(cal.StartSample));
    cal.StartSample = JoinHalves(high, low);
    if (!s.Document().Get(SettingsSection, "CalTotalTimeLo")) {
        DeriveRunTotals(cal, sampleRate);
        return;
    }
    cal.TotalTime = s.GetInt64(SettingsSection, "CalTotalTimeHi", "CalTotalTimeLo", cal.TotalTime);
    cal.TotalSamples =
        s.GetInt64(SettingsSection, "CalTotalSamplesHi", "CalTotalSamplesLo", cal.TotalSamples);
}

void LoadTexts(const SettingsStore& s, AnalysisCore& core, AppSettings& app) {
    Read(s, {{"SoundDeviceStr", &app.SoundDeviceStr},
             {"SoundDeviceOutStr", &app.SoundDeviceOutStr},
             {"SNTPServer", &app.SNTPServer},
             {"GPSPort", &app.GPSPort},
             {"LogFile2", &app.LogFile2},
             {"TextFile2", &app.TextFile2},
             {"Title", &app.Title},
             {"Profile", &app.Profile},
             {"Sequence", &core.Params.Sequence},
             {"WaveFile2", &app.WaveFile2}});
}

void LoadTrim(const SettingsStore& s, AnalysisCore& core, TimestampClock& clock) {
    const double trim = s.GetDouble(SettingsSection, "PerformanceScaleFactor",
                                    DoubleFormat::Fixed19, clock.GetTrim());
    if (!(trim > 0.95 && trim < 1.05)) return;
    const auto lock = core.HoldAnalysis();
    clock.SetTrim(trim);
}

// A text that names no train keeps the train in force and its text.
void LoadTrain(const SettingsStore& s, AnalysisCore& core) {
    const std::string train = s.GetText(SettingsSection, "TickInterval", core.Params.TickInterval);
    if (ParseTrainText(train).Kind == TrainTextKind::Rejected) return;
    core.Params.TickInterval = train;
    core.ParseTrain(train);
}

void LoadLiftAngle(const SettingsStore& s, AnalysisCore& core, const ToolBarRefresh& refresh) {
    double lift = core.Params.LiftAngle;
    Read(s, {{"LiftAngle", DoubleFormat::General, &lift}});
    {
        const auto lock = core.HoldAnalysis();
        core.Params.LiftAngle = lift;
    }
    core.RecomputeConstants();
    if (refresh.LiftAngle) refresh.LiftAngle();
}

void LoadCalFactors(const SettingsStore& s, CalibrationFactors& f) {
    const double legacy =
        ParseLeadingDouble(s.GetText(SettingsSection, "CalFactor", LegacyCalFactorText));
    for (auto [key, field] :
         {std::pair{"CalFactor22", &f.CalFactor22}, std::pair{"CalFactor44", &f.CalFactor44},
          std::pair{"CalFactor48", &f.CalFactor48}, std::pair{"CalFactor96", &f.CalFactor96}}) {
        const double factor = s.GetDouble(SettingsSection, key, DoubleFormat::Fixed14, legacy);
        *field = LimitSetting(key, factor, *field);
    }
}

// --- Saving ---

void SaveAnalysisParameters(SettingsStore& s, const AnalysisParameters& p) {
    const DoubleFormat g = DoubleFormat::General;
    Write(s, {{"Stabilization", g, p.Stabilization}, {"Tau", g, p.Tau}});
    Write(s, {{"EscapeWheelTeeth", p.EscapeWheelTeeth},
              {"Positions", p.Positions},
              {"UnlockThreshold", p.UnlockThreshold},
              {"Averaging", p.Averaging}});
    Write(s, {{"Sequence", p.Sequence}});
    Write(s, {{"Coaxial", p.Coaxial}, {"FreeWheel", p.FreeWheel}});
    Write(s, {{"PositionAveragingTime", g, p.PositionAveragingTime},
              {"PostTickMute", g, p.PostTickMute},
              {"PreTickSilence", g, p.PreTickSilence}});
    Write(s, {{"TickInterval", p.TickInterval}});
    Write(s, {{"LiftAngle", g, p.LiftAngle},
              {"MeasuringTime", g, p.MeasuringTime},
              {"MaxAmplitude", g, p.MaxAmplitude}});
}

void SaveIntegers(SettingsStore& s, const AnalysisSettings& a, const AppSettings& app) {
    Write(s, {{"CellFactor", app.CellFactor},
              {"MaxLogsize", app.MaxLogsize},
              {"CalUpdateInterval", app.CalUpdateInterval},
              {"MinInvalTime", app.MinInvalTime},
              {"MinBuffers", a.MinBuffers},
              {"DiscardOdd", a.DiscardOdd},
              {"Motorised", app.Motorised},
              {"SlowFeed", a.SlowFeed},
              {"PaperTape", app.PaperTape},
              {"AGC", a.AGC},
              {"HPF", a.HPF},
              {"Autostop", a.Autostop},
              {"SNTPPort", app.SNTPPort},
              {"GPSBaud", app.GPSBaud},
              {"CursorDisk", app.CursorDisk},
              {"Source", app.Source},
              {"LogInterval", app.LogInterval},
              {"Logging", a.Logging},
              {"PositionsToText", app.PositionsToText},
              {"SampleRate", static_cast<int>(a.SampleRate)},
              {"Centre", a.Centre},
              {"DuplexAudio", a.DuplexAudio},
              {"Calibrating", app.StoredCalibrationMode},
              {"CalDebug", app.CalDebug},
              {"PrecisionTiming", a.PrecisionTiming},
              {"AutoThreshold", a.AutoThreshold}});
}

void SaveCalibrationRun(SettingsStore& s, const CalibrationSums& cal) {
    const DoubleFormat f = DoubleFormat::Fixed19;
    for (int i = 0; i < CalibrationSlots; ++i) {
        Write(s, {{IndexedKey("CalSumX[%02d]", i), f, cal.SumX[i]},
                  {IndexedKey("CalSumY[%02d]", i), f, cal.SumY[i]},
                  {IndexedKey("CalSumXY[%02d]", i), f, cal.SumXY[i]},
                  {IndexedKey("CalSumXX[%02d]", i), f, cal.SumXX[i]}});
        s.WriteInt64(SettingsSection, IndexedKey("CalNHi[%02d]", i), IndexedKey("CalNLo[%02d]", i),
                     cal.N[i]);
    }
    s.WriteInt64(SettingsSection, "CalStartTimeHi", "CalStartTimeLo", cal.StartTime);
    Write(s, {{"CalStartSampleLo", LowHalf(cal.StartSample)},
              {"CalStartSampleHi", HighHalf(cal.StartSample)}});
    s.WriteInt64(SettingsSection, "CalTotalTimeHi", "CalTotalTimeLo", cal.TotalTime);
    s.WriteInt64(SettingsSection, "CalTotalSamplesHi", "CalTotalSamplesLo", cal.TotalSamples);
}

void SaveTexts(SettingsStore& s, const AppSettings& app) {
    Write(s, {{"SoundDeviceStr", app.SoundDeviceStr},
              {"SoundDeviceOutStr", app.SoundDeviceOutStr},
              {"SNTPServer", app.SNTPServer},
              {"GPSPort", app.GPSPort},
              {"LogFile2", app.LogFile2},
              {"TextFile2", app.TextFile2},
              {"Title", app.Title},
              {"WaveFile2", app.WaveFile2}});
}

void SaveDisplayAndFactors(SettingsStore& s, const AnalysisSettings& a, const AppSettings& app) {
    const DoubleFormat g = DoubleFormat::General;
    const DoubleFormat f = DoubleFormat::Fixed14;
    Write(s, {{"Zoom", g, a.Zoom},
              {"DisplayZoom", g, app.DisplayZoom},
              {"CalFactor22", f, a.Cal.CalFactor22},
              {"CalFactor44", f, a.Cal.CalFactor44},
              {"CalFactor48", f, a.Cal.CalFactor48},
              {"CalFactor96", f, a.Cal.CalFactor96},
              {"AudioScale", f, a.AudioScale}});
}

std::string DefaultDocumentName(const char* extension) {
    const std::string folder = DocumentsFolder();
    return folder.empty() ? std::string() : UniqueDocumentName(folder, extension);
}

} // namespace

void LoadSettings(const SettingsStore& store, AnalysisCore& core, AppSettings& app,
                  TimestampClock& clock, const ToolBarRefresh& refresh) {
    AnalysisParameters& p = core.Params;
    const DoubleFormat g = DoubleFormat::General;
    LoadIntegers(store, core, app);
    LoadEscapement(store, core);
    LoadAudioAndMode(store, core, app);
    LoadCalibrationRun(store, app.Cal, core.Settings.SampleRate);
    LoadTexts(store, core, app);
    LoadTrim(store, core, clock);
    Read(store, {{"Stabilization", g, &p.Stabilization}, {"Tau", g, &p.Tau}});
    LoadTrain(store, core);
    Read(store, {{"PositionAveragingTime", g, &p.PositionAveragingTime},
                 {"PostTickMute", g, &p.PostTickMute},
                 {"PreTickSilence", g, &p.PreTickSilence}});
    LoadLiftAngle(store, core, refresh);
    Read(store, {{"Zoom", g, &core.Settings.Zoom},
                 {"DisplayZoom", g, &app.DisplayZoom},
                 {"MeasuringTime", g, &p.MeasuringTime},
                 {"MaxAmplitude", g, &p.MaxAmplitude}});
    {
        const auto lock = core.HoldAnalysis();
        core.Trace.Zoom = app.DisplayZoom; // the trace is drawn at the zoom the view shows
    }
    LoadCalFactors(store, core.Settings.Cal);
    Read(store, {{"AudioScale", DoubleFormat::Fixed14, &core.Settings.AudioScale}});
}

bool SaveSettings(SettingsStore& store, const AnalysisCore& core, const AppSettings& app,
                  const TimestampClock& clock) {
    store.WriteText(SettingsSection, "Profile", app.Profile);
    if (app.Profile.empty()) SaveAnalysisParameters(store, core.Params);
    SaveIntegers(store, core.Settings, app);
    SaveCalibrationRun(store, app.Cal);
    SaveTexts(store, app);
    Write(store, {{"PerformanceScaleFactor", DoubleFormat::Fixed19, clock.GetTrim()}});
    SaveDisplayAndFactors(store, core.Settings, app);
    return store.Save();
}

void MakeDefaultFileNames(AppSettings& app) {
    if (app.LogFile2.empty()) app.LogFile2 = DefaultDocumentName("log");
    if (app.TextFile2.empty()) app.TextFile2 = DefaultDocumentName("txt");
    if (app.WaveFile2.empty()) {
        const std::string data = DataFolder();
        if (!data.empty()) app.WaveFile2 = data + "cal.wav";
    }
}

} // namespace kv
