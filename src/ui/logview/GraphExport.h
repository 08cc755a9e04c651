// SPDX-License-Identifier: GPL-3.0-or-later
// `kestrovane-graph`: draws a log file as the viewer would into a PNG or a one-page PDF, or
// writes its processed traces or one trace's spectrum as CSV. Runs on the calling thread, which
// must own the QGuiApplication.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace kv {

enum class GraphOutput { Png, Pdf, Csv };

struct GraphCommandOptions {
    std::string SettingsPath; // empty: the user's settings store
    int Width = 1920;         // image pixels
    int Height = 1080;
    std::optional<double> From; // seconds since the first record
    std::optional<double> To;
    int SpectrumTrace = 0; // 1 … 8, 0 for none
    GraphOutput Output = GraphOutput::Png;
    std::string OutputPath;
    std::string LogPath;
};

// The options of a command line (without the program name), or nothing with `error` set.
std::optional<GraphCommandOptions> ParseGraphArguments(const std::vector<std::string>& args,
                                                       std::string& error);

// Exit status of the command: 0 done, 1 the output could not be written, 2 bad arguments or a
// missing, unreadable or non-log file (one line on `err`).
int RunGraphCommand(const GraphCommandOptions& options, std::ostream& err);

extern const char* const GraphCommandUsage;

} // namespace kv
