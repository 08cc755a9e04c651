// SPDX-License-Identifier: GPL-3.0-or-later
// A day of a synthetic watch at 44.1 kHz, streamed piece by piece, with precision timing: no 8 s
// reading strays. Minutes of computing: labelled "long".
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <iostream>

#include "TickSynthesizer.h"
#include "audio/SoundFile.h"
#include "cli/AnalyzeSession.h"

namespace kv {
namespace {

constexpr unsigned Rate = 44100;
constexpr double NominalBeat = 0.2;     // 18000 vph
constexpr int64_t BeatsPerPiece = 3000; // ten minutes
constexpr int64_t SamplesShort = 100;   // the piece is this much shorter than nominal ...
constexpr int64_t PieceSamples = BeatsPerPiece * 8820 - SamplesShort; // ... so the watch gains
constexpr double Day = 86400.0;

// Repeats one piece that holds a whole number of beats, so that its joins are seamless.
class LoopedPiece : public MonoSampleStream {
public:
    LoopedPiece(std::vector<int16_t> piece, int64_t total) : Piece(std::move(piece)), Left(total) {}
    unsigned SampleRate() const override { return Rate; }
    size_t Read(int16_t* out, size_t count) override {
        size_t done = 0;
        while (done < count && Left > 0) {
            const size_t n =
                std::min({count - done, Piece.size() - Position, static_cast<size_t>(Left)});
            std::copy_n(Piece.begin() + static_cast<std::ptrdiff_t>(Position), n, out + done);
            done += n;
            Left -= static_cast<int64_t>(n);
            Position = (Position + n) % Piece.size();
        }
        return done;
    }

private:
    std::vector<int16_t> Piece;
    int64_t Left;
    size_t Position = 0;
};

TEST(LongPrecision, ADayAt44kHzHasNoStrayWindow) {
    const double actualBeat = static_cast<double>(PieceSamples) / BeatsPerPiece / Rate;
    const double truth = (NominalBeat / actualBeat - 1.0) * Day;
    synth::SynthOptions o;
    o.SampleRate = Rate;
    o.RateSecondsPerDay = (1.0 - actualBeat / NominalBeat) * Day;
    o.BeatErrorMs = 0.5;
    o.Seconds = static_cast<double>(PieceSamples) / Rate + 1.0;
    o.StartOffset = 0.1;
    std::vector<int16_t> piece = synth::Synthesize(o).Samples;
    ASSERT_GE(piece.size(), static_cast<size_t>(PieceSamples));
    piece.resize(static_cast<size_t>(PieceSamples));

    LoopedPiece stream(std::move(piece), static_cast<int64_t>(Day * Rate));
    AnalyzeOptions a;
    a.Train = "18000";
    a.Every = 8.0;
    a.Precise = 1;
    AnalyzeSession session(a);
    int windows = 0, stray = 0;
    double worst = 0.0;
    Reading last;
    session.Run(stream, [&](const Reading& r) {
        last = r;
        if (!r.RateWindowFull || !r.RateSecondsPerDay) return;
        ++windows;
        const double error = std::fabs(*r.RateSecondsPerDay - truth);
        worst = std::max(worst, error);
        if (error > 0.1) ++stray;
    });
    ASSERT_TRUE(last.RefinedTicks && last.FallbackTicks);
    std::cout << "windows " << windows << ", worst 8 s rate error " << worst << " s/d, ticks "
              << last.Ticks << ", refined " << *last.RefinedTicks << ", kept the detected time "
              << *last.FallbackTicks << ", accumulated rate error "
              << std::fabs(last.AccumulatedRateSecondsPerDay.value_or(NAN) - truth) << " s/d\n";
    EXPECT_GT(windows, 10000);
    EXPECT_EQ(stray, 0);
}

} // namespace
} // namespace kv
