// SPDX-License-Identifier: GPL-3.0-or-later
// Full repaint of a 1920 x 1080 measuring view with every tape row filled and a full waveform
// trace, for the three kinds of tape feed (1:1, 1:100 and 10).
#include <benchmark/benchmark.h>

#include <QGuiApplication>
#include <cmath>
#include <cstdlib>

#include "TickSynthesizer.h"
#include "calibration/CalibrationState.h"
#include "ui/view/ViewRenderer.h"

namespace {

// A 28800 vph watch measured for 20 s at 96 kHz, so the trace, readouts and status rows hold
// real values.
void MeasureWatch(kv::AnalysisCore& core) {
    core.Settings.SampleRate = 96000;
    core.Settings.Centre = 0;
    core.ParseTrain("28800 vph");
    core.BeginRun();
    kv::synth::SynthOptions o;
    o.SampleRate = 96000;
    o.Seconds = 20;
    o.BeatsPerHour = 28800;
    o.RateSecondsPerDay = 12;
    o.BeatErrorMs = 0.5;
    std::vector<int16_t> samples = kv::synth::Synthesize(o).Samples;
    const size_t n = static_cast<size_t>(core.Derived.SamplesPerBuffer);
    for (size_t at = 0; at + n <= samples.size(); at += n)
        core.ProcessBuffer(n, samples.data() + at, core.Derived.CaptureBufferCount - 1);
}

// Enough entries for every row of a 1080-pixel tape at the given feed, with a wandering phase.
void FillTape(kv::AnalysisCore& core, int feed) {
    const int entries = (feed >= 1 ? 1100 * feed : 1100 / -feed) + 10;
    kv::TapeState& tape = core.Tape;
    tape.Entries.resize(static_cast<size_t>(entries) + 1);
    for (int i = 0; i < entries; ++i) {
        kv::TapeEntry& e = tape.Entries[static_cast<size_t>(i)];
        e.Time = 130000000000000000ULL + static_cast<uint64_t>(i) * 1250000ULL;
        e.Phase = 0.03 * std::sin(i / 80.0) + 1e-5 * i + (i % 2 ? 0.002 : -0.002);
    }
    tape.TapeWriteIndex = entries;
    core.Settings.SlowFeed = feed;
}

void BM_Repaint1920x1080(benchmark::State& state) {
    kv::IdleAnalysisHost host;
    kv::AnalysisCore core(host);
    MeasureWatch(core);
    FillTape(core, static_cast<int>(state.range(0)));
    core.Params.EscapeWheelTeeth = 15;
    kv::AppSettings settings;
    settings.Title = "Bench watch";
    kv::ViewDisplayState display;
    const kv::CalibrationState calibration{core.LocalStandardRun};
    kv::ViewRenderer renderer;
    QImage image;
    for (auto _ : state) {
        renderer.Render(image, QSize(1920, 1080), core, calibration, settings, display);
        benchmark::DoNotOptimize(image.constBits());
    }
}

BENCHMARK(BM_Repaint1920x1080)
    ->Arg(1)
    ->Arg(100)
    ->Arg(-10)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

} // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
