// SPDX-License-Identifier: GPL-3.0-or-later
#include "logview/model/GraphSettings.h"

#include <algorithm>
#include <optional>

#include "text/NumberText.h"

namespace kv {

namespace {

constexpr const char* kSettingsSection = "Settings"; // where the custom colours live
constexpr double kMaxFiltCoeff = 0.99;               // k = 1 would stop smoothing altogether
constexpr int kMaxPosition = 7;                      // strips 0 … 3, twice
constexpr int kMaxDerivative = 2;
constexpr int kDefaultVGrid = 10; // about ten time grid divisions

// Per-trace defaults by index.
constexpr std::array<bool, TraceCount> kEnabled = {true, true, true,  false,
                                                   true, true, false, false};
constexpr std::array<bool, TraceCount> kFilter = {true,  true,  false, false,
                                                  false, false, false, false};
constexpr std::array<double, TraceCount> kFiltCoeff = {0.5, 0.5, 0.5, 0.5, 0.5, 0.5, 0.05, 0.2};
constexpr int kDeviationTrace = 2; // the phase-like trace that wraps by default
constexpr int kAmplitudeTrace = 1; // held at the plausible balance amplitudes
constexpr double kAmplitudeMax = 340.0, kAmplitudeMin = 90.0;
constexpr std::array<int, TraceCount> kPrecision = {2, 1, 3, 1, 2, 1, 4, 1};
constexpr std::array<bool, TraceCount> kSI = {false, false, true, false, false, true, true, false};
constexpr std::array<uint32_t, TraceCount> kTraceColor = {
    Rgb(235, 35, 35), Rgb(35, 35, 255),  Rgb(0, 190, 0),    Rgb(120, 120, 0),
    Rgb(0, 180, 180), Rgb(140, 85, 195), Rgb(200, 200, 63), Rgb(235, 180, 180)};
constexpr std::array<uint32_t, TraceCount> kTraceTColor = {
    Rgb(190, 0, 0),   Rgb(0, 0, 190),    Rgb(0, 150, 0),    Rgb(90, 90, 0),
    Rgb(0, 140, 140), Rgb(100, 55, 130), Rgb(160, 160, 40), Rgb(190, 120, 120)};
constexpr uint32_t kLightGrey = Rgb(240, 240, 240);
constexpr uint32_t kWhite = Rgb(255, 255, 255);
constexpr const char* kDefaultTitle = "                       Long term performance";

// Default labels; index 6 has none and is named by its number.
constexpr std::array<const char*, TraceCount> kLabels = {"    Rate (s/d)",
                                                         "    Amplitude",
                                                         "    Deviation (sec)",
                                                         "    Temperature C",
                                                         "Average rate (s/d)",
                                                         "Beat error (sec)",
                                                         nullptr,
                                                         "Barometric pressure mB"};

std::string NumberedLabel(int index) {
    return "Trace " + std::to_string(index + 1);
}

std::string DefaultLabel(int index) {
    return kLabels[index] ? kLabels[index] : NumberedLabel(index);
}

// Every per-trace setting the defaults reset restores (the three colours stay).
void ResetTraceValues(TraceSettings& t, int index) {
    t.Enabled = kEnabled[index];
    t.Position = index;
    t.Label = DefaultLabel(index);
    t.Mag = 1.0;
    t.Ofs = 0.0;
    t.Derivative = 0;
    t.Filter = kFilter[index];
    t.FiltCoeff = kFiltCoeff[index];
    t.WrapSuppress = index == kDeviationTrace;
    t.HoldMax = t.HoldMin = index == kAmplitudeTrace;
    t.MaxHold = index == kAmplitudeTrace ? kAmplitudeMax : 100.0;
    t.MinHold = index == kAmplitudeTrace ? kAmplitudeMin : -100.0;
    t.Precision = kPrecision[index];
    t.SI = kSI[index];
    t.HGrid = 0;
    t.ROPCode = CopyPenRasterOp;
    t.BackColor = kWhite;
}

// A store key made from a template such as "Label%d" and the trace index.
std::string Key(const char* name, int index) {
    return name + std::to_string(index);
}

// The settings store's view of one section: reads keep the current value when a key is absent.
class SectionIO {
public:
    SectionIO(const SettingsStore& store, const char* section) : Store(store), Section(section) {}
    void Read(const std::string& key, int& v) const { v = Store.GetInt(Section, key, v); }
    void Read(const std::string& key, bool& v) const { v = Store.GetInt(Section, key, v) != 0; }
    void Read(const std::string& key, uint32_t& v) const {
        v = static_cast<uint32_t>(Store.GetInt(Section, key, static_cast<int32_t>(v)));
    }
    void Read(const std::string& key, double& v) const {
        const std::optional<std::string> text = Store.Document().Get(Section, key);
        if (text) v = ParseLeadingDouble(*text);
    }
    void Read(const std::string& key, std::string& v) const { v = Store.GetText(Section, key, v); }

private:
    const SettingsStore& Store;
    const char* Section;
};

class SectionWriter {
public:
    SectionWriter(SettingsStore& store, const char* section) : Store(store), Section(section) {}
    void Write(const std::string& key, int v) { Store.WriteInt(Section, key, v); }
    void Write(const std::string& key, bool v) { Store.WriteInt(Section, key, v ? 1 : 0); }
    void Write(const std::string& key, uint32_t v) {
        Store.WriteInt(Section, key, static_cast<int32_t>(v));
    }
    void Write(const std::string& key, double v) {
        Store.WriteText(Section, key, FormatC("%g", v));
    }
    void Write(const std::string& key, const std::string& v) { Store.WriteText(Section, key, v); }

private:
    SettingsStore& Store;
    const char* Section;
};

// Visits every stored field of a trace with its key, for reading and writing alike.
template <class Trace, class Visit> void ForEachTraceKey(Trace& t, int i, Visit&& visit) {
    visit(Key("TraceEnabled", i), t.Enabled);
    visit(Key("GraphTrace", i), t.Position);
    visit(Key("Label", i), t.Label);
    visit(Key("Mag", i), t.Mag);
    visit(Key("Ofs", i), t.Ofs);
    visit(Key("Derivativ", i), t.Derivative);
    visit(Key("Filter", i), t.Filter);
    visit(Key("FiltCoeff", i), t.FiltCoeff);
    visit(Key("WrapSuppress", i), t.WrapSuppress);
    visit(Key("HoldMax", i), t.HoldMax);
    visit(Key("HoldMin", i), t.HoldMin);
    visit(Key("MaxHold", i), t.MaxHold);
    visit(Key("MinHold", i), t.MinHold);
    visit(Key("Precision", i), t.Precision);
    visit(Key("SI", i), t.SI);
    visit(Key("HGrid", i), t.HGrid);
    visit(Key("ROPCode", i), t.ROPCode);
    visit(Key("TraceColor", i), t.TraceColor);
    visit(Key("TraceTColor", i), t.TraceTColor);
    visit(Key("TraceGridColor", i), t.TraceGridColor);
    visit(Key("BackColor", i), t.BackColor);
}

template <class Settings, class Visit> void ForEachViewerKey(Settings& s, Visit&& visit) {
    visit(std::string("GridColor"), s.GridColor);
    visit(std::string("LogX"), s.LogX);
    visit(std::string("VGrid"), s.VGrid);
    visit(std::string("Interval"), s.Interval);
    visit(std::string("Span"), s.Span);
    visit(std::string("Title"), s.Title);
}

void LimitStoredValues(TraceSettings& t) {
    t.Position = std::clamp(t.Position, 0, kMaxPosition);
    t.Derivative = std::clamp(t.Derivative, 0, kMaxDerivative);
    t.FiltCoeff = std::clamp(t.FiltCoeff, 0.0, kMaxFiltCoeff);
}

} // namespace

GraphSettings GraphSettings::Defaults() {
    GraphSettings s;
    for (int i = 0; i < TraceCount; ++i) {
        TraceSettings& t = s.Traces[i];
        ResetTraceValues(t, i);
        t.TraceColor = kTraceColor[i];
        t.TraceTColor = kTraceTColor[i];
        t.TraceGridColor = kLightGrey;
    }
    s.GridColor = kLightGrey;
    s.VGrid = kDefaultVGrid;
    s.Title = kDefaultTitle;
    // The palette starts with the trace colours and the first seven text colours.
    std::copy(kTraceColor.begin(), kTraceColor.end(), s.CustomColors.begin());
    std::copy(kTraceTColor.begin(), kTraceTColor.end() - 1, s.CustomColors.begin() + TraceCount);
    s.CustomColors.back() = kLightGrey;
    return s;
}

void LoadGraphSettings(const SettingsStore& store, GraphSettings& settings) {
    const SectionIO graph(store, GraphSection);
    const auto read = [&](const std::string& key, auto& value) { graph.Read(key, value); };
    for (int i = 0; i < TraceCount; ++i) {
        ForEachTraceKey(settings.Traces[i], i, read);
        LimitStoredValues(settings.Traces[i]);
    }
    ForEachViewerKey(settings, read);
    const SectionIO custom(store, kSettingsSection);
    for (int i = 0; i < CustomColorCount; ++i)
        custom.Read(Key("CustomColor", i), settings.CustomColors[i]);
}

void SaveGraphSettings(SettingsStore& store, const GraphSettings& settings) {
    SectionWriter graph(store, GraphSection);
    const auto write = [&](const std::string& key, const auto& value) { graph.Write(key, value); };
    for (int i = 0; i < TraceCount; ++i)
        ForEachTraceKey(settings.Traces[i], i, write);
    ForEachViewerKey(settings, write);
    SectionWriter custom(store, kSettingsSection);
    for (int i = 0; i < CustomColorCount; ++i)
        custom.Write(Key("CustomColor", i), settings.CustomColors[i]);
}

void ResetTraceDefaults(GraphSettings& settings, TraceResults& state) {
    settings.VGrid = kDefaultVGrid;
    for (int i = 0; i < TraceCount; ++i) {
        ResetTraceValues(settings.Traces[i], i);
        state[i].FilterSeedA = state[i].FilterSeedB = NoValue;
        state[i].Integral = 0.0;
    }
}

} // namespace kv
