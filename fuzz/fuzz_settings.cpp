// SPDX-License-Identifier: GPL-3.0-or-later
// libFuzzer target of the settings section: any file loads into values the analysis can compute
// with, and what is saved loads and saves again to the same text.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "FuzzCheck.h"
#include "settings/SettingsIO.h"

namespace {

using namespace kv;
using kv::fuzz::Require;

// Loads the text into a fresh view's worth of settings and returns the text they save as.
std::string LoadAndSave(std::string_view text, bool checkConstants) {
    IdleAnalysisHost host;
    TimestampClock clock;
    AnalysisCore core(host, clock);
    AppSettings app;
    SettingsStore store(""); // never written to disk: Save() stops at the empty path
    store.Document().Parse(text);
    LoadSettings(store, core, app, clock);
    if (checkConstants) {
        core.RecomputeConstants();
        fuzz::RequireSaneSampleConstants(core.Derived);
    }
    SettingsStore saved("");
    SaveSettings(saved, core, app, clock);
    return saved.Document().Serialize();
}

// Names the first line where two saved texts differ.
void ReportDifference(const std::string& a, const std::string& b) {
    size_t start = 0;
    while (start < a.size() && start < b.size()) {
        const size_t end = std::min(a.find('\n', start), a.size());
        if (a.compare(start, end - start + 1, b, start, end - start + 1) != 0) break;
        start = end + 1;
    }
    std::fprintf(stderr, "first save: %.80s\nsecond save: %.80s\n", a.c_str() + start,
                 b.c_str() + std::min(start, b.size()));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string first = LoadAndSave({reinterpret_cast<const char*>(data), size}, true);
    const std::string second = LoadAndSave(first, false);
    if (second != first) ReportDifference(first, second);
    Require(second == first, "load, save, load, save gives the same text");
    return 0;
}
