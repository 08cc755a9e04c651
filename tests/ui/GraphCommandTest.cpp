// SPDX-License-Identifier: GPL-3.0-or-later
// kestrovane-graph as scripts call it: its outputs, its exit codes and its one-line messages.
#include <gtest/gtest.h>

#include <QImage>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>
#include <vector>

#include "OggFile.h"

namespace kv {
namespace {

namespace fs = std::filesystem;

constexpr int64_t kStart = 1700000000;
constexpr double kPi = 3.14159265358979323846;

struct CommandResult {
    int ExitCode = -1;
    std::string Err;
};

std::string Slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

class GraphCommand : public ::testing::Test {
protected:
    void SetUp() override {
        Dir = fs::temp_directory_path() /
              ("kv-graphcli-" + std::to_string(::getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(Dir);
        fs::create_directories(Dir);
        Settings = Dir / "viewer.ini";
        // The rate alone, unfiltered, on a grey background filling the plot.
        std::ofstream ini(Settings);
        ini << "[Graph]\nTitle=Test graph\nFilter0=0\nBackColor0=13158600\n";
        for (int i = 1; i < 8; ++i)
            ini << "TraceEnabled" << i << "=0\n";
    }
    void TearDown() override { fs::remove_all(Dir); }

    CommandResult Run(const std::string& args) {
        const fs::path err = Dir / "err.txt";
        const std::string command = std::string(KV_GRAPH_EXE) + " --settings " + Settings.string() +
                                    " " + args + " >/dev/null 2>" + err.string();
        const int status = std::system(command.c_str());
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, Slurp(err)};
    }

    // A record every `step` seconds for `seconds`, the rate field given by `rate`.
    fs::path WriteLog(int64_t seconds, int step, double (*rate)(double)) {
        const fs::path path = Dir / "watch.log";
        std::ofstream out(path, std::ios::binary);
        for (int64_t t = 0; t <= seconds; t += step)
            out << kStart + t << '\t' << rate(static_cast<double>(t)) << "\t280\r\n";
        return path;
    }

    fs::path Dir;
    fs::path Settings;
};

double Steady(double t) {
    return 2.0 + t / 3600;
}

double HourlySine(double t) {
    return 5.0 * std::sin(2 * kPi * t / 3600);
}

TEST_F(GraphCommand, DrawsPngOfTheAskedSize) {
    const fs::path log = WriteLog(7200, 60, Steady);
    const fs::path png = Dir / "graph.png";
    const CommandResult r =
        Run("--width 800 --height 500 --png " + png.string() + " " + log.string());
    ASSERT_EQ(r.ExitCode, 0) << r.Err;
    const QImage image(QString::fromStdString(png.string()));
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.size(), QSize(800, 500));
    EXPECT_EQ(QColor(image.pixel(400, 250)), QColor(200, 200, 200)); // the rate strip's background
}

TEST_F(GraphCommand, PdfHasOnePage) {
    const fs::path log = WriteLog(7200, 60, Steady);
    const fs::path pdf = Dir / "graph.pdf";
    ASSERT_EQ(Run("--pdf " + pdf.string() + " " + log.string()).ExitCode, 0);
    ASSERT_EQ(Slurp(pdf).rfind("%PDF", 0), 0u);
    if (std::system("command -v pdfinfo >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "pdfinfo (poppler-utils) is not installed";
    const fs::path info = Dir / "info.txt";
    ASSERT_EQ(std::system(("pdfinfo " + pdf.string() + " >" + info.string()).c_str()), 0);
    EXPECT_NE(Slurp(info).find("Pages:           1\n"), std::string::npos) << Slurp(info);
}

TEST_F(GraphCommand, CsvHoldsOneRowPerRecordFromTheFirstRecord) {
    const fs::path log = WriteLog(600, 60, Steady);
    const fs::path csv = Dir / "traces.csv";
    ASSERT_EQ(Run("--csv " + csv.string() + " " + log.string()).ExitCode, 0);
    const std::vector<std::string> lines = Lines(Slurp(csv));
    ASSERT_EQ(lines.size(), 12u); // header and 11 records
    EXPECT_EQ(lines[1].rfind("0,2", 0), 0u) << lines[1];
    EXPECT_EQ(lines[11].rfind("600,", 0), 0u) << lines[11];
}

TEST_F(GraphCommand, FromAndToChooseTheWindowInSecondsSinceTheFirstRecord) {
    const fs::path log = WriteLog(600, 60, Steady);
    const fs::path csv = Dir / "window.csv";
    for (const auto& [window, rows] : std::vector<std::pair<std::string, std::string>>{
             {"--from 120 --to 300", "120 180 240 300 "},
             {"--from 540", "540 600 "},
             {"--from 60 --to 60", "60 "}}) {
        ASSERT_EQ(Run(window + " --csv " + csv.string() + " " + log.string()).ExitCode, 0);
        std::string times; // each row's time: seconds since the file's first record
        for (const std::string& line : Lines(Slurp(csv)))
            if (line.rfind("time_s", 0) != 0) times += line.substr(0, line.find(',')) + " ";
        EXPECT_EQ(times, rows) << window;
    }
    const CommandResult reversed =
        Run("--from 100 --to 50 --csv " + csv.string() + " " + log.string());
    EXPECT_EQ(reversed.ExitCode, 2);
    EXPECT_NE(reversed.Err.find("usage:"), std::string::npos) << reversed.Err;
}

TEST_F(GraphCommand, SpectrumOfAnHourlySinePeaksAtOneHour) {
    const fs::path log = WriteLog(24 * 3600, 60, HourlySine);
    const fs::path csv = Dir / "spectrum.csv";
    ASSERT_EQ(Run("--spectrum 1 --csv " + csv.string() + " " + log.string()).ExitCode, 0);
    const std::vector<std::string> lines = Lines(Slurp(csv));
    ASSERT_GT(lines.size(), 100u);
    double peakHz = 0, peakDb = -1e300;
    for (size_t i = 2; i < lines.size(); ++i) { // after the header and the mean line
        const size_t comma = lines[i].find(',');
        if (comma == std::string::npos || comma + 1 == lines[i].size()) continue;
        const double db = std::stod(lines[i].substr(comma + 1));
        if (db > peakDb) {
            peakDb = db;
            peakHz = std::stod(lines[i].substr(0, comma));
        }
    }
    ASSERT_GT(peakHz, 0);
    EXPECT_NEAR(1 / peakHz, 3600, 3600.0 / 24); // within one line of the day-long span
}

// Half a minute of noise as Ogg/Vorbis: read as a log it is UTF-16 with a few whole lines.
fs::path WriteOgg(const fs::path& dir) {
    constexpr uint32_t kRate = 44100;
    constexpr int kAmplitude = 8000;
    std::vector<int16_t> noise(30 * kRate);
    std::mt19937 random(3);
    for (int16_t& sample : noise)
        sample = static_cast<int16_t>(static_cast<int>(random() % (2 * kAmplitude)) - kAmplitude);
    const fs::path path = dir / "recording.ogg";
    std::string error;
    EXPECT_TRUE(synth::WriteOggVorbis(path.string(), noise, kRate, 1, 1.0, &error)) << error;
    return path;
}

TEST_F(GraphCommand, BadInputExitsWithTwoAndOneLine) {
    const fs::path binary = Dir / "noise.bin";
    std::ofstream(binary, std::ios::binary) << std::string("\x01\x02\xff\xfe\x00\x80", 6);
    const fs::path ogg = WriteOgg(Dir);
    const std::string bytes = Slurp(ogg);
    size_t crUnits = 0; // whole lines to the log reader
    for (size_t i = 0; i + 3 < bytes.size(); i += 2)
        crUnits += bytes[i] == '\r' && bytes[i + 1] == '\0';
    ASSERT_GT(crUnits, 0u) << "the recording holds no line to refuse";
    const std::string out = " --png " + (Dir / "x.png").string() + " ";
    for (const std::string& input :
         {(Dir / "missing.log").string(), Dir.string(), binary.string(), ogg.string()}) {
        const CommandResult r = Run(out + input);
        EXPECT_EQ(r.ExitCode, 2) << input;
        EXPECT_EQ(Lines(r.Err).size(), 1u) << r.Err;
    }
    EXPECT_NE(Run(out + ogg.string()).Err.find("is not a Kestrovane log file"), std::string::npos);
    EXPECT_FALSE(fs::exists(Dir / "x.png"));
    EXPECT_EQ(Run("--png " + (Dir / "x.png").string()).ExitCode, 2); // no log file
    EXPECT_EQ(Run("--width 0 --png x.png " + binary.string()).ExitCode, 2);
}

TEST_F(GraphCommand, AnUnwritableOutputExitsWithOne) {
    const fs::path log = WriteLog(600, 60, Steady);
    const CommandResult r =
        Run("--csv " + (Dir / "no" / "such" / "dir.csv").string() + " " + log.string());
    EXPECT_EQ(r.ExitCode, 1);
    EXPECT_EQ(Lines(r.Err).size(), 1u);
}

} // namespace
} // namespace kv
