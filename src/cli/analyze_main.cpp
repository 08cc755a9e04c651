// SPDX-License-Identifier: GPL-3.0-or-later
// kestrovane-analyze: measures a recorded watch with the same analysis as the live program and
// prints the readings as JSON Lines.
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "audio/PortAudioSource.h"
#include "audio/WaveFile.h"
#include "cli/AnalyzeProgress.h"
#include "cli/AnalyzeSession.h"
#include "platform/Terminal.h"

namespace {

constexpr const char* Usage =
    "usage: kestrovane-analyze [--train TEXT] [--lift DEG] [--escapement CODE] [--hpf 0|1]\n"
    "                          [--threshold PERCENT] [--measuring-time SECONDS] [--averaging 0|1]\n"
    "                          [--scale FACTOR] [--agc 0|1] [--teeth N] [--every SECONDS]\n"
    "                          [--precise 0|1] [--auto-threshold 0|1] [--quiet]\n"
    "                          (FILE | --device NAME --seconds S | --list-devices)\n"
    "FILE: a recording in any format libsndfile reads (WAV, FLAC, Ogg, Opus, MP3, AIFF, CAF)\n"
    "While a file takes more than a second, the share analysed and the time left are shown on\n"
    "standard error when it is a terminal; --quiet leaves them out.\n"
    "By default the threshold follows the noise and the ticks (--auto-threshold 1) and each tick\n"
    "is timed from its onset to a fraction of a sample (--precise 1), which reads a quiet or a\n"
    "clipping microphone alike; --threshold N alone sets a fixed threshold instead.\n"
    "--auto-threshold 0 --precise 0 --agc 0 measures as the window does at start-up.\n";

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
        std::fputs(Usage, stdout);
        return 0;
    }
    std::string error;
    std::optional<kv::AnalyzeOptions> options = kv::ParseAnalyzeArguments(args, error);
    if (!options) {
        std::fprintf(stderr, "kestrovane-analyze: %s\n%s", error.c_str(), Usage);
        return 2;
    }
    if (options->ListDevices) {
        for (const std::string& name : kv::ListInputDevices())
            std::puts(name.c_str());
        return 0;
    }
    const auto print = [](const kv::Reading& reading) {
        std::puts(kv::ReadingToJson(reading).c_str());
        std::fflush(stdout);
    };
    if (!options->Device.empty()) {
        kv::PortAudioSource source;
        kv::AnalyzeSession session(*options);
        if (!session.RunLive(source, options->Device, options->LiveSampleRate, options->LiveSeconds,
                             print, error)) {
            std::fprintf(stderr, "kestrovane-analyze: %s: %s\n", options->Device.c_str(),
                         error.c_str());
            return 2;
        }
        return 0;
    }
    // libsndfile streams every format it reads; a file it refuses is read by the WAV reader,
    // whose reason the message gives.
    kv::SoundFileStream file;
    std::unique_ptr<kv::MonoSampleStream> fallback;
    kv::MonoSampleStream* input = &file;
    if (std::string ignored; !file.Open(options->File, ignored)) {
        kv::WaveReadResult wave = kv::ReadWaveFile(options->File);
        if (!wave.Ok) {
            std::fprintf(stderr, "kestrovane-analyze: %s: %s\n", options->File.c_str(),
                         wave.Error.c_str());
            return 2;
        }
        fallback = std::make_unique<kv::MemorySampleStream>(std::move(wave.Data.Samples),
                                                            wave.Data.SampleRate);
        input = fallback.get();
    }
    const uint32_t rate = input->SampleRate();
    if (rate < kv::LowestSampleRate || rate > kv::HighestSampleRate) {
        std::fprintf(stderr, "kestrovane-analyze: %s: unsupported sample rate %u Hz\n",
                     options->File.c_str(), rate);
        return 2;
    }
    // The progress line on a terminal: taken off the screen before each reading, which may go to
    // the same terminal, and drawn again at its next refresh.
    kv::AnalyzeProgress progress(kv::StandardErrorIsTerminal(), options->Quiet, input->Length(),
                                 rate);
    const auto started = std::chrono::steady_clock::now();
    const auto elapsed = [&] {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    };
    const auto toTerminal = [](const std::string& text) {
        if (text.empty()) return;
        std::fputs(text.c_str(), stderr);
        std::fflush(stderr);
    };
    kv::AnalyzeSession session(*options);
    uint64_t analysed = 0;
    session.Progress = [&](uint64_t done) {
        analysed = done;
        toTerminal(progress.Update(done, elapsed()));
    };
    session.Run(*input, [&](const kv::Reading& reading) {
        toTerminal(progress.Clear());
        print(reading);
    });
    toTerminal(progress.Finish(analysed, elapsed()));
    return std::fflush(stdout) == 0 ? 0 : 1;
}
