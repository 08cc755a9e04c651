// SPDX-License-Identifier: GPL-3.0-or-later
// The log viewer's read and processing of a whole log, as at every render: a day at a 1 s
// interval (86 400 records) and a week at 10 s (60 480), with and without a spectrum; and the
// section deletion, for which the log writer waits.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "BenchLogs.h"
#include "logview/format/LogSection.h"
#include "logview/model/GraphModel.h"

namespace {

using namespace kv_bench;

void Load(benchmark::State& state, int records, int interval, int spectrumTrace) {
    const std::string& path = LogFile(records, interval);
    const kv::GraphSettings settings = kv::GraphSettings::Defaults();
    kv::GraphModel model;
    model.SpectrumTrace = spectrumTrace;
    for (auto _ : state) {
        if (model.LoadGraphData(path, settings) != kv::GraphLoadStatus::Loaded ||
            model.Records.size() != static_cast<size_t>(records))
            state.SkipWithError("the log was not read whole");
        model.ApplySpan(settings.Span);
        benchmark::DoNotOptimize(model.Records.data());
    }
    state.SetItemsProcessed(state.iterations() * records);
}

void BM_LoadDayAt1s(benchmark::State& s) {
    Load(s, kDayRecords, 1, -1);
}
void BM_LoadDayAt1sWithSpectrum(benchmark::State& s) {
    Load(s, kDayRecords, 1, 0);
}
void BM_LoadWeekAt10s(benchmark::State& s) {
    Load(s, kWeekRecords, 10, -1);
}
void BM_LoadWeekAt10sWithSpectrum(benchmark::State& s) {
    Load(s, kWeekRecords, 10, 0);
}

// Cutting the first hour out of a day's log (restored before each run, not timed).
void BM_DeleteSectionOfDay(benchmark::State& state) {
    const std::string original = MakeLog(kDayRecords, 1);
    const std::string path =
        (std::filesystem::temp_directory_path() / "kv-bench-delete.log").string();
    std::string error;
    for (auto _ : state) {
        state.PauseTiming();
        std::ofstream(path, std::ios::binary | std::ios::trunc) << original;
        state.ResumeTiming();
        if (kv::DeleteLogSection(path, kStart, kStart + 3600, error) !=
            kv::SectionDeletion::Deleted)
            state.SkipWithError(error.c_str());
    }
    std::filesystem::remove(path);
}

BENCHMARK(BM_LoadDayAt1s)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadDayAt1sWithSpectrum)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadWeekAt10s)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadWeekAt10sWithSpectrum)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DeleteSectionOfDay)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
