// SPDX-License-Identifier: GPL-3.0-or-later
// The positional run without a window: the results table and summary, the results file, and the
// run's steps driven through a scripted session and user with the sums set as the capture thread
// would leave them.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <unistd.h>

#include "../settings/SettingsTestSupport.h"
#include "positions/PositionResults.h"
#include "positions/PositionalRun.h"
#include "positions/ResultsFile.h"
#include "support/DtmfDecoder.h"

namespace kv {
namespace {

namespace fs = std::filesystem;

const std::string Header = "Posn\tRate\tAmp \xc2\xb0\tBeat ms\tDuration s\r\n";

TEST(PositionResultsText, TableAndSummaryInTheirExactFormats) {
    const std::vector<PositionResult> positions = {{"PD", 20.0, 3.456, 280.04, 0.412},
                                                   {"DU", 0.05, 0, 0, 0},
                                                   {"DD", 19.5, -1.0, 300.0, 0.2},
                                                   {"PL", 21.25, 5.0, 250.0, 0.3},
                                                   {"DU", 20.0, 1.0, 290.0, 0.1}};
    const std::string text = FormatPositionResults(positions, 4.0, 81.0);
    EXPECT_EQ(text, Header + " 1 PD\t+3.46\t280.0\t0.41\t 16.00\r\n"
                             " 2 DU\tSkipped ...\r\n"
                             " 3 DD\t-1.00\t300.0\t0.20\t 15.50\r\n"
                             " 4 PL\t+5.00\t250.0\t0.30\t 17.25\r\n"
                             " 5 DU\t+1.00\t290.0\t0.10\t 16.00\r\n"
                             "Deltas:\tRate = +6.00 s/d, Rate-D = 2.00 s/d, Rate-P = 1.54 s/d, "
                             "Amp =  50.0\xc2\xb0\r\n"
                             "Means: \tRate = 2.11 s/d, Beat = 0.25 ms, Amp = 280.0\xc2\xb0, "
                             "Positions 4\r\n");
}

TEST(PositionResultsText, GroupDeltasOnlyWhereTheGroupSpreads) {
    const std::vector<PositionResult> oneDial = {{"DU", 10, 1, 280, 0.1}, {"PU", 10, 2, 280, 0.1}};
    EXPECT_EQ(FormatPositionResults(oneDial, 0, 20).find("Rate-D"), std::string::npos);
    EXPECT_EQ(FormatPositionResults(oneDial, 0, 20).find("Rate-P"), std::string::npos);
    const std::vector<PositionResult> equalDials = {{"DU", 10, 1.5, 280, 0.1},
                                                    {"DD", 10, 1.5, 270, 0.1}};
    const std::string text = FormatPositionResults(equalDials, 0, 20);
    EXPECT_EQ(text.find("Rate-D"), std::string::npos);
    EXPECT_NE(text.find("Deltas:\tRate = +0.00 s/d, Amp =  10.0"), std::string::npos) << text;
}

TEST(PositionResultsText, NoSummaryWithoutAMeasuredPosition) {
    const std::vector<PositionResult> skipped = {{"PD", 0.05, 0, 0, 0}, {"PL", 0.02, 0, 0, 0}};
    // The total exceeds 0.1 s although every position was skipped: no division by zero.
    EXPECT_EQ(FormatPositionResults(skipped, 0, 0.2),
              Header + " 1 PD\tSkipped ...\r\n 2 PL\tSkipped ...\r\n");
    const std::vector<PositionResult> measured = {{"PD", 0.1, 1, 280, 0.1}};
    EXPECT_EQ(FormatPositionResults(measured, 0, 0.1).find("Means"), std::string::npos)
        << "a run of 0.1 s or less has no summary";
}

struct TempDir {
    fs::path Path = fs::temp_directory_path() / ("kv-posrun-" + std::to_string(::getpid()));
    TempDir() { fs::create_directories(Path); }
    ~TempDir() { fs::remove_all(Path); }
};

std::string Bytes(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// ASCII and the degree sign (the only other character of the results) as UTF-16LE.
std::string Utf16(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text.compare(i, 2, "\xc2\xb0") == 0) {
            out += std::string("\xb0\x00", 2);
            ++i;
            continue;
        }
        out += text[i];
        out += '\0';
    }
    return out;
}

TEST(ResultsFile, AppendsUtf16LittleEndianWithoutMark) {
    TempDir dir;
    const fs::path file = dir.Path / "results.txt";
    ASSERT_TRUE(AppendResultsText(file.string(), "Ab\r\n"));
    ASSERT_TRUE(AppendResultsText(file.string(), "5\xc2\xb0"));
    EXPECT_EQ(Bytes(file), Utf16("Ab\r\n5") + std::string("\xb0\x00", 2));
    EXPECT_FALSE(AppendResultsText((dir.Path / "no" / "such.txt").string(), "x"));
    EXPECT_FALSE(AppendResultsText(dir.Path.string(), "x")) << "a folder";
    EXPECT_FALSE(AppendResultsText("", "x"));
}

TEST(ResultsFile, AFullDiskLeavesNoPartOfALine) {
    TempDir dir;
    const fs::path file = dir.Path / "results.txt";
    ASSERT_TRUE(AppendResultsText(file.string(), "Ab\r\n"));
    {
        const test::FileSizeLimit diskFull(12); // two more characters fit, not the line
        EXPECT_FALSE(AppendResultsText(file.string(), "Cdef\r\n"));
    }
    EXPECT_EQ(Bytes(file), Utf16("Ab\r\n"));
}

// --- The run's steps ---

struct ScriptedSession : PositionalRunHost {
    explicit ScriptedSession(AnalysisCore& core) : Core(core) {}
    bool MeasurementRunning() const override { return Core.Measurement.Running; }
    void StartMeasurement() override {
        ++Starts;
        Core.PromptText.clear();
        Core.Measurement.Running = true;
    }
    void StopMeasurement() override {
        ++Stops;
        Core.Measurement.Running = false;
    }
    void RepaintNow() override { ++Repaints; }
    AnalysisCore& Core;
    int Starts = 0, Stops = 0, Repaints = 0;
};

struct ScriptedUser : PositionalRunUser {
    void AskToTurnWatch() override { ++TurnRequests; }
    std::optional<ResultsAnnotation> AnnotateResults(const ResultsAnnotation& proposed) override {
        Proposed = proposed;
        return Answer;
    }
    int TurnRequests = 0;
    ResultsAnnotation Proposed;
    std::optional<ResultsAnnotation> Answer;
};

struct RecordingOutput : ClipOutput {
    unsigned SampleRate() const override { return 48000; }
    bool Available() const override { return Plays; }
    bool PlayClip(std::vector<int16_t> samples, std::chrono::milliseconds) override {
        Digits.push_back(test::Symbols(test::DecodeDtmf(samples, 48000)));
        return Plays;
    }
    std::vector<std::string> Digits;
    bool Plays = true;
};

struct NoWaitClock : MillisecondClock {
    uint32_t NowMs() override { return Now; }
    void SleepMs(uint32_t ms) override { Now += ms; }
    uint32_t Now = 0;
};

struct RunFixture : ::testing::Test {
    IdleAnalysisHost Idle;
    AnalysisCore Core{Idle};
    AppSettings Settings;
    ScriptedSession Session{Core};
    ScriptedUser User;
    RecordingOutput Output;
    NoWaitClock Clock;
    PositionalRun Run{Core, Settings, Session, Output, Clock};
    TempDir Dir;

    void SetUp() override {
        Run.SetUser(&User);
        Run.PositionerFile = (Dir.Path / "microphone.ini").string();
        Core.Params.Positions = 3;
        Core.Params.Sequence = "PD-DU-DD";
        Core.Params.PositionAveragingTime = 10;
        Core.Params.Stabilization = 2;
        Core.Params.LiftAngle = 52;
        Core.Params.Averaging = 1;
        Core.Derived.BeatPeriod = 0.2;
        Settings.TextFile2 = (Dir.Path / "results.txt").string();
        Settings.Title = "Cal 6497";
    }
    MeasurementState& M() { return Core.Measurement; }
    // What the capture thread leaves after `seconds` in the current position: a rate, lift
    // times of 40 ms and a beat error of 0.002 (0.4 ms at 0.2 s).
    // Readings count only once the position has settled.
    void Measure(double seconds, double rate, int ticks = 10) {
        const auto n = static_cast<size_t>(M().CurrentPosition);
        M().MeasuredTime += seconds;
        M().StabilizationRemaining = std::max(0.0, M().StabilizationRemaining - seconds);
        if (M().StabilizationRemaining > 0.0) ticks = 0;
        M().PositionRate[n] = rate;
        M().PositionLiftSum[n] = 0.04 * ticks;
        M().PositionLiftCount = ticks;
        M().PositionBeatErrorSum[n] = 0.002 * ticks;
        M().PositionBeatErrorCount = ticks;
    }
};

TEST_F(RunFixture, ManualRunPromptsEachPositionAndShowsTheResults) {
    M().MeasuredTime = 50; // from before the run
    M().DeviationHistory = {{1, 0}, {2, 0}};
    Run.Advance();
    EXPECT_TRUE(Run.Active());
    EXPECT_EQ(M().CurrentPosition, 1);
    EXPECT_EQ(Core.Params.Averaging, 0) << "smoothing off for the run";
    EXPECT_EQ(M().MeasuredTime, 0.0) << "the measurement restarts";
    EXPECT_TRUE(M().DeviationHistory.empty());
    EXPECT_EQ(Core.PromptText,
              "Please place watch in position 1 of 3 (PD)\r\n and click 'Run' to continue.\r\n");
    EXPECT_FALSE(Core.Measurement.Running) << "stopped for the turn";
    EXPECT_EQ(User.TurnRequests, 1);
    EXPECT_DOUBLE_EQ(M().StabilizationRemaining, 2.0);

    Session.StartMeasurement(); // the user clicks Run
    Measure(12, 2.0 / 86400);
    Run.Advance();
    EXPECT_EQ(M().CurrentPosition, 2);
    EXPECT_DOUBLE_EQ(M().PositionRate[1], 2.0);
    EXPECT_NEAR(M().PositionLiftSum[1], 84.1, 0.05) << "40 ms of lift at 0.2 s and 52 degrees";
    EXPECT_NEAR(M().PositionBeatErrorSum[1], 0.4, 1e-12);
    EXPECT_EQ(M().PositionLiftCount, 0);
    EXPECT_EQ(M().PositionBeatErrorCount, 0);
    EXPECT_EQ(M().PositionEndTime[1], 12.0);
    EXPECT_EQ(User.TurnRequests, 2);

    Run.Advance(); // closed early, before a single measurement: skipped
    Session.StartMeasurement();
    Measure(11, -1.0 / 86400);
    Run.Advance();
    EXPECT_FALSE(Run.Active());
    const std::string table = Header + " 1 PD\t+2.00\t 84.1\t0.40\t 10.00\r\n"
                                       " 2 DU\tSkipped ...\r\n"
                                       " 3 DD\t-1.00\t 84.1\t0.40\t  9.00\r\n"
                                       "Deltas:\tRate = +3.00 s/d, Amp =   0.0\xc2\xb0\r\n"
                                       "Means: \tRate = 0.50 s/d, Beat = 0.40 ms, "
                                       "Amp =  84.1\xc2\xb0, Positions 2\r\n";
    EXPECT_EQ(Core.PromptText, table);
    EXPECT_EQ(Run.Results(), table);
    EXPECT_FALSE(Core.Measurement.Running);
    EXPECT_EQ(M().PositionEndTime[3], 0.0) << "the run state is cleared";
    EXPECT_EQ(M().PositionRate[1], 0.0);
    EXPECT_GE(Session.Repaints, 1);
    EXPECT_FALSE(fs::exists(Settings.TextFile2)) << "not asked for";
    EXPECT_TRUE(Output.Digits.empty()) << "no positioner in manual mode";
}

// Fault: a position closed while it still settled, or settled but closed before a reading, was
// listed with zero readings, and its zeros halved the means written to the results file.
TEST_F(RunFixture, OnlyPositionsMeasuredAfterSettlingAreListedAndAveraged) {
    struct Case {
        double Seconds;   // in position 2 before it is closed; it settles for 2 s
        int Ticks;        // readings taken in it after settling
        const char* Line; // position 2 in the table
        const char* Means;
    };
    const Case cases[] = {
        {1.0, 10, " 2 DU\tSkipped ...", "Rate = -3.04 s/d, Beat = 0.40 ms, Amp =  84.1"},
        {1.99, 10, " 2 DU\tSkipped ...", "Positions 1"},
        {12.0, 0, " 2 DU\tSkipped ...", "Positions 1"},
        {12.0, 10, " 2 DU\t-1.00\t 84.1\t0.40\t 10.00", "Rate = -2.02 s/d"},
    };
    Settings.PositionsToText = 1;
    Core.Params.Positions = 2;
    for (const Case& c : cases) {
        Run.Advance();
        Session.StartMeasurement();
        Measure(12, -3.04 / 86400);
        Run.Advance();
        Session.StartMeasurement();
        Measure(c.Seconds, -1.0 / 86400, c.Ticks);
        User.Answer = ResultsAnnotation{Settings.TextFile2, "T", ""};
        Run.Advance();
        EXPECT_NE(Run.Results().find(std::string(c.Line) + "\r\n"), std::string::npos)
            << Run.Results();
        EXPECT_NE(Run.Results().find(c.Means), std::string::npos) << Run.Results();
        EXPECT_NE(Bytes(Settings.TextFile2).find(Utf16(Run.Results())), std::string::npos);
    }
}

// Fault: with duplex audio off a motorised run went through silently, every "position" measured
// where the watch lay; manual runs need no output and must still start.
TEST_F(RunFixture, AMotorisedRunWithoutSoundOutputDoesNotStart) {
    struct Case {
        int Motorised;
        bool Output;
        bool Starts;
    };
    for (const Case c : {Case{1, false, false}, Case{1, true, true}, Case{0, false, true}}) {
        Settings.Motorised = c.Motorised;
        Output.Plays = c.Output;
        Run.Advance();
        EXPECT_EQ(Run.Active(), c.Starts) << c.Motorised << c.Output;
        EXPECT_EQ(Core.PromptText.find("duplex audio is off") != std::string::npos, !c.Starts)
            << Core.PromptText;
        Run.Cancel();
        Session.StopMeasurement(); // as Stop does
    }
    EXPECT_EQ(Session.Starts, 2) << "no measuring for the refused run";
}

TEST_F(RunFixture, ResultsGoToTheFileInThreeAppendsOnOk) {
    Settings.PositionsToText = 1;
    Core.Params.Positions = 1;
    Run.Advance();
    Session.StartMeasurement();
    Measure(12, 0.5 / 86400);
    User.Answer = ResultsAnnotation{(Dir.Path / "chosen.txt").string(), "Title B", "Fine"};
    Run.Advance();
    EXPECT_EQ(User.Proposed.File, (Dir.Path / "results.txt").string());
    EXPECT_EQ(User.Proposed.Title, "Cal 6497");
    EXPECT_EQ(User.Proposed.Comment, "");
    EXPECT_EQ(Settings.TextFile2, User.Answer->File);
    EXPECT_EQ(Settings.Title, "Title B");
    const std::string results = Run.Results();
    EXPECT_EQ(Bytes(User.Answer->File), Utf16("Title B\r\n" + results + "Fine\r\n\r\n"));
    EXPECT_FALSE(fs::exists(Dir.Path / "results.txt"));
    EXPECT_EQ(Core.PromptText, User.Answer->File + " Title B\r\n" + results + "Fine");
}

TEST_F(RunFixture, CancelWritesNothingAndAnUnopenableFileIsSkipped) {
    Settings.PositionsToText = 1;
    Core.Params.Positions = 1;
    Run.Advance();
    Session.StartMeasurement();
    Measure(12, 0.5 / 86400);
    Run.Advance(); // no answer: Cancel
    EXPECT_FALSE(fs::exists(Settings.TextFile2));
    EXPECT_EQ(Core.PromptText, Run.Results()) << "the results stay on screen";
    EXPECT_EQ(Settings.Title, "Cal 6497");

    Run.Advance();
    Session.StartMeasurement();
    Measure(12, 0.5 / 86400);
    const std::string folder = Dir.Path.string();
    User.Answer = ResultsAnnotation{folder, "T", "C"};
    Run.Advance();
    EXPECT_EQ(Core.PromptText, folder + " T\r\n" + Run.Results() + "C");
    EXPECT_TRUE(fs::is_directory(folder)) << "nothing written, no message";
}

TEST_F(RunFixture, MotorisedRunMovesThePositionerAndKeepsMeasuring) {
    Settings.Motorised = 1;
    std::ofstream(Run.PositionerFile) << "[Microphone]\nPD0=100\nPD1=-20\nDU0=40\nDU1=30\n";
    Run.Advance();
    EXPECT_TRUE(Core.Measurement.Running) << "measuring starts and goes on";
    EXPECT_EQ(Session.Stops, 0);
    EXPECT_TRUE(Core.PromptText.empty());
    EXPECT_EQ(Output.Digits, (std::vector<std::string>{"2064#014"})) << "(0, 0) to (100, -20)";
    // The tones (800 ms) and a beat (200 ms) add to the settling time.
    EXPECT_DOUBLE_EQ(M().StabilizationRemaining, 1.0 + 2.0);
    Measure(12, 1.0 / 86400);
    Run.Advance();
    EXPECT_EQ(Output.Digits.back(), "603CA032");
    EXPECT_EQ(Run.PositionerAt(), (PositionerPoint{40, 30}));
    Measure(12, 1.0 / 86400);
    Run.Advance();
    EXPECT_EQ(Output.Digits.back(), "6028#01#") << "DD is absent: to 0, 0";
    Measure(12, 1.0 / 86400);
    Run.Advance();
    EXPECT_FALSE(Run.Active());
    EXPECT_EQ(Output.Digits.size(), 5u) << "home, then the empty command";
    EXPECT_EQ(Output.Digits[3], "2000A000") << "already at home";
    EXPECT_EQ(Output.Digits[4], "00008000");
    EXPECT_FALSE(Core.Measurement.Running);
    EXPECT_NE(Core.PromptText.find("Positions 3"), std::string::npos) << Core.PromptText;
}

// Fault: a position beyond 16 bits, or no number at all, started a run that sent the watch to a
// wrapped or zero position without a word.
TEST_F(RunFixture, AMotorisedRunStartsOnlyWithWholeNumbersOfStepsInRange) {
    Settings.Motorised = 1;
    for (const char* bad : {"40000", "-32769", "4294967295", "12abc"}) {
        std::ofstream(Run.PositionerFile) << "[Microphone]\nPD0=100\nDD1=" << bad << "\n";
        Run.Advance();
        EXPECT_FALSE(Run.Active()) << bad;
        EXPECT_NE(Core.PromptText.find("DD1=" + std::string(bad) +
                                       " is not a whole number of steps from -32768 to 32767"),
                  std::string::npos)
            << Core.PromptText;
    }
    EXPECT_TRUE(Output.Digits.empty());
    std::ofstream(Run.PositionerFile) << "[Microphone]\nPD0=32767\nPD1=+12\nDD1=-32768\n";
    M().Running = true; // measuring already, so only the run can take the reason down
    Run.Advance();
    EXPECT_TRUE(Run.Active());
    EXPECT_EQ(Run.PositionerAt(), (PositionerPoint{32767, 12}));
    EXPECT_EQ(Core.PromptText, "");
}

TEST_F(RunFixture, CancelSendsThePositionerHomeAndForgetsTheRun) {
    Settings.Motorised = 1;
    std::ofstream(Run.PositionerFile) << "[Microphone]\nPD0=7\n";
    Run.Advance();
    Measure(3, 1.0 / 86400);
    Run.Cancel();
    EXPECT_FALSE(Run.Active());
    EXPECT_EQ(M().PositionLiftCount, 0);
    EXPECT_EQ(M().PositionRate[1], 0.0);
    EXPECT_EQ(Output.Digits, (std::vector<std::string>{"2007A000", "6007A000", "00008000"}));
    EXPECT_EQ(Run.PositionerAt(), (PositionerPoint{}));
    Run.Cancel();
    EXPECT_EQ(Output.Digits.size(), 3u) << "nothing to cancel";
}

TEST_F(RunFixture, NoRunWithoutAnAveragingTime) {
    Core.Params.PositionAveragingTime = 0;
    M().CurrentPosition = 2;
    Run.Advance();
    EXPECT_FALSE(Run.Active());
    EXPECT_EQ(Session.Starts, 0);
}

TEST_F(RunFixture, HandOverAnnotationOnceThePositionWindowIsFull) {
    Settings.Motorised = 1;
    Run.Advance();
    EXPECT_EQ(Run.HandOverAnnotation(), std::nullopt);
    M().PositionWindowFull = true;
    EXPECT_EQ(Run.HandOverAnnotation(), "1 PD") << "nothing measured in the position yet";
    M().MeasuredTime = 12;
    M().Rate = 1.5 / 86400;
    EXPECT_EQ(Run.HandOverAnnotation(), "1 PD  +1.50 s/d");
    Run.Advance();
    M().PositionWindowFull = true;
    EXPECT_EQ(Run.HandOverAnnotation(), "2 DU") << "measured time still at the first's end";
}

} // namespace
} // namespace kv
