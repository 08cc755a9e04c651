// SPDX-License-Identifier: GPL-3.0-or-later
// Command line of kestrovane-analyze.
#include <cmath>

#include "cli/AnalyzeSession.h"
#include "text/NumberText.h"

namespace kv {

namespace {

bool ReadNumber(const std::string& text, double& value) {
    return ParseWholeDouble(text, value);
}

bool ReadInteger(const std::string& text, int low, int high, int& value) {
    double number = 0;
    if (!ReadNumber(text, number) || number != std::floor(number) || number < low || number > high)
        return false;
    value = static_cast<int>(number);
    return true;
}

bool ReadEscapement(const std::string& text, int& code) {
    static const char* const names[] = {"lever", "coaxial1", "coaxial2", "ap1",
                                        "ap2",   "pendulum", "fork"};
    for (int i = 0; i < 7; ++i) {
        if (text == names[i]) {
            code = i;
            return true;
        }
    }
    return ReadInteger(text, 0, 6, code);
}

// Applies one option with its value; returns an error text or empty on success.
std::string ApplyOption(const std::string& name, const std::string& value, AnalyzeOptions& o) {
    double number = 0;
    if (name == "--train") {
        o.Train = value;
        return value.empty() ? "--train needs a train text" : "";
    }
    if (name == "--escapement")
        return ReadEscapement(value, o.Escapement) ? "" : "--escapement takes 0..6";
    if (name == "--hpf") return ReadInteger(value, 0, 1, o.Hpf) ? "" : "--hpf takes 0 or 1";
    if (name == "--agc") return ReadInteger(value, 0, 1, o.Agc) ? "" : "--agc takes 0 or 1";
    if (name == "--precise")
        return ReadInteger(value, 0, 1, o.Precise) ? "" : "--precise takes 0 or 1";
    if (name == "--auto-threshold")
        return ReadInteger(value, 0, 1, o.AutoThreshold) ? "" : "--auto-threshold takes 0 or 1";
    if (name == "--averaging")
        return ReadInteger(value, 0, 1, o.Averaging) ? "" : "--averaging takes 0 or 1";
    if (name == "--teeth") return ReadInteger(value, 0, 100, o.Teeth) ? "" : "--teeth takes 0..100";
    if (name == "--device") {
        o.Device = value;
        return value.empty() ? "--device needs a device name" : "";
    }
    if (!ReadNumber(value, number)) return name + " needs a number";
    if (name == "--lift")
        o.LiftAngle = number;
    else if (name == "--threshold" && number > 0 && number <= 100)
        o.ThresholdPercent = number;
    else if (name == "--measuring-time" && number > 0)
        o.MeasuringTime = number;
    else if (name == "--scale" && number > 0)
        o.Scale = number;
    else if (name == "--every" && number >= 0)
        o.Every = number;
    else if (name == "--seconds" && number > 0)
        o.LiveSeconds = number;
    else
        return "bad value for " + name;
    return "";
}

// Exactly one input: a file, a device with a duration, or the device list.
std::string CheckInputChoice(const AnalyzeOptions& o) {
    if (o.ListDevices)
        return o.File.empty() && o.Device.empty() ? "" : "--list-devices takes no input";
    if (!o.Device.empty()) {
        if (!o.File.empty()) return "give either FILE.wav or --device, not both";
        return o.LiveSeconds > 0 ? "" : "--device needs --seconds";
    }
    return o.File.empty() ? "no FILE.wav given" : "";
}

} // namespace

AnalyzeOptions CommandLineDefaults() {
    AnalyzeOptions options;
    options.Precise = 1;
    options.AutoThreshold = 1;
    return options;
}

std::optional<AnalyzeOptions> ParseAnalyzeArguments(const std::vector<std::string>& args,
                                                    std::string& error) {
    static const char* const valued[] = {
        "--train",          "--lift",      "--escapement", "--hpf",     "--threshold",
        "--measuring-time", "--averaging", "--scale",      "--teeth",   "--every",
        "--device",         "--seconds",   "--agc",        "--precise", "--auto-threshold"};
    AnalyzeOptions options = CommandLineDefaults();
    bool thresholdGiven = false, autoThresholdGiven = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        bool known = false;
        for (const char* name : valued)
            known = known || arg == name;
        if (known) {
            if (i + 1 >= args.size()) {
                error = arg + " needs a value";
                return std::nullopt;
            }
            error = ApplyOption(arg, args[++i], options);
            if (!error.empty()) return std::nullopt;
            thresholdGiven = thresholdGiven || arg == "--threshold";
            autoThresholdGiven = autoThresholdGiven || arg == "--auto-threshold";
        } else if (arg == "--list-devices") {
            options.ListDevices = true;
        } else if (arg == "--quiet") {
            options.Quiet = true;
        } else if (arg.size() > 1 && arg[0] == '-') {
            error = "unknown option " + arg;
            return std::nullopt;
        } else if (options.File.empty()) {
            options.File = arg;
        } else {
            error = "only one FILE.wav may be given";
            return std::nullopt;
        }
    }
    if (thresholdGiven && !autoThresholdGiven) options.AutoThreshold = 0;
    error = CheckInputChoice(options);
    if (!error.empty()) return std::nullopt;
    return options;
}

} // namespace kv
