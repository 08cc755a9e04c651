// SPDX-License-Identifier: GPL-3.0-or-later
// The log viewer's settings: eight trace descriptions and the viewer-wide values, with their
// defaults, their keys in the settings store (section "Graph"; the custom colours in "Settings")
// and the defaults reset. Used on the user-interface thread only.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "logview/model/GraphTypes.h"
#include "settings/SettingsStore.h"

namespace kv {

inline constexpr const char* GraphSection = "Graph";
inline constexpr int CustomColorCount = 16;
inline constexpr int CopyPenRasterOp = 13; // draw the pen's colour as it is

// Colours are 0x00BBGGRR: red in the low byte.
constexpr uint32_t Rgb(unsigned red, unsigned green, unsigned blue) {
    return red | (green << 8) | (blue << 16);
}

enum class DerivativeMode { Plain = 0, Slope = 1, Integral = 2 };

struct TraceSettings {
    bool Enabled = false;      // TraceEnabled%d: processed and drawn
    int Position = 0;          // GraphTrace%d: strip 0 … 3, 4 … 7 with the scale on the right
    std::string Label;         // Label%d
    double Mag = 1.0;          // Mag%d: a value v is shown as Mag · v + Ofs
    double Ofs = 0.0;          // Ofs%d
    int Derivative = 0;        // Derivativ%d: a DerivativeMode
    bool Filter = false;       // Filter%d: low-pass filter on
    double FiltCoeff = 0.5;    // FiltCoeff%d: 0 … 0.99, larger follows faster
    bool WrapSuppress = false; // WrapSuppress%d: a phase wrapping within the held range
    bool HoldMax = false;      // HoldMax%d: scale top held at MaxHold
    bool HoldMin = false;      // HoldMin%d: scale bottom held at MinHold
    double MaxHold = 100.0;    // MaxHold%d
    double MinHold = -100.0;   // MinHold%d
    int Precision = 2;         // Precision%d: decimals of the scale texts, negative for "%g"
    bool SI = false;           // SI%d: scale texts with k, M, m, u … prefixes
    int HGrid = 0;             // HGrid%d: horizontal grid lines, 0 for none
    int ROPCode = CopyPenRasterOp;
    uint32_t TraceColor = 0;     // TraceColor%d
    uint32_t TraceTColor = 0;    // TraceTColor%d: text colour
    uint32_t TraceGridColor = 0; // TraceGridColor%d
    uint32_t BackColor = 0;      // BackColor%d

    DerivativeMode Mode() const { return static_cast<DerivativeMode>(Derivative); }
    // The strip 0 … 3 and whether the scale is on the right.
    int Strip() const { return Position > 3 ? Position - 4 : Position; }
    bool ScaleOnRight() const { return Position > 3; }
};

struct GraphSettings {
    std::array<TraceSettings, TraceCount> Traces;
    uint32_t GridColor = 0; // time grid and tag lines
    bool LogX = false;      // logarithmic time axis
    int VGrid = 0;          // about this many time grid divisions; 0 for none
    int Interval = 0;       // refresh timer, seconds; 0 for none
    int Span = 0;           // minutes of the newest data shown when nothing is marked; 0 all
    std::string Title;
    std::array<uint32_t, CustomColorCount> CustomColors{};

    // Every value at its default, as when the viewer is built.
    static GraphSettings Defaults();
};

// Reads every key; a missing key keeps the value `settings` holds. Positions are limited to
// 0 … 7, derivative modes to 0 … 2 and filter coefficients to 0 … 0.99, so a hand-edited store
// cannot send the drawing outside its strips or the filter into instability.
void LoadGraphSettings(const SettingsStore& store, GraphSettings& settings);

// Writes every key into the store (the caller saves the store file).
void SaveGraphSettings(SettingsStore& store, const GraphSettings& settings);

// The defaults reset of the viewer: VGrid and every per-trace setting except the trace, text and
// grid colours go back to their defaults; the filter seeds and running integrals of `state` are
// cleared. Setting the image stale and saving are the window's.
void ResetTraceDefaults(GraphSettings& settings, TraceResults& state);

} // namespace kv
