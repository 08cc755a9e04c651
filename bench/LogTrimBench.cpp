// SPDX-License-Identifier: GPL-3.0-or-later
// One size trim of a 10 MB log, as the log writer makes it before every record once the log has
// reached its size limit: each iteration appends a record that takes the file over the limit and
// trims it back.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "logview/format/LogEncoding.h"
#include "logview/format/LogFileAccess.h"
#include "platform/AtomicFile.h"

namespace {

constexpr int64_t kMaxLogsize = 5119; // 1024-character units: a UTF-16 log of 10 MB
constexpr size_t kLineChars = 64;     // the lines the log starts with
constexpr size_t kRecordChars = 600;  // more than the 512 that start a trim: one per record

std::string Line(size_t chars) {
    return std::string(chars - 2, '7') + "\r\n";
}

void BM_TrimTenMegabyteLog(benchmark::State& state) {
    const std::string path =
        (std::filesystem::temp_directory_path() / "kv-bench-trim.log").string();
    {
        std::string text;
        const size_t lines = (kMaxLogsize + 1) * 1024 / kLineChars;
        for (size_t i = 0; i < lines; ++i)
            text += Line(kLineChars);
        std::ofstream(path, std::ios::binary | std::ios::trunc) << kv::Utf16LeFromUtf8(text);
    }
    const std::string record = kv::Utf16LeFromUtf8(Line(kRecordChars));
    for (auto _ : state) {
        kv::LogFileHandle file(path);
        if (!kv::AppendWhole(file.Fd(), record) ||
            kv::TrimLogFile(file, kMaxLogsize) != kv::TrimResult::Trimmed)
            state.SkipWithError("the log was not trimmed");
    }
    state.SetBytesProcessed(state.iterations() * kMaxLogsize * 1024 * 2);
    std::filesystem::remove(path);
}
BENCHMARK(BM_TrimTenMegabyteLog)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
