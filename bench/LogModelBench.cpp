// The log viewer's read and processing of a whole log, as at every render: a day at a 1 s
// interval (86 400 records) and a week at 10 s (60 480), with and without a spectrum; and the
// section deletion, for which the log writer waits.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "logview/format/LogEncoding.h"
#include "logview/format/LogSection.h"
#include "logview/model/GraphModel.h"

namespace {

constexpr int64_t kStart = 1351951509;       // 2012-11-03 14:05:09 UTC
constexpr int kDatedEvery = 10;              // the writer's date text on every tenth record
constexpr int kDayRecords = 86400;           // a day at 1 s
constexpr int kWeekRecords = 7 * 86400 / 10; // a week at 10 s

// A UTF-16 log as the writer makes it, its readings drifting slowly.
std::string MakeLog(int records, int interval) {
    std::string text;
    text.reserve(static_cast<size_t>(records) * 72);
    for (int i = 0; i < records; ++i) {
        const double hours = i * interval / 3600.0;
        char line[160];
        std::snprintf(line, sizeof line, "%lld\t%g\t%g\t%g\t0\t%g\t%g\t0",
                      static_cast<long long>(kStart + int64_t{i} * interval),
                      4.0 + 3.0 * std::sin(hours), 280.0 - hours / 10, 0.2 * hours,
                      3.9 + 0.1 * std::cos(hours), 0.0003);
        text += line;
        if (i % kDatedEvery == 0) text += "\t;03/11/12 14:05:09";
        text += "\r\n";
    }
    return kv::Utf16LeFromUtf8(text);
}

// The log in a file of its own, removed at exit.
const std::string& LogFile(int records, int interval) {
    static std::string paths[2];
    std::string& path = paths[interval == 1 ? 0 : 1];
    if (path.empty()) {
        path = (std::filesystem::temp_directory_path() /
                ("kv-bench-" + std::to_string(records) + ".log"))
                   .string();
        std::ofstream(path, std::ios::binary | std::ios::trunc) << MakeLog(records, interval);
        std::atexit([] {
            for (const std::string& p : paths)
                if (!p.empty()) std::filesystem::remove(p);
        });
    }
    return path;
}

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
