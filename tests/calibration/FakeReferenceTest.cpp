// SPDX-License-Identifier: GPL-3.0-or-later
// A time reference added the way a new one is: its driver and one registry line. A run against
// it goes through the registry, the factory and the engine, and finds the card's rate against it.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>

#include "../settings/SettingsTestSupport.h"
#include "CalibrationTestSupport.h"
#include "calibration/CalibrationEngine.h"

namespace kv {
namespace {

using namespace std::chrono_literals;
using namespace caltest;

// A reference whose time runs `rate` times as fast as the test's counter; the card runs at the
// counter's pace, so its factor against this reference is 1 / rate.
class FakeReference : public TimeReference {
public:
    FakeReference(const TimestampClock& clock, const ManualClockSource& source, double rate)
        : Clock(clock), Source(source), Rate(rate), Start(source.Counter) {}
    bool ReadOffset(ReadingPhase, const StillWanted& stillWanted, double& offsetSeconds,
                    std::string& status) override {
        if (!stillWanted()) return false;
        const int64_t counter = Source.Counter;
        const double reference = Rate * static_cast<double>(counter - Start) / CounterPerSecond;
        const double clock =
            static_cast<double>(static_cast<int64_t>(Clock.CounterToUtc(counter) - Utc2024)) /
            CalibrationEngine::Units100nsPerSecond;
        offsetSeconds = reference - clock;
        status = "Fake Ok";
        return true;
    }

private:
    const TimestampClock& Clock;
    const ManualClockSource& Source;
    const double Rate;
    const int64_t Start;
};

struct FakeReferenceRun : ::testing::Test, CalibrationRig {
    static constexpr double ReferenceRate = 1.0 - 100e-6; // 100 ppm slow: the card 8.64 s/d fast

    // The built-in kinds and the fake, added with one line.
    ReferenceRegistry Registry() {
        ReferenceRegistry registry = BuiltInReferences();
        registry.Add({"Fake", "Fake",
                      [this](const ReferenceSettings&, const ReferenceEnvironment& env) {
                          return std::make_unique<FakeReference>(env.Clock, Source, ReferenceRate);
                      },
                      nullptr});
        return registry;
    }
};

TEST_F(FakeReferenceRun, ARegisteredReferenceCalibratesTheCardAgainstItsOwnRate) {
    Core.Settings.SampleRate = Rate;
    Core.SetBeatPeriod(0.2);
    SystemCalibrationReferences references(Registry(), Clock);
    CalibrationEngine engine(
        Core, App, Host, references,
        CalibrationClocks{Clock, SystemClock, [this] { return Ticks.load(); }});
    const std::optional<ReferenceId> fake = engine.Registry().Find("Fake");
    ASSERT_TRUE(fake);

    Advance(1.0);
    engine.StartReferenceCalibration(*fake);
    constexpr int Readings = 120; // the first, the countdown and about a hundred points
    for (int i = 0; i < Readings; ++i) {
        ASSERT_GE(Host.Timer(TimerCalibrationCycle), 0) << "the run ended after " << i;
        Host.KillTimer(TimerCalibrationCycle);
        engine.OnCycleTimer();
        ASSERT_TRUE(engine.WaitForWorker(10s));
        Advance(App.CalUpdateInterval / 1000.0);
    }
    EXPECT_NE(engine.Progress().ReferenceStatusText.find("Fake Ok"), std::string::npos);
    ASSERT_GT(engine.Progress().Bins.N[0], 50);

    Host.Choice = EndChoice::ApplyAndEnd;
    engine.FinishCalibration();
    ASSERT_EQ(Host.Reports.size(), 1u);
    constexpr double Tolerance = 0.05 / 86400.0; // 0.05 s/d, far below the card's 8.64 s/d
    EXPECT_NEAR(CalFactorFor(Rate, Core.Settings.Cal), 1.0 / ReferenceRate, Tolerance)
        << Host.Reports[0];
    EXPECT_EQ(engine.Flags(), calflags::None);
}

} // namespace
} // namespace kv
