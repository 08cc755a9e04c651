// SPDX-License-Identifier: GPL-3.0-or-later
// A full render of the log viewer, as at every refresh while a log is followed: read, process
// and draw at 1920x1080, for a day at a 1 s interval and a week at 10 s.
#include <benchmark/benchmark.h>

#include <QGuiApplication>
#include <QImage>
#include <cstdlib>

#include "BenchLogs.h"
#include "logview/model/GraphModel.h"
#include "ui/logview/GraphRenderer.h"

using namespace kv_bench;

namespace {

constexpr int kScreenWidth = 1920;
constexpr int kScreenHeight = 1080;

void Render(benchmark::State& state, int records, int interval) {
    const std::string& path = LogFile(records, interval);
    const kv::GraphSettings settings = kv::GraphSettings::Defaults();
    kv::GraphModel model;
    kv::GraphRenderer renderer;
    QImage image(kScreenWidth, kScreenHeight, QImage::Format_RGB32);
    for (auto _ : state) {
        if (renderer.Render(image, model, settings, path) != kv::GraphLoadStatus::Loaded ||
            model.Records.size() != static_cast<size_t>(records))
            state.SkipWithError("the log was not read whole");
        benchmark::DoNotOptimize(image.constBits());
    }
    state.SetItemsProcessed(state.iterations() * records);
}

void BM_RenderDayAt1s(benchmark::State& s) {
    Render(s, kDayRecords, 1);
}
void BM_RenderWeekAt10s(benchmark::State& s) {
    Render(s, kWeekRecords, 10);
}

BENCHMARK(BM_RenderDayAt1s)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RenderWeekAt10s)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0); // draws off-screen; no display needed
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
