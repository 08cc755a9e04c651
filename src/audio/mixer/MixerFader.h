// SPDX-License-Identifier: GPL-3.0-or-later
// A slider bound to one mixer volume: CMixer binds to the control and keeps its values, CMixerFader
// adds the slider arithmetic. Dragging the slider writes the control with the channel balance
// kept; a change of the control made elsewhere moves the slider, except the echo of this fader's
// own write. Everything that goes wrong is collected as diagnostic text.
//
// Values are handled on a 0..65535 scale whatever the control's raw range, so the automatic level
// control and the slider arithmetic work the same on every card.
//
// Threads: used only on the user-interface thread.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "audio/mixer/MixerControl.h"

namespace kv {

// The top of the value scale.
inline constexpr int MixerFullScale = 65535;

class CMixer {
public:
    // `tickCountMs` is the millisecond clock of the echo suppression; empty uses the monotonic one.
    explicit CMixer(MixerControl& control, std::function<uint32_t()> tickCountMs = {});
    virtual ~CMixer();
    CMixer(const CMixer&) = delete;
    CMixer& operator=(const CMixer&) = delete;

    std::string DeviceName; // the mixer device to open ("hw:0", "pulse", "default")

    // Opens the device and binds to the control of the given line; false on failure, with the
    // reason appended to the diagnostic text and the mixer closed.
    bool Bind(int destinationType, int sourceType, MixerControlType controlType);
    void Close();
    bool IsOpen() const { return Open; }
    // The last Bind failed because there is nothing to bind: no mixer device, no such line or no
    // volume on it (rather than a mixer that could not be opened or read).
    bool MissingControl() const { return NoSuchControl; }

    const std::string& DiagnosticText() const { return Diagnostic; }
    const std::string& DestinationLineName() const { return DestinationName; }
    const std::string& LineName() const { return Line.Name; }
    const std::string& LineShortName() const { return Line.ShortName; }
    int Channels() const { return Line.Channels; }
    // The control's per-channel values on the 0..65535 scale, as last read or written.
    const std::vector<uint32_t>& Values() const { return Value; }
    // File descriptors to watch for the control's change events; empty while unbound.
    std::vector<int> PollDescriptors() const;

protected:
    bool ReadValues();
    bool WriteValues(const std::vector<uint32_t>& values);
    void Fail(const std::string& text); // appends and closes
    void Append(const std::string& text) { Diagnostic += text; }
    uint32_t Now() const;
    long RawSteps() const { return Range.Steps; }

    MixerControl& Control;
    std::string Diagnostic;
    std::optional<uint32_t> LastWriteTime; // none before the first write
    std::vector<uint32_t> Value;

private:
    std::function<uint32_t()> TickCountMs;
    bool Open = false;
    bool NoSuchControl = false;
    std::string DestinationName;
    MixerLine Line;
    MixerRange Range;
};

class CMixerFader : public CMixer {
public:
    static constexpr int FaderMain = 2; // one slider for all channels of the line
    // A change event this soon after the fader's own write is its echo and is ignored.
    static constexpr uint32_t EchoWindowMs = 50;
    // The slider never has more positions than this: a finer slider adds nothing a hand can set,
    // and the automatic level control moves one position per buffer.
    static constexpr long MostSliderSteps = 100;

    CMixerFader(MixerControl& control, bool vertical, std::function<uint32_t()> tickCountMs = {});

    // Binds the slider to the control: clears the diagnostic text and disables the slider first;
    // on success the slider is enabled and shows the control.
    bool Bind(int destinationType, int sourceType, MixerControlType controlType,
              int faderType = FaderMain);
    bool Bound() const { return IsOpen() && !Value.empty(); }

    // The slider model the window's slider mirrors.
    int SliderPosition() const { return Position; }
    int SliderMaximum() const { return Steps; }
    bool SliderEnabled() const { return Enabled; }
    bool Vertical() const { return IsVertical; }
    // Called whenever position, range or enabled state changed.
    std::function<void()> SliderChanged;

    // The user moved the slider to `position`: the control follows.
    void OnSliderScrolled(int position);
    // The mixer's descriptors are readable: takes the events and follows an outside change.
    void OnMixerEvent();

    int UnitsPerStep() const { return StepUnits; }
    double Balance() const { return ChannelBalance; }
    // The level the slider stands for (0..65535), and setting it: slider and control both move.
    int Level() const;
    void SetLevel(int level);

private:
    void ControlToSlider();
    void SetSlider(int position, bool enabled);
    int ValueToPosition(uint32_t value) const;

    bool IsVertical;
    int Steps = 0;
    int StepUnits = 0;
    double ChannelBalance = 0.0;
    int Position = 0;
    bool Enabled = false;
};

} // namespace kv
