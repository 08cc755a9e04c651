// SPDX-License-Identifier: GPL-3.0-or-later
// The log viewer's load from files: files that cannot be shown or are not logs give a status and
// leave the model alone; empty, binary, truncated and huge-line files load without harm, and junk
// or a huge line takes no memory beyond the records; a file appended to or cut while it is read;
// and the CSV of the traces and of a spectrum.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <random>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "LogTestSupport.h"
#include "logview/model/GraphCsv.h"
#include "logview/model/GraphModel.h"

namespace kv::test {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

GraphSettings AllOn() {
    GraphSettings s = GraphSettings::Defaults();
    for (TraceSettings& t : s.Traces)
        t.Enabled = true;
    return s;
}

// A record whose rate is a function of its time, so a torn or mixed read would show.
std::string Record(int64_t t) {
    return std::to_string(t) + "\t" + std::to_string(t % 1000) + "\t250\t0.5\r\n";
}

class GraphFileTest : public ::testing::Test {
protected:
    LogTempDir Dir;
    std::string Path = Dir.File("watch.log");
    GraphModel Model;
    GraphSettings Settings = AllOn();
};

TEST_F(GraphFileTest, AFileThatCannotBeShownLeavesTheModelAsItWas) {
    WriteBytes(Path, Wide(Record(1000) + Record(1010)));
    ASSERT_EQ(Model.LoadGraphData(Path, Settings), GraphLoadStatus::Loaded);
    ASSERT_EQ(Model.Records.size(), 2u);

    fs::remove(Path); // deleted while the viewer shows it
    EXPECT_EQ(Model.LoadGraphData(Path, Settings), GraphLoadStatus::CannotOpen);
    EXPECT_EQ(Model.Records.size(), 2u);
    EXPECT_EQ(Model.Window.DisplayEnd, 1010);
    EXPECT_NE(GraphLoadMessage(GraphLoadStatus::CannotOpen, Path).find(Path), std::string::npos);

    EXPECT_EQ(Model.LoadGraphData("", Settings), GraphLoadStatus::NoFileName);
    EXPECT_EQ(Model.LoadGraphData(Dir.Path, Settings), GraphLoadStatus::NotAFile);
    EXPECT_EQ(Model.LoadGraphData("/dev/zero", Settings), GraphLoadStatus::NotAFile);
    EXPECT_EQ(Model.LoadGraphText("0\tzero\r\n\t1\r\nabc\r\n", Settings), GraphLoadStatus::NotALog);
    EXPECT_EQ(Model.Records.size(), 2u);
    EXPECT_EQ(GraphLoadMessage(GraphLoadStatus::Loaded, Path), "");
}

TEST_F(GraphFileTest, AnEmptyFileGivesNoRecordsAndUnsetScales) {
    WriteBytes(Path, "");
    ASSERT_EQ(Model.LoadGraphData(Path, Settings), GraphLoadStatus::Loaded);
    EXPECT_TRUE(Model.Records.empty());
    EXPECT_TRUE(Model.Tags.empty());
    EXPECT_EQ(Model.Window.DisplayStart, EndOfTime);
    EXPECT_EQ(Model.Window.DisplayEnd, 0);
    EXPECT_FALSE(Model.Results[0].HasScale());
    EXPECT_TRUE(Model.Results[1].HasScale()); // the amplitude's held 90 … 340
}

TEST_F(GraphFileTest, BinaryTruncatedAndHugeLineFilesLoadWithoutHarm) {
    std::mt19937 random(7);
    std::string binary(1 << 20, '\0');
    for (char& c : binary)
        c = static_cast<char>(random());
    Model.SpectrumTrace = 0;
    const std::pair<std::string, std::optional<bool>> files[] = {
        // the bytes; a log?
        {binary, std::nullopt}, // chance may make a line look like a record
        {Wide(Record(1000) + Record(1010)).substr(0, 37), true}, // cut inside a character
        {std::string(8 << 20, '7') + "\r\n", false},
        {Wide(std::string(4 << 20, '\t') + "\r\n"), false},
        {std::string(8 << 20, '\r'), false},
        {std::string(8 << 20, 'x'), true}, // no line has ended yet
        {"1e308\t1e308\r\n-1e308\t-1e308\r\n1e-320\t1\r\n99999999999999999999999\t1\r\n", true}};
    for (const auto& [bytes, log] : files) {
        WriteBytes(Path, bytes);
        const auto start = Clock::now();
        const GraphLoadStatus status = Model.LoadGraphData(Path, Settings);
        EXPECT_TRUE(!log || status == (*log ? GraphLoadStatus::Loaded : GraphLoadStatus::NotALog))
            << static_cast<int>(status) << " for " << bytes.substr(0, 20);
        EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
        for (const GraphRecord& r : Model.Records)
            for (int i = 0; i < TraceCount; ++i)
                EXPECT_FALSE(std::isnan(r.Value[i]));
    }
    // The UTF-16 file cut inside its second record shows the first only.
    WriteBytes(Path, Wide(Record(1000) + Record(1010)).substr(0, 37));
    Model.LoadGraphData(Path, Settings);
    EXPECT_EQ(Model.Records.size(), 1u);
}

// The status, record count and peak resident memory growth (KiB) of a load in a child process.
struct ChildLoad {
    GraphLoadStatus Status = GraphLoadStatus::ReadFailed;
    size_t Records = 0;
    long PeakKiB = -1;
};

long ProcStatusKiB(const std::string& field) {
    std::ifstream in("/proc/self/status");
    for (std::string line; std::getline(in, line);)
        if (line.rfind(field, 0) == 0) return std::stol(line.substr(field.size()));
    return -1;
}

ChildLoad LoadInChild(const std::string& path, const GraphSettings& settings) {
    int ends[2];
    ChildLoad load;
    if (pipe(ends) != 0) return load;
    const pid_t child = fork();
    if (child == 0) {
        std::ofstream("/proc/self/clear_refs") << "5"; // the peak starts from here
        const long before = ProcStatusKiB("VmRSS:");
        GraphModel model;
        load = {model.LoadGraphData(path, settings), model.Records.size(), 0};
        load.PeakKiB = ProcStatusKiB("VmHWM:") - before;
        _exit(write(ends[1], &load, sizeof load) == sizeof load ? 0 : 1);
    }
    close(ends[1]);
    if (read(ends[0], &load, sizeof load) != sizeof load) load = {};
    close(ends[0]);
    waitpid(child, nullptr, 0);
    return load;
}

TEST_F(GraphFileTest, JunkAndAHugeLineTakeNoMoreMemoryThanTheRecords) {
    constexpr long kBoundKiB = 64 * 1024;
    std::string records;
    for (int64_t t = 1000; t < 1100; t += 10)
        records += Record(t);
    const struct {
        const char* Name;
        std::string Head, Tail;
        char Fill;
        int MiB; // of Fill between head and tail
        GraphLoadStatus Status;
        size_t Records;
    } cases[] = {{"200 MiB of carriage returns", "", "", '\r', 200, GraphLoadStatus::NotALog, 0},
                 {"a 100 MB line between records", records, "\r\n" + records, '7', 100,
                  GraphLoadStatus::Loaded, 20}};
    for (const auto& c : cases) {
        {
            std::ofstream out(Path, std::ios::binary);
            out << c.Head;
            for (int i = 0; i < c.MiB; ++i)
                out << std::string(1 << 20, c.Fill);
            out << c.Tail;
        }
        const ChildLoad load = LoadInChild(Path, Settings);
        fs::remove(Path);
        EXPECT_EQ(load.Status, c.Status) << c.Name;
        EXPECT_EQ(load.Records, c.Records) << c.Name;
        EXPECT_GE(load.PeakKiB, 0) << c.Name;
        EXPECT_LT(load.PeakKiB, kBoundKiB) << c.Name;
        std::printf("%s: peak memory growth %ld KiB\n", c.Name, load.PeakKiB);
    }
}

// Runs `check` on loads of the file for half a second while a thread appends records to it and,
// when `clearEvery` > 0, empties it after every clearEvery records.
template <class Check>
void LoadWhileWriting(GraphModel& model, const GraphSettings& settings, const std::string& path,
                      int clearEvery, Check&& check) {
    WriteBytes(path, "");
    std::atomic<bool> stop{false};
    std::atomic<int64_t> written{0};
    std::thread writer([&] {
        for (int64_t t = 1000; !stop; ++t) {
            std::ofstream(path, std::ios::binary | std::ios::app) << Wide(Record(t));
            written = t;
            if (clearEvery > 0 && t % clearEvery == 0)
                std::ofstream(path, std::ios::binary | std::ios::trunc);
        }
    });
    int loads = 0;
    for (const auto end = Clock::now() + std::chrono::milliseconds(500); Clock::now() < end;) {
        EXPECT_EQ(model.LoadGraphData(path, settings), GraphLoadStatus::Loaded);
        ++loads;
        check(written.load());
    }
    stop = true;
    writer.join();
    EXPECT_GT(loads, 1);
}

TEST_F(GraphFileTest, AFileAppendedToWhileItIsReadShowsOnlyWholeRecords) {
    LoadWhileWriting(Model, Settings, Path, 0, [&](int64_t written) {
        for (const GraphRecord& r : Model.Records) {
            ASSERT_EQ(r.Value[1], 250.0) << r.Time;
            ASSERT_EQ(r.Raw[0], std::fmod(r.Time, 1000.0)) << r.Time;
            // The counter follows the append, so the file may be one record ahead.
            ASSERT_LE(r.Time, static_cast<double>(written + 1));
        }
    });
    // Cleared now and then as well (the writer's size limit and "Clear log" do that): a read
    // may see any state of the file, but never fails or leaves values that are not numbers.
    LoadWhileWriting(Model, Settings, Path, 300, [&](int64_t) {
        for (const GraphRecord& r : Model.Records)
            for (int i = 0; i < TraceCount; ++i)
                ASSERT_FALSE(std::isnan(r.Value[i]));
    });
}

TEST_F(GraphFileTest, TheTraceCsvHoldsTimesSinceTheFirstRecordAndTheShownValues) {
    Settings.Traces[3].Enabled = false;
    Settings.Traces[0].Filter = false;
    Settings.Traces[1].HoldMax = Settings.Traces[1].HoldMin = false;
    Settings.Traces[4].Label = "Average, \"rate\"";
    WriteBytes(Path, Wide("1000\t-2.5\t\t0.25\t21\r\n1010\t1e-05\t280\t0.5\t21\r\n"));
    ASSERT_EQ(Model.LoadGraphData(Path, Settings), GraphLoadStatus::Loaded);
    std::ostringstream csv;
    WriteTraceCsv(csv, Model, Settings);
    EXPECT_EQ(csv.str(), "time_s,Rate (s/d),Amplitude,Deviation (sec),Temperature C,"
                         "\"Average, \"\"rate\"\"\",Beat error (sec),Trace 7,"
                         "Barometric pressure mB\n"
                         "0,-2.5,,0.25,,,,,\n"
                         "10,1e-05,280,0.5,,,,,\n");
}

// A rate that swings as a sine with a period of one hour, logged every second for a day.
TEST_F(GraphFileTest, TheSpectrumOfAnHourlySwingPeaksAtOneHour) {
    constexpr double kPeriod = 3600.0;
    std::string text;
    for (int i = 0; i < 86400; ++i) {
        const double rate = 4.0 + 3.0 * std::sin(2 * M_PI * i / kPeriod);
        text += std::to_string(1351900000 + i) + "\t" + std::to_string(rate) + "\t250\r\n";
    }
    WriteBytes(Path, Wide(text));
    Model.SpectrumTrace = 0;
    ASSERT_EQ(Model.LoadGraphData(Path, Settings), GraphLoadStatus::Loaded);
    std::ostringstream out;
    WriteSpectrumCsv(out, Model);

    std::istringstream csv(out.str());
    std::string line;
    std::getline(csv, line);
    EXPECT_EQ(line, "frequency_hz,level_db");
    int lines = 0;
    double peakFrequency = 0.0, peakLevel = -1e300, meanLevel = 0.0;
    while (std::getline(csv, line)) {
        const size_t comma = line.find(',');
        const double frequency = std::stod(line.substr(0, comma));
        const double level = std::stod(line.substr(comma + 1));
        if (lines++ == 0)
            meanLevel = level; // the mean (0 Hz) is not a swing
        else if (level > peakLevel)
            peakFrequency = frequency, peakLevel = level;
    }
    EXPECT_EQ(lines, 16384 / 2 + 1);
    EXPECT_NEAR(1.0 / peakFrequency, kPeriod, kPeriod / 24 / 2); // within half a line
    EXPECT_NEAR(peakLevel, 20 * std::log10(3.0 / 2), 1.0);       // a sine of 3 in two lines
    EXPECT_NEAR(meanLevel, 20 * std::log10(4.0), 0.1);
}

} // namespace
} // namespace kv::test
