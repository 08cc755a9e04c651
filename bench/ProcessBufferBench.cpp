// SPDX-License-Identifier: GPL-3.0-or-later
// Throughput of the per-buffer analysis on a synthetic 96 kHz lever watch.
#include <benchmark/benchmark.h>

#include "TickSynthesizer.h"
#include "cli/AnalyzeSession.h"

namespace {

const std::vector<int16_t>& Recording() {
    static const std::vector<int16_t> samples = [] {
        kv::synth::SynthOptions o;
        o.SampleRate = 96000;
        o.Seconds = 20;
        o.BeatsPerHour = 28800;
        o.RateSecondsPerDay = 4;
        o.BeatErrorMs = 0.5;
        return kv::synth::Synthesize(o).Samples;
    }();
    return samples;
}

void ProcessBuffer(benchmark::State& state, int hpf, bool showTrace, int precise = 0,
                   int autoThreshold = 0) {
    kv::IdleAnalysisHost host;
    kv::AnalysisCore core(host);
    core.Settings.SampleRate = 96000;
    core.Settings.HPF = hpf;
    core.Settings.PrecisionTiming = precise;
    core.Settings.AutoThreshold = autoThreshold;
    core.Trace.Shown = showTrace;
    core.ParseTrain("28800 vph");
    core.BeginRun();
    const std::vector<int16_t>& source = Recording();
    const size_t n = static_cast<size_t>(core.Derived.SamplesPerBuffer);
    std::vector<int16_t> buffer(n);
    size_t position = 0;
    for (auto _ : state) {
        if (position + n > source.size()) position = 0;
        std::copy_n(source.begin() + static_cast<std::ptrdiff_t>(position), n, buffer.begin());
        core.ProcessBuffer(n, buffer.data(), core.Derived.CaptureBufferCount - 1);
        position += n;
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * n));
    state.counters["x_realtime"] = benchmark::Counter(
        static_cast<double>(state.iterations() * n) / 96000.0, benchmark::Counter::kIsRate);
    // The share of ticks precision timing refined: shows that the refiner ran, not just its switch.
    if (precise != 0 && core.Detector.UnlockCount > 0)
        state.counters["refined"] = static_cast<double>(core.Refiner.RefinedTicks()) /
                                    static_cast<double>(core.Detector.UnlockCount);
}

void BM_ProcessBuffer_HighPass(benchmark::State& s) {
    ProcessBuffer(s, 1, false);
}
void BM_ProcessBuffer_HighPassWithTrace(benchmark::State& s) {
    ProcessBuffer(s, 1, true);
}
void BM_ProcessBuffer_DcBlocker(benchmark::State& s) {
    ProcessBuffer(s, 0, false);
}
// Precision timing adds a store per sample and a correlation per tick.
void BM_ProcessBuffer_HighPassPrecise(benchmark::State& s) {
    ProcessBuffer(s, 1, false, 1);
}

// The command line's default: precision timing and the automatic threshold, which adds a block
// sum per sample and a quantile per buffer.
void BM_ProcessBuffer_CommandLineDefault(benchmark::State& s) {
    ProcessBuffer(s, 1, false, 1, 1);
}

BENCHMARK(BM_ProcessBuffer_HighPass);
BENCHMARK(BM_ProcessBuffer_HighPassWithTrace);
BENCHMARK(BM_ProcessBuffer_DcBlocker);
BENCHMARK(BM_ProcessBuffer_HighPassPrecise);
BENCHMARK(BM_ProcessBuffer_CommandLineDefault);

} // namespace

BENCHMARK_MAIN();
