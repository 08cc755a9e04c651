// SPDX-License-Identifier: GPL-3.0-or-later
// Calibration through the measuring view: the end dialog, the command states, the local standard
// with its message boxes, and a reference run that pauses with Stop and continues with Run.
#include <gtest/gtest.h>

#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <deque>

#include "SignalSource.h"
#include "TickSynthesizer.h"
#include "ui/dialogs/DEndCal.h"
#include "ui/view/ChildView.h"

namespace kv {
namespace {

template <typename Predicate> bool WaitFor(Predicate done, int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < timeoutMs)
        QTest::qWait(10);
    return done();
}

QPushButton* Button(QDialog& dialog, const QString& text) {
    for (QPushButton* b : dialog.findChildren<QPushButton*>())
        if (b->text().remove(QLatin1Char('&')) == text) return b;
    return nullptr;
}

TEST(EndCalibrationDialog, ShowsTheReportAndFourChoicesWithTheFirstSelected) {
    CDEndCal dialog(QStringLiteral("Time elapsed 01:00:00\nCal factor in use +0.0000 s/d"));
    EXPECT_EQ(dialog.windowTitle(), "End calibration dialog");
    auto* report = dialog.findChild<QPlainTextEdit*>("id2207");
    ASSERT_NE(report, nullptr);
    EXPECT_TRUE(report->isReadOnly());
    EXPECT_TRUE(report->toPlainText().startsWith("Time elapsed 01:00:00\n"));
    const char* texts[] = {"Continue calibration without applying the new cal factor",
                           "Apply the new factor and also continue calibration",
                           "Apply the new cal factor and end calibration",
                           "Abandon the calibration without applying"};
    for (int i = 0; i < 4; ++i) {
        auto* radio = dialog.findChild<QRadioButton*>(QStringLiteral("id%1").arg(2223 + i));
        ASSERT_NE(radio, nullptr) << i;
        EXPECT_EQ(radio->text(), texts[i]);
        EXPECT_EQ(radio->isChecked(), i == 0);
    }
    EXPECT_EQ(dialog.Choice(), EndChoice::Continue);
    dialog.findChild<QRadioButton*>("id2225")->click();
    EXPECT_EQ(dialog.Choice(), EndChoice::ApplyAndEnd);
    ASSERT_NE(Button(dialog, "OK"), nullptr);
    ASSERT_NE(Button(dialog, "Cancel"), nullptr);
}

// Hands out good zero offsets at once.
class InstantReference : public CalibrationReferences {
public:
    const ReferenceRegistry& Registry() const override { return Kinds; }
    bool Read(ReferenceId, ReadingPhase, const ReferenceSettings&, const StillWanted&,
              double& offset, std::string& status) override {
        offset = 0.0;
        status = "SNTP Ok";
        ++Readings;
        return true;
    }
    // The GPS receiver's port cannot be opened; the SNTP server needs nothing opened.
    bool Open(ReferenceId id, const ReferenceSettings&, std::string& error) override {
        if (Kinds.Kind(id).Key != "Gps") return true;
        error = "No GPS here";
        return false;
    }
    void Close() override {}
    bool AnyOpen() const override { return false; }
    ReferenceRegistry Kinds = BuiltInReferences();
    std::atomic<int> Readings{0};
};

struct CalibrationView : ::testing::Test {
    test::SignalSource Source;
    test::CountingSink Speaker;
    InstantReference Reference;
    RecordingClockSetter SystemClock;
    CChildView View{nullptr, &Source, &Speaker, CalibrationSeams{&Reference, &SystemClock, {}}};
    QStringList Asked;
    std::deque<Answer> Answers;

    void SetUp() override {
        View.Hooks.MessageSink = [](const QString&) {};
        View.Hooks.QuestionHook = [this](const QString& text, QuestionButtons) {
            Asked << text;
            const Answer a = Answers.empty() ? Answer::No : Answers.front();
            if (!Answers.empty()) Answers.pop_front();
            return a;
        };
        View.Core().Settings.SampleRate = 48000;
        View.Core().Settings.Centre = 0;
        synth::SynthOptions o;
        o.BeatsPerHour = 18000;
        o.Seconds = 600;
        o.SampleRate = 48000;
        Source.Signal = synth::Synthesize(o).Samples;
        Source.Speed = 1.0;
    }
    void TearDown() override {
        if (View.Session().IsRunning()) View.Session().Run();
    }
    int Flags() const { return View.Session().Calibration().Flags(); }
    std::string Text() {
        const CalibrationState& calibration = View.Session().Calibration().State();
        const auto lock = calibration.HoldLock();
        const auto analysis = View.Core().HoldAnalysis();
        return calibration.ShownText(View.Core());
    }
};

TEST_F(CalibrationView, CommandStatesFollowTheCalibrationAndMeasuring) {
    for (int id : {cmd::InternetCal, cmd::GpsCal})
        EXPECT_TRUE(View.CommandStatus(id).Enabled) << id;
    EXPECT_FALSE(View.CommandStatus(cmd::LocalCal).Enabled) << "needs measuring";
    EXPECT_FALSE(View.CommandStatus(cmd::FinishCal).Enabled);
    EXPECT_FALSE(View.CommandStatus(cmd::CorrectClock).Enabled);

    View.Session().Run();
    EXPECT_TRUE(View.CommandStatus(cmd::LocalCal).Enabled);
    ASSERT_TRUE(View.OnCommand(cmd::LocalCal));
    EXPECT_EQ(Flags(), 16);
    for (int id : {cmd::InternetCal, cmd::GpsCal, cmd::LocalCal, cmd::Run, cmd::Settings})
        EXPECT_FALSE(View.CommandStatus(id).Enabled) << id;
    EXPECT_TRUE(View.CommandStatus(cmd::FinishCal).Enabled);
    EXPECT_FALSE(View.CommandStatus(cmd::CorrectClock).Enabled);
}

TEST_F(CalibrationView, ALocalStandardRunShowsItsTextAndStoppingRestoresTheFactor) {
    View.Core().Settings.Cal.CalFactor48 = 1.00002;
    View.Session().Run();
    ASSERT_TRUE(View.OnCommand(cmd::LocalCal));
    EXPECT_EQ(View.Core().Settings.Cal.CalFactor48, 1.0);
    ASSERT_TRUE(
        WaitFor([&] { return Text().find("Cal factor suggested") != std::string::npos; }, 20000));
    EXPECT_EQ(Text().rfind("Local cal for 0:0:", 0), 0u) << Text();
    EXPECT_NE(Text().find("Cal factor in use +1.7280 s/d\r\n"), std::string::npos)
        << "the factor set aside, not the 1.0 measured with";

    ASSERT_TRUE(View.OnCommand(cmd::FinishCal)); // a few seconds in: abandon?
    ASSERT_EQ(Asked.size(), 1);
    EXPECT_EQ(Asked[0],
              "Less than 60 seconds has elapsed. Do you want to abandon this measurement?");
    EXPECT_EQ(Flags(), 16);

    View.Session().Run(); // Stop leaves the local standard
    EXPECT_EQ(Flags(), 0);
    EXPECT_EQ(View.Core().Settings.Cal.CalFactor48, 1.00002);
    EXPECT_EQ(Text(), "");
}

TEST_F(CalibrationView, AReferenceRunPausesAtStopContinuesAtRunAndCancelKeepsItGoing) {
    View.App().CalUpdateInterval = 50; // short readings for the test; never read from a file
    ASSERT_TRUE(View.OnCommand(cmd::InternetCal));
    EXPECT_TRUE(View.Session().IsRunning()) << "starting a calibration starts measuring";
    EXPECT_EQ(Flags(), 513);
    EXPECT_EQ(View.Timers().Interval(TimerCalibrationCycle), 1725);
    EXPECT_TRUE(View.CommandStatus(cmd::CorrectClock).Enabled);
    ASSERT_TRUE(
        WaitFor([&] { return Text().find("Cal factor suggested") != std::string::npos; }, 30000))
        << Text();
    const int64_t points = View.Session().Calibration().Progress().Bins.N[0];
    EXPECT_GT(points, 1);

    View.Session().Run();
    EXPECT_EQ(Flags(), 0x101);
    EXPECT_FALSE(View.Timers().IsActive(TimerCalibrationCycle));
    View.Session().Run();
    EXPECT_EQ(Flags(), 0x201);
    EXPECT_EQ(View.Timers().Interval(TimerCalibrationCycle), 1000);
    EXPECT_NE(Text().find("\r\nContinuing calibration"), std::string::npos);
    EXPECT_GE(View.Session().Calibration().Progress().Bins.N[0], points) << "the bins are kept";

    ASSERT_TRUE(WaitFor(
        [&] { return View.Session().Calibration().Progress().Bins.N[0] > points + 1; }, 30000))
        << "points are collected again after the new countdown";
    QString report;
    View.Hooks.EndCalibrationDialogHook = [&](CDEndCal& dialog) {
        report = dialog.findChild<QPlainTextEdit*>("id2207")->toPlainText();
        dialog.findChild<QRadioButton*>("id2225")->click();
        Button(dialog, "Cancel")->click(); // cancelling continues, whatever is selected
    };
    ASSERT_TRUE(View.OnCommand(cmd::FinishCal));
    EXPECT_TRUE(report.startsWith("Time elapsed 00:00:")) << report.toStdString();
    EXPECT_EQ(Flags(), 1);
    EXPECT_EQ(View.Core().Settings.Cal.CalFactor48, 1.0);
    EXPECT_TRUE(View.Timers().IsActive(TimerCalibrationCycle));
}

TEST_F(CalibrationView, AGpsPortThatCannotOpenEndsTheRunWithItsReason) {
    ASSERT_TRUE(View.OnCommand(cmd::GpsCal));
    EXPECT_EQ(Flags(), 0);
    EXPECT_NE(Text().find("Unable to start GPS calibration.\r\nNo GPS here"), std::string::npos);
    EXPECT_EQ(View.Timers().Interval(TimerClearCalibrationText), 2000);
    ASSERT_TRUE(WaitFor([&] { return Text().empty(); }, 5000));
}

} // namespace
} // namespace kv
