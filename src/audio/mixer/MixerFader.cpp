// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/mixer/MixerFader.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <new>

namespace kv {

namespace {

// A raw control value on the 0..65535 scale, and back.
uint32_t ToScale(long raw, const MixerRange& range) {
    const double span = static_cast<double>(range.Maximum - range.Minimum);
    const double scaled = std::round((raw - range.Minimum) * MixerFullScale / span);
    return static_cast<uint32_t>(std::clamp(scaled, 0.0, static_cast<double>(MixerFullScale)));
}

long FromScale(uint32_t value, const MixerRange& range) {
    const double span = static_cast<double>(range.Maximum - range.Minimum);
    return range.Minimum + std::lround(value * span / MixerFullScale);
}

} // namespace

CMixer::CMixer(MixerControl& control, std::function<uint32_t()> tickCountMs)
    : Control(control), TickCountMs(std::move(tickCountMs)) {}

CMixer::~CMixer() {
    Close();
}

uint32_t CMixer::Now() const {
    if (TickCountMs) return TickCountMs();
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

void CMixer::Close() {
    if (Open) Control.Close();
    Open = false;
    Value.clear();
}

void CMixer::Fail(const std::string& text) {
    Append(text);
    Close();
}

bool CMixer::Bind(int destinationType, int sourceType, MixerControlType controlType) {
    NoSuchControl = false;
    if (!Control.DevicePresent(DeviceName)) {
        NoSuchControl = true;
        Append("No mixer device present.\r\n");
        return false;
    }
    Close();
    if (!Control.Open(DeviceName)) {
        Append("Could not open mixer device\r\n");
        return false;
    }
    Open = true;
    if (!Control.FindDestination(destinationType)) {
        NoSuchControl = true;
        Fail("Warning: the destination line was not found.\r\n");
        return false;
    }
    DestinationName = Control.DestinationName();
    if (sourceType != SourceNone && !Control.FindSource(sourceType)) {
        NoSuchControl = true;
        Fail("The source line was not found.\r\n");
        return false;
    }
    Line = Control.Line();
    if (!Line.HasVolume) {
        NoSuchControl = true;
        Fail("No controls available for this audio line");
        return false;
    }
    if (controlType != MixerControlType::Volume || !Control.VolumeRange(Range)) {
        Fail("CMixer::Init - mixerGetLineControls failed\n");
        return false;
    }
    if (Range.Maximum <= Range.Minimum || Range.Steps < 1) {
        Fail("Control uses unknown units\r\n");
        return false;
    }
    try {
        Value.assign(static_cast<size_t>(std::max(Line.Channels, 0)), 0);
    } catch (const std::bad_alloc&) {
        Fail("Memory allocation error.\r\n");
        return false;
    }
    return true;
}

std::vector<int> CMixer::PollDescriptors() const {
    return Open ? Control.PollDescriptors() : std::vector<int>{};
}

bool CMixer::ReadValues() {
    std::vector<long> raw;
    if (!Control.Read(raw) || raw.size() != Value.size()) return false;
    for (size_t i = 0; i < raw.size(); ++i)
        Value[i] = ToScale(raw[i], Range);
    return true;
}

bool CMixer::WriteValues(const std::vector<uint32_t>& values) {
    std::vector<long> raw(values.size());
    for (size_t i = 0; i < values.size(); ++i)
        raw[i] = FromScale(values[i], Range);
    if (!Control.Write(raw)) {
        Append("CMixer::SetMixerControlValue mixerSetControlDetails error\n");
        return false;
    }
    Value = values;
    LastWriteTime = Now();
    return true;
}

// --- CMixerFader ---

CMixerFader::CMixerFader(MixerControl& control, bool vertical,
                         std::function<uint32_t()> tickCountMs)
    : CMixer(control, std::move(tickCountMs)), IsVertical(vertical) {}

bool CMixerFader::Bind(int destinationType, int sourceType, MixerControlType controlType,
                       int faderType) {
    Diagnostic.clear();
    SetSlider(Position, false);
    if (controlType != MixerControlType::Volume) {
        Fail("Wrong control type for a fader control\r\n");
        return false;
    }
    if (!CMixer::Bind(destinationType, sourceType, controlType)) return false;
    (void)faderType; // only the main fader, one slider for all channels, is offered
    Steps = static_cast<int>(std::min(RawSteps(), MostSliderSteps));
    StepUnits = MixerFullScale / Steps;
    if (Value.empty()) {
        Fail("Null value pointer\r\n");
        return false;
    }
    if (!ReadValues()) {
        Fail("GetMixerControlDetails error\nGetMixerControlDetails() error\r\n");
        return false;
    }
    Enabled = true;
    ControlToSlider();
    return true;
}

int CMixerFader::ValueToPosition(uint32_t value) const {
    const int position = std::min(static_cast<int>(value) / StepUnits, Steps);
    return IsVertical ? Steps - position : position;
}

void CMixerFader::ControlToSlider() {
    const uint32_t left = Value.front();
    const uint32_t right = Value.size() > 1 ? Value[1] : left;
    const uint32_t x = std::max(left, right);
    if (Value.size() == 2 && x > 0)
        ChannelBalance = (static_cast<double>(right) - static_cast<double>(left)) / x;
    SetSlider(ValueToPosition(x), true);
}

void CMixerFader::SetSlider(int position, bool enabled) {
    if (position == Position && enabled == Enabled) return;
    Position = position;
    Enabled = enabled;
    if (SliderChanged) SliderChanged();
}

void CMixerFader::OnSliderScrolled(int position) {
    if (!Bound()) {
        Append(IsVertical ? "Error: Not initialised?\r\n" : "Error: Fader not initialised\r\n");
        return;
    }
    Position = std::clamp(position, 0, Steps);
    const double v = static_cast<double>((IsVertical ? Steps - Position : Position) * StepUnits);
    std::vector<uint32_t> values(Value.size(), static_cast<uint32_t>(v));
    if (Value.size() == 2) {
        const double b = ChannelBalance;
        values[0] = static_cast<uint32_t>(b > 0 ? v * (1.0 - b) : v);
        values[1] = static_cast<uint32_t>(b > 0 ? v : v * (1.0 + b));
    }
    WriteValues(values);
}

// A mixer that is gone is closed, so its descriptors are no longer watched and the slider is
// disabled until the next binding.
void CMixerFader::OnMixerEvent() {
    if (!Bound()) return;
    const MixerEvents events = Control.HandleEvents();
    if (events == MixerEvents::Lost) {
        Append("MM_MIXM_CONTROL_CHANGE --- error\r\n");
        Close();
        SetSlider(Position, false);
        return;
    }
    if (events != MixerEvents::Changed) return;
    if (LastWriteTime && Now() - *LastWriteTime < EchoWindowMs) return;
    if (!ReadValues()) {
        Append("MM_MIXM_CONTROL_CHANGE --- error\r\n");
        return;
    }
    ControlToSlider();
}

int CMixerFader::Level() const {
    if (!Bound()) return 0;
    return (IsVertical ? Steps - Position : Position) * StepUnits;
}

void CMixerFader::SetLevel(int level) {
    if (!Bound()) return;
    const int position =
        ValueToPosition(static_cast<uint32_t>(std::clamp(level, 0, MixerFullScale)));
    SetSlider(position, true);
    OnSliderScrolled(position);
}

} // namespace kv
