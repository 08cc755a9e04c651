// SPDX-License-Identifier: GPL-3.0-or-later
// The calibration engine with scripted references, a hand-driven counter and tick count, and a
// host that records timers and answers the questions: the worker's steps, the fit, pause and
// continue, the end of a run and the local standard.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <thread>

#include "../settings/SettingsTestSupport.h"
#include "CalibrationTestSupport.h"
#include "calibration/CalibrationEngine.h"
#include "settings/SettingsIO.h"
#include "timebase/NtpTime.h"

namespace kv {
namespace {

using namespace caltest;

using namespace std::chrono_literals;

struct ScriptedReading {
    bool Ok = true;
    double Offset = 0.0;
    std::string Status = "SNTP Ok";
};

// Hands out the scripted readings in order (a good zero offset once they run out) and can hold
// a reading until released, the way a slow server would.
class ScriptedReferences : public CalibrationReferences {
public:
    const ReferenceRegistry& Registry() const override { return Kinds; }
    bool Read(ReferenceId id, ReadingPhase phase, const ReferenceSettings&,
              const StillWanted& wanted, double& offset, std::string& status) override {
        std::unique_lock lock(Mutex);
        Phases.push_back(phase);
        GpsReadings += id == Gps ? 1 : 0;
        Reading = true;
        Changed.notify_all();
        // Looks often: the reading ends as soon as it is no longer wanted, as a real one does.
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        while (Hold && wanted() && std::chrono::steady_clock::now() < deadline)
            Changed.wait_for(lock, 5ms);
        Reading = false;
        if (!wanted()) return false;
        ScriptedReading next;
        if (!Script.empty()) {
            next = Script.front();
            Script.pop_front();
        }
        offset = next.Offset;
        status = next.Status;
        return next.Ok;
    }
    // Only the GPS receiver has a port to open.
    bool Open(ReferenceId id, const ReferenceSettings& settings, std::string& error) override {
        if (id != Gps) return true;
        OpenedPort = settings.GpsPort;
        if (!OpenError.empty()) error = OpenError;
        PortOpen = OpenError.empty();
        return PortOpen;
    }
    void Close() override { PortOpen = false; }
    bool AnyOpen() const override { return PortOpen; }

    void Release() {
        std::lock_guard lock(Mutex);
        Hold = false;
        Changed.notify_all();
    }
    bool WaitUntilReading() {
        std::unique_lock lock(Mutex);
        return Changed.wait_for(lock, 10s, [&] { return Reading; });
    }

    std::mutex Mutex;
    std::condition_variable Changed;
    std::deque<ScriptedReading> Script;
    std::vector<ReadingPhase> Phases;
    int GpsReadings = 0;
    bool Hold = false, Reading = false;
    std::string OpenError, OpenedPort;
    std::atomic<bool> PortOpen{false};
    ReferenceRegistry Kinds = BuiltInReferences();
    const ReferenceId Sntp = *Kinds.Find("Sntp"), Gps = *Kinds.Find("Gps");
};

struct CalibrationEngineTest : ::testing::Test, CalibrationRig {
    ScriptedReferences References;
    std::unique_ptr<CalibrationEngine> Engine;

    void SetUp() override {
        Core.Settings.SampleRate = Rate;
        Core.SetBeatPeriod(0.2);
        Engine = MakeEngine(Core, App);
    }
    std::unique_ptr<CalibrationEngine> MakeEngine(AnalysisCore& core, AppSettings& app) {
        return std::make_unique<CalibrationEngine>(
            core, app, Host, References,
            CalibrationClocks{Clock, SystemClock, [this] { return Ticks.load(); }});
    }

    // Timer 106 fires: one worker run, waited for.
    void Cycle() {
        ASSERT_GE(Host.Timer(TimerCalibrationCycle), 0) << "timer 106 is not running";
        Host.KillTimer(TimerCalibrationCycle);
        Engine->OnCycleTimer();
        ASSERT_TRUE(Engine->WaitForWorker(10s));
    }
    // Readings at the update interval, each after that much time has passed.
    void Cycles(int n) {
        for (int i = 0; i < n && !HasFatalFailure(); ++i) {
            Advance(App.CalUpdateInterval / 1000.0);
            Cycle();
        }
    }
    std::string Status() {
        const auto lock = Engine->State().HoldLock();
        return Engine->State().Text();
    }
    // The fifteen readings after a start phase's first one count down from 14 to 0 and add no
    // point.
    void ExpectFullCountdown() {
        const int64_t points = Engine->Progress().Bins.N[0];
        for (int expected = 14; expected >= 0 && !HasFatalFailure(); --expected) {
            Cycles(1);
            EXPECT_EQ(Engine->Progress().ReferenceStatusText,
                      "SNTP Ok\r\nCountdown " + std::to_string(expected) + "\r\n");
            EXPECT_EQ(Engine->Progress().Bins.N[0], points);
        }
    }
    // Start, first reading and the fifteen countdown readings: the next reading is a point.
    void StartAndCountDown() {
        Advance(1.0);
        Engine->StartReferenceCalibration(References.Sntp);
        Cycle();
        Cycles(CalibrationWorkerState::CountdownReadings);
    }
};

TEST_F(CalibrationEngineTest, FirstReadingStepsTheClockThenFifteenCountdownLinesThenPoints) {
    Advance(1.0);
    Engine->StartReferenceCalibration(References.Sntp);
    EXPECT_EQ(Engine->Flags(), 513);
    EXPECT_EQ(Host.Timer(TimerCalibrationCycle), 1725);
    EXPECT_NE(Status().find("\r\nStarting SNTP cal"), std::string::npos);

    References.Script = {{true, 2.5, "SNTP Ok"}};
    const uint64_t before = Clock.CounterToUtc(Source.Counter);
    Cycle();
    EXPECT_EQ(Clock.CounterToUtc(Source.Counter), before + 25'000'000u);
    EXPECT_EQ(Engine->Flags(), 1) << "the start phase ends with the first good reading";
    EXPECT_EQ(Engine->Progress().ReferenceStatusText, "SNTP Ok\r\n");
    EXPECT_EQ(Engine->Progress().Countdown, 15);
    EXPECT_EQ(Host.Timer(TimerCalibrationCycle), 10000);
    EXPECT_NE(Status().find("Synchronising calibration"), std::string::npos);

    ExpectFullCountdown();
    Cycles(1);
    const CalibrationProgress p = Engine->Progress();
    EXPECT_EQ(p.Bins.N[0], 1);
    EXPECT_EQ(p.Countdown, CalibrationWorkerState::CollectingPoints);
    EXPECT_NE(p.ReferenceStatusText.find(" UTC\r\n"), std::string::npos);
    ASSERT_EQ(References.Phases.size(), 17u);
    EXPECT_EQ(References.Phases[0], ReadingPhase::Start);
    EXPECT_EQ(References.Phases[1], ReadingPhase::Running);
}

TEST_F(CalibrationEngineTest, ACorrectionDuringTheCountdownHoldsItAndTrimsTheClock) {
    Advance(1.0);
    Engine->StartReferenceCalibration(References.Sntp);
    Cycle();
    Cycles(3); // countdown 14, 13, 12
    References.Script = {{true, 0.02, "SNTP Ok"}};
    const uint64_t before = Clock.CounterToUtc(Source.Counter + 10 * CounterPerSecond);
    Cycles(1);
    EXPECT_EQ(Engine->Progress().ReferenceStatusText, "SNTP Ok\r\nCountdown held 15\r\n")
        << "fewer than five readings since the last correction restart the countdown";
    EXPECT_LT(Clock.GetTrim(), 1.0) << "a clock behind the reference is made to run faster";
    // The mean offset of the readings since the last correction (0.02 s / 4) was stepped.
    EXPECT_NEAR(static_cast<double>(Clock.CounterToUtc(Source.Counter)) -
                    static_cast<double>(before),
                0.005e7, 2000.0);
}

TEST_F(CalibrationEngineTest, FailedAndUntrustedReadingsLeaveTheRunAsItWas) {
    Advance(1.0);
    Engine->StartReferenceCalibration(References.Sntp);
    References.Script = {{false, 0.0, "No response from pool.ntp.org on port 123"},
                         {true, 2000.0, "SNTP Ok"}};
    const uint64_t before = Clock.CounterToUtc(Source.Counter);
    Cycle();
    EXPECT_EQ(Engine->Progress().ReferenceStatusText,
              "No response from pool.ntp.org on port 123\r\n");
    EXPECT_EQ(Engine->Flags(), 513);
    EXPECT_EQ(Host.Timer(TimerCalibrationCycle), 1000) << "the start phase retries each second";
    Cycle();
    EXPECT_EQ(Engine->Progress().ReferenceStatusText,
              "SNTP Ok\r\nUntrusted time from server.\r\nMore than 30 mins error.\r\n"
              "Please check system time.\r\n");
    EXPECT_EQ(Clock.CounterToUtc(Source.Counter), before);
    EXPECT_EQ(Engine->Flags(), 513);
}

TEST_F(CalibrationEngineTest, StatisticsAppearAfterThreeIntervalsAndFindTheCardsRate) {
    CardRateError = 62.5e-6; // 5.4 s/d fast: 30 samples more every 10 s
    StartAndCountDown();
    Cycles(3); // points at 0, 10 and 20 s of reference time
    EXPECT_NE(Status().find("Synchronising calibration\r\nTime elapsed 00:00:20"),
              std::string::npos);
    Cycles(1); // 30 s: not yet more than three intervals
    EXPECT_NE(Status().find("Synchronising calibration"), std::string::npos);
    Cycles(1);
    const std::string text = Status();
    EXPECT_NE(text.find("\r\nTime elapsed 00:00:40\r\nCal factor in use +0.0000 s/d\r\n"
                        "Cal factor suggested +5.4000 s/d\r\nConfidence +/- "),
              std::string::npos)
        << text;
}

// Bin k is copied from bin 0 at every point of the k-th quarter-hour (90 points of 10 s), so it
// ends holding the window of 90k + 89 points.
TEST_F(CalibrationEngineTest, WindowSnapshotsEveryNinetyPointsAndSlidesAfterTwelveHours) {
    StartAndCountDown();
    Cycles(89);
    EXPECT_EQ(Engine->Progress().Bins.N[1], 0);
    Cycles(1);
    EXPECT_EQ(Engine->Progress().Bins.N[1], 90);
    Cycles(48 * 90 - 90 - 1);
    CalibrationProgress p = Engine->Progress();
    EXPECT_EQ(p.Bins.N[0], 48 * 90 - 1);
    for (int k = 1; k <= 47; ++k)
        EXPECT_EQ(p.Bins.N[k], 90 * k + 89) << k;
    const double oldestSumX = p.Bins.SumX[1];
    const double windowSumX = p.Bins.SumX[0];
    Cycles(1); // the 4320th point: the oldest snapshot leaves the window
    p = Engine->Progress();
    EXPECT_EQ(p.Bins.N[0], 48 * 90 - 179);
    EXPECT_GT(p.Bins.SumX[0], windowSumX - oldestSumX) << "the new point was added first";
    for (int k = 1; k <= 46; ++k)
        EXPECT_EQ(p.Bins.N[k], 90 * k) << k;
    EXPECT_EQ(p.Bins.N[47], 47 * 90 - 90) << "bin 47 keeps its value";
    Cycles(2);
    EXPECT_NE(Status().find("Time elapsed 12:00:00"), std::string::npos)
        << "the elapsed time shown stops at twelve hours";
}

TEST_F(CalibrationEngineTest, PauseKeepsTheRunAndContinueLeavesThePausedTimeOut) {
    StartAndCountDown();
    Cycles(5);
    const CalibrationProgress before = Engine->Progress();
    Engine->MeasuringStopped();
    EXPECT_EQ(Engine->Flags(), 0x101);
    EXPECT_EQ(Host.Timer(TimerCalibrationCycle), -1);
    EXPECT_EQ(Engine->Progress().Bins.StartTime, before.TotalTime);
    EXPECT_EQ(Engine->Progress().Bins.StartSample, before.TotalSamples);

    Advance(3600.0); // an hour stopped
    {
        const auto lock = Core.HoldAnalysis();
        Core.ClockRegression.TotalSamples = 0; // a new Run counts samples afresh
    }
    SampleSeconds = 0.0;
    Engine->ContinueCalibration();
    EXPECT_EQ(Engine->Flags(), 0x201);
    EXPECT_EQ(Host.Timer(TimerCalibrationCycle), 1000);
    EXPECT_NE(Status().find("\r\nContinuing calibration"), std::string::npos);
    Advance(1.0);
    Cycle();
    ExpectFullCountdown(); // the clock may have drifted while stopped: it settles again in full
    Cycles(1);
    const CalibrationProgress after = Engine->Progress();
    EXPECT_EQ(after.Bins.N[0], before.Bins.N[0] + 1);
    EXPECT_EQ(after.TotalTime, before.TotalTime) << "the first point after a pause continues it";
    Cycles(1);
    EXPECT_NEAR(static_cast<double>(Engine->Progress().TotalTime - before.TotalTime), 10e7, 1e3);
}

TEST_F(CalibrationEngineTest, ARunContinuesAfterARestartFromTheSettingsFile) {
    StartAndCountDown();
    Cycles(5);
    Engine->MeasuringStopped();
    test::TempFolder folder;
    SettingsStore store(folder / "Kestrovane.ini");
    {
        const auto calibration = Engine->HoldForSaving();
        ASSERT_TRUE(SaveSettings(store, Core, App, Clock));
    }
    const CalibrationProgress saved = Engine->Progress();
    Engine.reset();

    AnalysisCore restarted(AnalysisOwner, Clock);
    AppSettings restartedApp;
    SettingsStore again(folder / "Kestrovane.ini");
    ASSERT_TRUE(again.Load());
    LoadSettings(again, restarted, restartedApp, Clock);
    auto engine = MakeEngine(restarted, restartedApp);
    engine->AdoptStoredMode();
    EXPECT_EQ(engine->Flags(), 0x101);
    EXPECT_EQ(engine->Progress().Bins.N[0], saved.Bins.N[0]);
    EXPECT_EQ(engine->Progress().Bins.StartTime, saved.TotalTime);
    engine->ContinueCalibration();
    EXPECT_EQ(engine->Flags(), 0x201);
    EXPECT_EQ(Host.Timer(TimerCalibrationCycle), 1000);
}

// A save waits while the worker holds the calibration lock: it would store a half-updated run.
TEST_F(CalibrationEngineTest, ASettingsSaveWaitsForTheCalibrationLock) {
    test::TempFolder folder;
    SettingsStore store(folder / "Kestrovane.ini");
    std::atomic<bool> saved{false};
    auto calibration = Engine->State().HoldLock();
    std::thread saver([&] {
        const auto hold = Engine->HoldForSaving();
        SaveSettings(store, Core, App, Clock);
        saved = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(saved);
    calibration.unlock();
    saver.join();
    EXPECT_TRUE(saved);
}

// A run stored by the program's exit (paused) or by "apply and continue" (running) loses nothing
// when the next program stops it and finishes it before its first new point.
TEST_F(CalibrationEngineTest, AStoredRunSurvivesStopAndFinishBeforeItsFirstNewPoint) {
    test::TempFolder folder;
    SettingsStore store(folder / "Kestrovane.ini");
    auto restartIntoTheCountdown = [&] { // the program saves and ends, a new one measures
        {
            const auto calibration = Engine->HoldForSaving();
            ASSERT_TRUE(SaveSettings(store, Core, App, Clock));
        }
        Engine.reset();
        App = AppSettings{};
        ASSERT_TRUE(store.Load());
        LoadSettings(store, Core, App, Clock);
        Engine = MakeEngine(Core, App);
        Engine->AdoptStoredMode();
        Engine->ContinueCalibration();
        Advance(1.0);
        Cycle();
        Cycles(3);
    };
    for (const bool paused : {true, false}) {
        StartAndCountDown();
        Cycles(60);
        if (paused) Engine->MeasuringStopped();
        const CalibrationProgress stored = Engine->Progress();
        restartIntoTheCountdown();
        Engine->MeasuringStopped();
        restartIntoTheCountdown();
        Host.Reports.clear();
        Engine->FinishCalibration();
        ASSERT_EQ(Host.Reports.size(), 1u) << paused;
        EXPECT_EQ(Host.Reports[0].rfind("Time elapsed 00:09:50\r\n", 0), 0u) << Host.Reports[0];
        EXPECT_EQ(Engine->Progress().Bins.N[0], 60);
        Cycles(Engine->Progress().Countdown + 1);
        EXPECT_EQ(Engine->Progress().TotalTime, stored.TotalTime) << "the new point follows on";
    }
}

TEST_F(CalibrationEngineTest, TheEndDialogContinuesAppliesOrAbandons) {
    CardRateError = 62.5e-6;
    StartAndCountDown();
    Cycles(6);

    Host.Choice = EndChoice::Continue; // also what a cancelled dialog gives
    Engine->FinishCalibration();
    ASSERT_EQ(Host.Reports.size(), 1u);
    EXPECT_NE(Host.Reports[0].find("Time elapsed 00:00:50\r\nCal factor in use +0.0000 s/d\r\n"
                                   "Cal factor suggested +5.4000 s/d\r\nLast time correction 0 "
                                   "seconds ago.\r\nConfidence +/- "),
              std::string::npos)
        << Host.Reports[0];
    EXPECT_EQ(Engine->Flags(), 1);
    EXPECT_EQ(Host.Timer(TimerCalibrationCycle), 10000);
    EXPECT_NE(Status().find("\r\nContinuing calibration"), std::string::npos);
    EXPECT_EQ(Core.Settings.Cal.CalFactor48, 1.0);

    Host.Choice = EndChoice::Abandon;
    Host.Answers = {Answer::No};
    Engine->FinishCalibration();
    EXPECT_EQ(Host.Asked.back(), "Are you sure you wish to abandon this calibration?");
    EXPECT_EQ(Engine->Flags(), 1) << "No to the abandon question continues";

    Host.Choice = EndChoice::ApplyAndContinue;
    Cycles(1);
    Engine->FinishCalibration();
    EXPECT_NEAR(FactorToSecondsPerDay(Core.Settings.Cal.CalFactor48), 5.4, 0.0001);
    EXPECT_EQ(Host.Saves, 1);
    EXPECT_EQ(Engine->Flags(), 1);
    EXPECT_NE(Status().find("\r\nCal factor applied.\r\nContinuing calibration"),
              std::string::npos);
    EXPECT_NEAR(Host.SamplesPerBuffer, Core.Derived.SamplesPerBuffer, 1e-9);

    Host.Choice = EndChoice::ApplyAndEnd;
    Engine->FinishCalibration();
    EXPECT_EQ(Engine->Flags(), 0);
    EXPECT_EQ(Engine->Progress().Bins.N[0], 0);
    EXPECT_EQ(Host.Timer(TimerCalibrationCycle), -1);
}

// Finishing before a fit ends a run without points at once, one with points only when the user
// agrees to lose them; a kept run reads on.
TEST_F(CalibrationEngineTest, FinishingBeforeThreeIntervalsEndsARunWithPointsOnlyIfTheUserAgrees) {
    struct Row {
        int Points;
        Answer Abandon;
        bool Kept;
    };
    for (const Row r :
         {Row{0, Answer::No, false}, Row{2, Answer::Yes, false}, Row{2, Answer::No, true}}) {
        Host.Asked.clear();
        Host.Answers = {r.Abandon};
        StartAndCountDown();
        Cycles(r.Points);
        Engine->FinishCalibration();
        EXPECT_EQ(Host.Asked.size(), r.Points ? 1u : 0u) << r.Points;
        EXPECT_EQ(Engine->Progress().Bins.N[0], r.Kept ? r.Points : 0) << r.Points;
        EXPECT_EQ(Host.Timer(TimerCalibrationCycle), r.Kept ? 10000 : -1) << r.Points;
    }
    EXPECT_EQ(Host.Asked[0],
              "Less than 30 seconds has elapsed. Do you want to abandon this calibration?");
}

// A single stored point gives no fit: applying leaves the factor, says why and keeps the run,
// even when the choice was to end it.
TEST_F(CalibrationEngineTest, AFactorTheFitCannotGiveIsNotAppliedAndTheRunIsKept) {
    for (const EndChoice choice : {EndChoice::ApplyAndContinue, EndChoice::ApplyAndEnd}) {
        App.Cal = {};
        App.Cal.N[0] = 1;
        App.Cal.TotalTime = 100 * 10'000'000; // 100 s: long enough for the end dialog
        {
            const auto calibration = Engine->State().HoldLock();
            Engine->State().SetMode(0x101);
        }
        Engine->ContinueCalibration();
        Host.Choice = choice;
        Engine->FinishCalibration();
        EXPECT_NE(Status().find("\r\nCal factor not applied: too few points for a fit.\r\n"
                                "Continuing calibration"),
                  std::string::npos)
            << Status();
        EXPECT_EQ(Core.Settings.Cal.CalFactor48, 1.0);
        EXPECT_EQ(Engine->Progress().Bins.N[0], 1);
    }
}

TEST_F(CalibrationEngineTest, FinishingWaitsForAReadingInProgress) {
    StartAndCountDown();
    Cycles(6);
    References.Hold = true;
    Advance(10.0);
    Host.KillTimer(TimerCalibrationCycle);
    Engine->OnCycleTimer();
    ASSERT_TRUE(References.WaitUntilReading());
    Host.Choice = EndChoice::Continue;
    Engine->FinishCalibration(); // the reading sees it is no longer wanted and ends
    EXPECT_EQ(Host.Reports.size(), 1u);
    EXPECT_EQ(Engine->Flags(), 1);
    References.Release();
}

TEST_F(CalibrationEngineTest, GpsRunsOpenThePortAndAFailureEndsTheRun) {
    App.GPSPort = "/dev/ttyUSB7";
    References.OpenError = "Unable to open /dev/ttyUSB7";
    Engine->StartReferenceCalibration(References.Gps);
    EXPECT_EQ(Engine->Flags(), 0);
    EXPECT_NE(Status().find("\r\nStarting GPS cal\r\nUnable to start GPS calibration.\r\n"
                            "Unable to open /dev/ttyUSB7"),
              std::string::npos);
    EXPECT_EQ(Host.Timer(TimerClearCalibrationText), 2000);
    EXPECT_EQ(Host.Timer(TimerCalibrationCycle), -1);

    References.OpenError.clear();
    Engine->StartReferenceCalibration(References.Gps);
    EXPECT_EQ(Engine->Flags(), 514);
    EXPECT_TRUE(References.PortOpen);
    Advance(1.0);
    Cycle();
    EXPECT_EQ(References.GpsReadings, 1);
    Engine->MeasuringStopped();
    EXPECT_FALSE(References.PortOpen) << "pausing closes the port";
}

TEST_F(CalibrationEngineTest, TheSystemClockIsSetOnceAfterTheCountdown) {
    Advance(1.0);
    Engine->StartReferenceCalibration(References.Sntp);
    Cycle();
    Engine->ToggleCorrectSystemClock();
    Cycles(CalibrationWorkerState::CountdownReadings);
    EXPECT_EQ(SystemClock.Requests(), 0) << "nothing is set during the countdown";
    EXPECT_TRUE(Engine->CorrectSystemClockRequested());
    Cycles(1);
    ASSERT_EQ(SystemClock.Requests(), 1);
    // Right after a correction the system clock gets the timestamp clock, in whole milliseconds.
    const uint64_t expected = Clock.CounterToUtc(Source.Counter);
    EXPECT_EQ(*SystemClock.LastSet(), expected - expected % 10'000);
    EXPECT_FALSE(Engine->CorrectSystemClockRequested());
    Cycles(1);
    EXPECT_EQ(SystemClock.Requests(), 1);
}

// --- Local standard ---

struct LocalStandardTest : CalibrationEngineTest {
    void StartWith(double factor) {
        Core.Settings.Cal.CalFactor48 = factor;
        Engine->StartLocalCalibration();
    }
    void Measured(double seconds, double accumulatedRate) {
        const auto lock = Core.HoldAnalysis();
        Core.Measurement.MeasuredTime = seconds;
        Core.Measurement.AccumulatedRate = accumulatedRate;
    }
};

TEST_F(LocalStandardTest, StartingMeasuresWithFactorOneAndStoppingRestoresTheOldFactor) {
    StartWith(1.00001);
    EXPECT_EQ(Engine->Flags(), 16);
    EXPECT_EQ(Core.Settings.Cal.CalFactor48, 1.0);
    EXPECT_NEAR(Host.SamplesPerBuffer,
                Rate * 0.2 * Core.Derived.BeatsPerBuffer / Core.Derived.BuffersPerBeat, 1e-9);
    Engine->MeasuringStopped();
    EXPECT_EQ(Engine->Flags(), 0);
    EXPECT_EQ(Core.Settings.Cal.CalFactor48, 1.00001);
}

TEST_F(LocalStandardTest, FinishingBefore60SecondsAsksWhetherToAbandon) {
    StartWith(1.00001);
    Measured(59.0, 25e-6);
    Host.Answers = {Answer::No};
    Engine->FinishCalibration();
    ASSERT_EQ(Host.Asked.size(), 1u);
    EXPECT_EQ(Host.Asked[0],
              "Less than 60 seconds has elapsed. Do you want to abandon this measurement?");
    EXPECT_EQ(Engine->Flags(), 16);
    Host.Answers = {Answer::Yes};
    Engine->FinishCalibration();
    EXPECT_EQ(Engine->Flags(), 0);
    EXPECT_EQ(Core.Settings.Cal.CalFactor48, 1.00001);
}

TEST_F(LocalStandardTest, FinishingAfter61SecondsOffersTheFactorAndTheTrim) {
    StartWith(1.00001);
    Measured(61.0, 25e-6);
    Host.Answers = {Answer::No};
    Engine->FinishCalibration();
    ASSERT_EQ(Host.Asked.size(), 1u);
    EXPECT_EQ(Host.Asked[0], "Time elapsed 61.0 secs \nCal factor in use +0.864 s/d\nCal factor "
                             "suggested -2.160 s/d \nClick 'Yes' to apply, 'No' to continue "
                             "measurement or 'Cancel' to abandon.");
    EXPECT_EQ(Engine->Flags(), 16) << "No continues the measurement";

    Host.Answers = {Answer::Yes, Answer::Yes};
    Engine->FinishCalibration();
    EXPECT_EQ(Engine->Flags(), 0);
    EXPECT_NEAR(Core.Settings.Cal.CalFactor48, 1.0 - 25e-6, 1e-15);
    ASSERT_EQ(Host.Asked.size(), 3u);
    EXPECT_EQ(Host.Asked[2], "Timestamp tuning in use +0.0000 s/d\nTimestamp tuning suggested "
                             "+2.1601 s/d\nClick 'Yes' to apply, 'No' to leave unchanged.");
    EXPECT_NEAR(Clock.GetTrim(), 1.0 / (1.0 - 25e-6), 1e-12);
    EXPECT_EQ(Host.Saves, 1);
}

TEST_F(LocalStandardTest, CancelAbandonsAndRestoresTheOldFactor) {
    StartWith(1.00001);
    Measured(120.0, 25e-6);
    Host.Answers = {Answer::Cancel};
    Engine->FinishCalibration();
    EXPECT_EQ(Engine->Flags(), 0);
    EXPECT_EQ(Core.Settings.Cal.CalFactor48, 1.00001);
    EXPECT_EQ(Host.Saves, 0);
}

} // namespace
} // namespace kv
