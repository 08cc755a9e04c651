// SPDX-License-Identifier: GPL-3.0-or-later
// The progress line of kestrovane-analyze on standard error: how much of the recording has been
// analysed and the time left, rewritten in place (carriage return) and ended with a newline.
// Only for a person watching a terminal, and only for a file that takes a while: nothing is
// written when standard error is not a terminal, with --quiet, or when the file is done within
// the first second. The decisions are made from the counts and times given, so they are tested
// with fake times and a fake terminal.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace kv {

class AnalyzeProgress {
public:
    // No line is shown for this long after the start, so a quick file writes nothing.
    static constexpr double DelaySeconds = 1.0;
    // The line is rewritten at most this often.
    static constexpr double RefreshSeconds = 0.25;

    // `terminal`: standard error is a terminal; `quiet`: --quiet. `totalSamples` is the length
    // of the recording when known, `sampleRate` its rate (for the sound's own time when not).
    AnalyzeProgress(bool terminal, bool quiet, std::optional<uint64_t> totalSamples,
                    unsigned sampleRate);

    // After `doneSamples` have been analysed, `elapsedSeconds` after the start: what to write
    // to standard error now (often nothing).
    std::string Update(uint64_t doneSamples, double elapsedSeconds);
    // Before a line goes to standard output, which may be the same terminal: what takes the
    // progress line off the screen (nothing when none is shown). The next refresh draws it again.
    std::string Clear();
    // At the end of the file: the last line with its newline, when a line was ever shown.
    std::string Finish(uint64_t doneSamples, double elapsedSeconds);

    // "0:07", "12:34", "1:02:03": whole seconds, rounded up.
    static std::string Duration(double seconds);

private:
    std::string Draw(const std::string& text);
    std::string Text(uint64_t doneSamples, double elapsedSeconds) const;

    bool Enabled;
    std::optional<uint64_t> Total;
    unsigned Rate;
    bool EverShown = false;
    bool OnScreen = false;    // the cursor is at the end of a progress line
    size_t ShownLength = 0;   // of the line on the screen, for blanking what a shorter one leaves
    double LastDraw = -1e300; // elapsed seconds at the last drawing
};

} // namespace kv
