// SPDX-License-Identifier: GPL-3.0-or-later
// Day-long and week-long logs as the log writer makes them, for the log viewer's benchmarks.
#pragma once

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "logview/format/LogEncoding.h"

namespace kv_bench {

inline constexpr int64_t kStart = 1351951509;       // 2012-11-03 14:05:09 UTC
inline constexpr int kDatedEvery = 10;              // the writer's date text on every tenth record
inline constexpr int kDayRecords = 86400;           // a day at 1 s
inline constexpr int kWeekRecords = 7 * 86400 / 10; // a week at 10 s

// A UTF-16 log as the writer makes it, its readings drifting slowly.
inline std::string MakeLog(int records, int interval) {
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
inline const std::string& LogFile(int records, int interval) {
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

} // namespace kv_bench
