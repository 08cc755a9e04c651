// SPDX-License-Identifier: GPL-3.0-or-later
// The kestrovane-analyze command as other tools call it: arguments, output lines, exit codes.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <sys/wait.h>

#include "TickSynthesizer.h"
#include "audio/WaveFile.h"
#include "cli/AnalyzeSession.h"

namespace kv {
namespace {

namespace fs = std::filesystem;

struct CommandResult {
    int ExitCode = -1;
    std::vector<std::string> OutLines;
    std::string Err;
};

std::string Slurp(const fs::path& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

class AnalyzeCli : public ::testing::Test {
protected:
    void SetUp() override {
        Dir = fs::temp_directory_path() /
              ("kv-cli-" + std::to_string(::getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(Dir);
        fs::create_directories(Dir);
    }
    void TearDown() override { fs::remove_all(Dir); }

    CommandResult Run(const std::string& args) {
        const fs::path out = Dir / "out.txt", err = Dir / "err.txt";
        const std::string command =
            std::string(KV_ANALYZE_EXE) + " " + args + " >" + out.string() + " 2>" + err.string();
        const int status = std::system(command.c_str());
        CommandResult r;
        r.ExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        std::istringstream lines(Slurp(out));
        for (std::string line; std::getline(lines, line);)
            r.OutLines.push_back(line);
        r.Err = Slurp(err);
        return r;
    }

    fs::path WriteWatch(const std::string& name, double seconds) {
        synth::SynthOptions o;
        o.SampleRate = 48000;
        o.Seconds = seconds;
        o.BeatsPerHour = 21600;
        o.RateSecondsPerDay = 10;
        const fs::path path = Dir / name;
        EXPECT_TRUE(WriteWaveFile(path.string(), synth::Synthesize(o).Samples, 48000, 1));
        return path;
    }

    fs::path Dir;
};

TEST_F(AnalyzeCli, PrintsOneObjectPerIntervalAndAFinalOne) {
    // Precision timing, on by default, measures once its templates are learnt (5.3 s here).
    const fs::path wav = WriteWatch("watch.wav", 16);
    CommandResult r = Run("--train 21600 --every 7 " + wav.string());
    ASSERT_EQ(r.ExitCode, 0) << r.Err;
    ASSERT_EQ(r.OutLines.size(), 3u);
    const std::string& last = r.OutLines.back();
    for (const char* key : {"\"t\":16", "\"train\":\"21600\"", "\"beat_period\":0.1666666667",
                            "\"rate_sd\":", "\"rate_window_full\":true", "\"accumulated_rate_sd\":",
                            "\"amplitude_deg\":", "\"beat_error_ms\":", "\"beat_count\":",
                            "\"deviation_s\":", "\"signal_noise_db\":", "\"ticks\":"})
        EXPECT_NE(last.find(key), std::string::npos) << key << " in " << last;
    EXPECT_EQ(last.front(), '{');
    EXPECT_EQ(last.back(), '}');
}

TEST_F(AnalyzeCli, RateIsNullBeforeTheFirstRegression) {
    const fs::path wav = WriteWatch("short.wav", 0.5);
    CommandResult r = Run("--train 21600 " + wav.string());
    ASSERT_EQ(r.ExitCode, 0) << r.Err;
    ASSERT_EQ(r.OutLines.size(), 1u);
    EXPECT_NE(r.OutLines[0].find("\"rate_sd\":null"), std::string::npos) << r.OutLines[0];
    EXPECT_NE(r.OutLines[0].find("\"rate_window_full\":false"), std::string::npos);
}

TEST_F(AnalyzeCli, AutoFindsTheTrain) {
    const fs::path wav = WriteWatch("watch.wav", 20); // 21600 vph
    CommandResult r = Run("--train AUTO " + wav.string());
    ASSERT_EQ(r.ExitCode, 0) << r.Err;
    ASSERT_EQ(r.OutLines.size(), 1u);
    EXPECT_NE(r.OutLines[0].find("\"train\":\"21600 vph\""), std::string::npos) << r.OutLines[0];
    EXPECT_NE(r.OutLines[0].find("\"rate_window_full\":true"), std::string::npos);
}

TEST_F(AnalyzeCli, BadFilesExitTwoNamingTheFile) {
    const fs::path missing = Dir / "missing.wav";
    const fs::path empty = Dir / "empty.wav";
    const fs::path random = Dir / "random.wav";
    std::ofstream(empty).close();
    {
        std::ofstream out(random, std::ios::binary);
        std::mt19937 gen(7);
        for (int i = 0; i < 10000; ++i)
            out.put(static_cast<char>(gen()));
    }
    for (const fs::path& path : {missing, empty, random, Dir}) {
        CommandResult r = Run(path.string());
        EXPECT_EQ(r.ExitCode, 2) << path;
        EXPECT_NE(r.Err.find(path.string() + ": "), std::string::npos) << r.Err;
        EXPECT_EQ(std::count(r.Err.begin(), r.Err.end(), '\n'), 1) << r.Err;
        EXPECT_TRUE(r.OutLines.empty());
    }
}

TEST_F(AnalyzeCli, OddFilesGiveAReadingOrAClearRefusal) {
    const fs::path header = Dir / "header.wav";
    ASSERT_TRUE(WriteWaveFile(header.string(), {}, 48000, 1));
    CommandResult r = Run(header.string());
    EXPECT_EQ(r.ExitCode, 0) << r.Err;
    ASSERT_EQ(r.OutLines.size(), 1u);
    EXPECT_NE(r.OutLines[0].find("\"ticks\":0"), std::string::npos);

    const fs::path absurd = Dir / "absurd.wav";
    ASSERT_TRUE(WriteWaveFile(absurd.string(), std::vector<int16_t>(1000, 0), 4000000000u, 1));
    r = Run(absurd.string());
    EXPECT_EQ(r.ExitCode, 2);
    EXPECT_NE(r.Err.find("unsupported sample rate 4000000000 Hz"), std::string::npos) << r.Err;

    const fs::path watch = WriteWatch("watch.wav", 3);
    const fs::path truncated = Dir / "truncated.wav";
    fs::copy_file(watch, truncated);
    fs::resize_file(truncated, fs::file_size(watch) / 2 + 1); // odd byte count
    r = Run("--train 21600 " + truncated.string());
    EXPECT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_NE(r.OutLines.back().find("\"t\":1.49"), std::string::npos) << r.OutLines.back();
}

TEST_F(AnalyzeCli, BadArgumentsExitTwo) {
    EXPECT_EQ(Run("").ExitCode, 2);
    EXPECT_EQ(Run("--hpf 3 x.wav").ExitCode, 2);
    EXPECT_EQ(Run("--bogus 1 x.wav").ExitCode, 2);
    EXPECT_EQ(Run("--lift").ExitCode, 2);
}

TEST(AnalyzeArguments, DefaultsAndValues) {
    std::string error;
    auto o = ParseAnalyzeArguments({"f.wav"}, error);
    ASSERT_TRUE(o);
    EXPECT_EQ(o->Train, "18000 vph");
    EXPECT_DOUBLE_EQ(o->LiftAngle, 52);
    EXPECT_EQ(o->Escapement, 0);
    EXPECT_EQ(o->Hpf, 1);
    EXPECT_DOUBLE_EQ(o->ThresholdPercent, 5);
    EXPECT_DOUBLE_EQ(o->MeasuringTime, 8);
    EXPECT_EQ(o->Teeth, 0);
    o = ParseAnalyzeArguments(
        {"--train",     "AUTO", "--lift",           "49", "--escapement", "5", "--hpf",   "0",
         "--threshold", "15",   "--measuring-time", "12", "--averaging",  "1", "--scale", "2.5",
         "--teeth",     "15",   "--every",          "2",  "w.wav"},
        error);
    ASSERT_TRUE(o) << error;
    EXPECT_EQ(o->Train, "AUTO");
    EXPECT_EQ(o->Escapement, 5);
    EXPECT_DOUBLE_EQ(o->Scale, 2.5);
    EXPECT_EQ(o->Teeth, 15);
    EXPECT_DOUBLE_EQ(o->Every, 2);
    EXPECT_FALSE(ParseAnalyzeArguments({"--teeth", "101", "w.wav"}, error));
    EXPECT_FALSE(ParseAnalyzeArguments({"--threshold", "abc", "w.wav"}, error));
    EXPECT_FALSE(ParseAnalyzeArguments({"a.wav", "b.wav"}, error));
}

TEST(AnalyzeArguments, AutomaticLevelControlIsOffUnlessAsked) {
    std::string error;
    EXPECT_EQ(ParseAnalyzeArguments({"w.wav"}, error)->Agc, 0);
    const auto on = ParseAnalyzeArguments({"--agc", "1", "w.wav"}, error);
    ASSERT_TRUE(on) << error;
    EXPECT_EQ(on->Agc, 1);
    EXPECT_FALSE(ParseAnalyzeArguments({"--agc", "2", "w.wav"}, error));
    EXPECT_EQ(error, "--agc takes 0 or 1");
}

TEST(ReadingJson, NullsAndEscapes) {
    Reading r;
    r.Train = "18000 \"vph\"";
    const std::string json = ReadingToJson(r);
    EXPECT_NE(json.find("\"train\":\"18000 \\\"vph\\\"\""), std::string::npos) << json;
    EXPECT_NE(json.find("\"rate_sd\":null"), std::string::npos);
    EXPECT_NE(json.find("\"beat_error_ms\":null"), std::string::npos);
}

} // namespace
} // namespace kv
