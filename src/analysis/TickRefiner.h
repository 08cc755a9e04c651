// SPDX-License-Identifier: GPL-3.0-or-later
// Sub-sample timing of detected unlocks. The detector times an unlock at the first sample over the
// threshold, which rounds the time to a whole sample and jumps by a sample whenever the threshold
// meets a different half-cycle of the click. The refiner keeps, per pallet, a template of the
// filtered waveform around the unlock averaged over many ticks; each new tick is cross-correlated
// with its pallet's template over a search of less than half a ringing period (centred on the
// time the pallet's previous ticks predict, at most a sample from the detected time), and the
// correlation peak is refined to a fraction of a sample by a parabola through its neighbours. A
// tick whose correlation is weak, or whose refined time disagrees with the time its pallet's
// neighbours predict, keeps its detected time.
//
// Used by AnalysisCore on the capture thread under AnalysisLock only. Push runs once per sample:
// it stores into preallocated storage and never allocates, locks or calls virtually; the
// correlation runs once per tick in Refine.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace kv {

class TickRefiner {
public:
    struct Result {
        double Shift = 0.0;    // samples to add to the detected unlock
        bool Refined = false;  // false: the detected time stands
        bool Learning = false; // the pallet's template is not yet trusted
    };

    // Sizes the windows for the sample rate; allocates only when the rate changes. Forgets the
    // templates when it does.
    void Configure(unsigned sampleRate);
    bool Configured() const { return SampleRate != 0; }
    // Forgets the templates and the neighbour history (a new tick sequence begins).
    void Reset();
    // Forgets the neighbour history only (the sound's phase broke, the pallets' sounds did not).
    void ForgetNeighbours();

    // Stores filtered sample `y` at absolute index `sample`.
    void Push(int64_t sample, double y) { Ring[static_cast<size_t>(sample) & RingMask] = y; }
    // Samples needed after the detected unlock before Refine can run.
    int SamplesAfterUnlock() const { return Delay + Length + MaxSearch + 1; }
    // Samples needed after a detected unlock before Onset can look `ahead` samples past it and
    // Refine can run on any onset it finds.
    int SamplesAfterOnsetSearch(int ahead) const {
        return std::min(ahead, MaxAhead) + SamplesAfterUnlock() + 1;
    }
    // The longest look ahead Onset takes.
    int LongestLookAhead() const { return MaxAhead; }
    // Constant-fraction timing of the tick detected at `unlock`, in samples. The tick's start is
    // found back from the detected unlock through its sound (its smoothed envelope above a few
    // times `noiseRms`, the noise floor of the rectified signal, or of the quietest part seen
    // when that is 0); of the events in the `ahead` samples after the start, the first that
    // comes near the loudest is timed where its envelope rose through half its own peak. It
    // depends neither on the level nor on the event of the tick the threshold caught, so both
    // pallets are timed from the same part of their sound. Nothing when no start is clear.
    std::optional<double> Onset(int64_t unlock, int ahead, double noiseRms);
    // Refines the unlock detected at `unlock`, beat number `beat` (its parity is the pallet).
    // Call once the sample at unlock + SamplesAfterUnlock() has been pushed.
    Result Refine(int64_t unlock, int64_t beat);

    int64_t RefinedTicks() const { return RefinedCount; }
    int64_t FallbackTicks() const { return FallbackCount; }

private:
    struct Pallet {
        std::vector<double> Template; // Length points from Delay after the unlock
        double Energy = 0.0;
        int Ticks = 0;         // ticks averaged into the template
        int SearchLimit = 1;   // samples either way; less than half the ringing period
        int64_t LastBeat[2]{}; // the two latest final tick times, newest first
        double LastTime[2]{};  // (in samples) with their beat numbers
        int Known = 0;         // how many of those are valid
        int Strays = 0;        // successive ticks that disagreed with the neighbours
        double Offset = 0.0;   // samples from the template's position to the mean detected time
    };

    struct Peak {
        int Lag = 0;         // whole samples from the detected unlock
        double Value = 0.0;  // correlation there
        double Left = 0.0;   // ... one sample earlier
        double Right = 0.0;  // ... one sample later
        bool Strong = false; // the normalised correlation is high enough

        double Curvature() const { return Left - 2.0 * Value + Right; }
        // Strong, and a true maximum: higher than both neighbours (the search's edge included).
        bool Refinable() const {
            return Strong && Curvature() < 0.0 && Value >= Left && Value >= Right;
        }
        // The lag refined by a parabola through the peak and its neighbours.
        double Shift() const { return Lag + 0.5 * (Left - Right) / Curvature(); }
    };
    // The most lags a search takes (both sides, plus one either way for the parabola).
    static constexpr int MaxLags = 64;

    Peak FindPeak(const Pallet& p, int64_t start) const;
    double At(int64_t sample) const { return Ring[static_cast<size_t>(sample) & RingMask]; }
    double Correlate(const Pallet& p, int64_t start) const;
    double WindowEnergy(int64_t start) const;
    void Learn(Pallet& p, int64_t start);
    static int HalfRingingPeriod(const std::vector<double>& t);
    static std::optional<double> Predict(const Pallet& p, int64_t beat);
    bool AgreesWithNeighbours(const Pallet& p, int64_t beat, double time) const;
    int SearchCentre(const Pallet& p, int64_t unlock, int64_t beat) const;
    static void Remember(Pallet& p, int64_t beat, double time);

    unsigned SampleRate = 0;
    int Lookback = 0;            // samples before the detected unlock the onset may lie
    int Gap = 1;                 // samples a tick's sound may dip under the noise between events
    int MaxAhead = 0;            // samples after it the onset search may look
    int Smoothing = 1;           // samples of the onset envelope's moving RMS
    std::vector<double> Scratch; // the onset envelope; sized once per sample rate
    int Delay = 0;               // samples from the detected unlock to the template's start
    int Length = 0;              // template points
    int MaxSearch = 0;
    std::vector<double> Ring;
    size_t RingMask = 0;
    std::array<Pallet, 2> Pallets;
    int64_t RefinedCount = 0;
    int64_t FallbackCount = 0;
};

} // namespace kv
