// SPDX-License-Identifier: GPL-3.0-or-later
// The settings dialog driven through the view's command: the fields it shows, validation with
// its messages and focus, the spins, "Reset to defaults", the order and effects of applying,
// reopening after Apply, Save and Load, and sound changes while a watch is being measured.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QComboBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLayout>
#include <QLineEdit>
#include <QTest>
#include <cmath>

#include "../settings/SettingsTestSupport.h"
#include "PumpEvents.h"
#include "SignalSource.h"
#include "TickSynthesizer.h"
#include "settings/Profiles.h"
#include "settings/SettingsPaths.h"
#include "ui/common/CommandTable.h"
#include "ui/dialogs/TrainDia.h"
#include "ui/view/ChildView.h"

namespace kv {
namespace {

using Step = std::function<void(CTrainDia&)>;

QString TextOf(const CTrainDia& d, int id) {
    QWidget* w = d.Control(id);
    if (auto* edit = qobject_cast<QLineEdit*>(w)) return edit->text();
    if (auto* list = qobject_cast<QComboBox*>(w)) return list->currentText();
    ADD_FAILURE() << "no text control " << id;
    return {};
}

void Type(CTrainDia& d, int id, const QString& text) {
    QWidget* w = d.Control(id);
    if (auto* edit = qobject_cast<QLineEdit*>(w)) edit->setText(text);
    if (auto* list = qobject_cast<QComboBox*>(w)) list->setEditText(text);
}

void Choose(CTrainDia& d, int id, const QString& entry) {
    auto* list = qobject_cast<QComboBox*>(d.Control(id));
    ASSERT_NE(list, nullptr) << id;
    const int index = list->findText(entry, Qt::MatchExactly);
    ASSERT_GE(index, 0) << entry.toStdString();
    list->setCurrentIndex(index);
}

bool Checked(const CTrainDia& d, int id) {
    return qobject_cast<QAbstractButton*>(d.Control(id))->isChecked();
}

void Check(CTrainDia& d, int id, bool on) {
    qobject_cast<QAbstractButton*>(d.Control(id))->setChecked(on);
}

QStringList Entries(const CTrainDia& d, int id) {
    auto* list = qobject_cast<QComboBox*>(d.Control(id));
    QStringList entries;
    for (int i = 0; i < list->count(); ++i)
        entries << list->itemText(i);
    return entries;
}

using test::WaitFor;

// A test watch whose device choice can be seen.
struct RecordingSource : test::SignalSource {
    int Device = -1;
    int Open(int device, const CaptureFormat& format, CaptureRing& ring) override {
        Device = device;
        return SignalSource::Open(device, format, ring);
    }
};

struct SettingsDialogTest : ::testing::Test {
    RecordingSource Source;
    test::CountingSink Speaker;
    CChildView View{nullptr, &Source, &Speaker};
    QStringList Messages;
    int Beeps = 0;
    // One step per opening of the dialog; openings beyond the script press Cancel.
    std::vector<Step> Script;
    int Openings = 0;
    double SavedTrim = ProcessTimestampClock().GetTrim();

    void SetUp() override {
        View.Hooks.MessageSink = [this](const QString& m) { Messages << m; };
        View.Hooks.BeepHook = [this] { ++Beeps; };
        View.Hooks.InputDeviceNames = [this] { return Source.Names; };
        View.Hooks.OutputDeviceNames = [this] { return Speaker.Names; };
        View.Hooks.SettingsDialogHook = [this](CTrainDia& d) {
            ++Openings;
            if (Openings <= static_cast<int>(Script.size()))
                Script[static_cast<size_t>(Openings) - 1](d);
            else
                d.Press(ctl::Cancel);
        };
        View.Core().Settings.Centre = 0;
        View.Core().Settings.DuplexAudio = 0;
    }
    void TearDown() override {
        if (View.Session().IsRunning()) View.Session().Run();
        ProcessTimestampClock().SetTrim(SavedTrim);
    }

    // Opens the dialog once, runs `edit` on it and presses `button`.
    bool Run(const Step& edit, int button = ctl::Ok) {
        Script = {[edit, button](CTrainDia& d) {
            edit(d);
            d.Press(button);
        }};
        Openings = 0;
        return View.OpenSettingsDialog();
    }
    // Lets a reopening posted by Apply, Save or Load happen.
    void Settle() {
        for (int i = 0; i < 5; ++i)
            QCoreApplication::processEvents();
    }
};

// --- What the dialog shows ---

TEST_F(SettingsDialogTest, ShowsTheViewsValuesInTheFormOfTheControls) {
    AnalysisParameters& p = View.Core().Params;
    p.UnlockThreshold = 1638;
    p.PostTickMute = 0.57;
    p.PreTickSilence = 0.1;
    p.MaxAmplitude = 330.4;
    p.Coaxial = 1;
    p.Sequence = "DU-DD";
    View.Core().Settings.Cal.CalFactor44 = 1.0 + 2.5 / 86400.0;
    View.Core().Settings.SampleRate = 44100;
    View.App().CellFactor = 5;
    View.App().Source = LineInSource;
    View.App().GPSPort = "ttyGPS9";
    View.App().GPSBaud = 9600;
    View.App().SoundDeviceStr = "Test watch";
    View.App().Profile = "Pocket";
    ProcessTimestampClock().SetTrim(1.0 + 1.5 / 86400.0);

    Script = {[](CTrainDia& d) {
        EXPECT_EQ(TextOf(d, ctl::Threshold), "5");
        EXPECT_EQ(TextOf(d, ctl::Blanking), "56");
        EXPECT_EQ(TextOf(d, ctl::Silence), "10");
        EXPECT_EQ(TextOf(d, ctl::MaxAmplitude), "330");
        EXPECT_EQ(TextOf(d, ctl::LiftAngle), "52");
        EXPECT_EQ(TextOf(d, ctl::Train), "18000 vph");
        EXPECT_EQ(TextOf(d, ctl::Sequence), "DU-DD");
        EXPECT_EQ(TextOf(d, ctl::ProfileName), "Pocket");
        EXPECT_NEAR(TextOf(d, ctl::Cal44).toDouble(), 2.5, 1e-9);
        EXPECT_EQ(TextOf(d, ctl::Cal22), "0");
        EXPECT_NEAR(TextOf(d, ctl::Trim).toDouble(), 1.5, 1e-6);
        EXPECT_EQ(TextOf(d, ctl::SampleRate), "44100");
        EXPECT_EQ(TextOf(d, ctl::GpsBaud), "9600");
        EXPECT_EQ(TextOf(d, ctl::GpsPort), "ttyGPS9") << "a stored port stays choosable";
        EXPECT_EQ(TextOf(d, ctl::InputDevice), "Test watch");
        EXPECT_EQ(TextOf(d, ctl::OutputDevice), "") << "no output device named";
        EXPECT_EQ(TextOf(d, ctl::PerformanceCounter), "1000000000");
        EXPECT_TRUE(qobject_cast<QLineEdit*>(d.Control(ctl::PerformanceCounter))->isReadOnly());
        EXPECT_TRUE(Checked(d, ctl::LargeFonts));
        EXPECT_TRUE(Checked(d, ctl::LineIn));
        EXPECT_TRUE(Checked(d, ctl::Coax1));
        for (int disabled : {ctl::Coax2, ctl::AP1, ctl::AP2})
            EXPECT_FALSE(d.Control(disabled)->isEnabled()) << disabled;
        for (int enabled : {ctl::Lever, ctl::Coax1, ctl::Clock, ctl::Fork})
            EXPECT_TRUE(d.Control(enabled)->isEnabled()) << enabled;
        d.Press(ctl::Cancel);
    }};
    EXPECT_FALSE(View.OpenSettingsDialog());
    EXPECT_EQ(Openings, 1);
}

TEST_F(SettingsDialogTest, FixedListsHaveTheirEntriesInOrder) {
    Script = {[](CTrainDia& d) {
        EXPECT_EQ(Entries(d, ctl::SampleRate), QStringList({"22050", "44100", "48000", "96000"}));
        EXPECT_EQ(Entries(d, ctl::GpsBaud),
                  QStringList({"300", "600", "1200", "2400", "4800", "9600", "14400", "19200",
                               "28800", "38400", "56000", "57600", "155200"}));
        const QStringList servers = Entries(d, ctl::SntpServer);
        EXPECT_EQ(servers.size(), 22);
        QStringList sorted = servers;
        sorted.sort();
        EXPECT_EQ(servers, sorted);
        EXPECT_EQ(TextOf(d, ctl::SntpServer), "pool.ntp.org");
        EXPECT_EQ(Entries(d, ctl::InputDevice), QStringList({"Test watch"}));
        EXPECT_EQ(Entries(d, ctl::OutputDevice), QStringList({"Test speaker"}));
        EXPECT_TRUE(qobject_cast<QComboBox*>(d.Control(ctl::SntpServer))->isEditable());
        EXPECT_TRUE(qobject_cast<QComboBox*>(d.Control(ctl::SampleRate))->isEditable());
        EXPECT_FALSE(qobject_cast<QComboBox*>(d.Control(ctl::GpsPort))->isEditable());
        d.Press(ctl::Cancel);
    }};
    View.OpenSettingsDialog();
}

// --- Validation ---

struct Refusal {
    int Id;
    const char* Text;
    const char* Message;
};

// The message names the refused field, which gets the focus.
TEST_F(SettingsDialogTest, EveryRangeIsRefusedWithItsMessageAndTheFocusOnTheField) {
    const Refusal cases[] = {
        {ctl::LiftAngle, "15", "Lift angle: Enter a number between 20 and 120."},
        {ctl::LiftAngle, "fifty", "Lift angle: Enter a number."},
        {ctl::Tau, "0.1", "Allen deviation Tau: Enter a number between 0.2 and 1000."},
        {ctl::Tau, "nan", "Allen deviation Tau: Enter a number."},
        {ctl::RateAverage, "100001", "Rate average time: Enter a number between 0 and 100000."},
        {ctl::RateAverage, "", "Rate average time: Enter a number."},
        {ctl::Positions, "7", "Positions: Enter an integer between 1 and 6."},
        {ctl::Positions, "2.5", "Positions: Enter an integer."},
        {ctl::Positions, "99999999999999999999999", "Positions: Enter an integer between 1 and 6."},
        {ctl::PositionAverage, "0.5",
         "Position average time: Enter a number between 1 and 100000."},
        {ctl::Stabilization, "300.5", "Stabilization time: Enter a number between 0 and 300."},
        {ctl::Threshold, "0", "Unlock threshold: Enter an integer between 1 and 99."},
        {ctl::MaxAmplitude, "29", "Max amplitude: Enter an integer between 30 and 400."},
        {ctl::MaxAmplitude, "401", "Max amplitude: Enter an integer between 30 and 400."},
        {ctl::Blanking, "100", "Post tick blanking: Enter an integer between 0 and 99."},
        {ctl::Silence, "-1", "Silence: Enter an integer between 0 and 99."},
        {ctl::Teeth, "121", "Escape wheel teeth: Enter an integer between 0 and 120."},
        {ctl::FreeWheel, "101", "Freewheel ticks: Enter an integer between 0 and 100."},
        {ctl::Cal22, "x", "Calibration factor 22050: Enter a number."},
        {ctl::Cal96, "-86400",
         "Calibration factor 96000: Enter a number between -43000 and 86000."},
        {ctl::Trim, "100.5", "Timestamp clock trim: Enter a number between -100 and 100."},
        {ctl::LogInterval, "86401", "Logging interval: Enter an integer between 0 and 86400."},
        {ctl::SampleRate, "8000", "Sample rate: Enter an integer between 11025 and 96000."},
        {ctl::SampleRate, "96k", "Sample rate: Enter an integer."},
    };
    const AnalysisParameters before = View.Core().Params;
    for (const Refusal& c : cases) {
        SCOPED_TRACE(std::string(c.Text) + " in " + std::to_string(c.Id));
        Messages.clear();
        Script = {[&c](CTrainDia& d) {
            Type(d, ctl::Sequence, "changed");
            Type(d, ctl::LiftAngle, "45");
            Type(d, c.Id, QString::fromLatin1(c.Text));
            d.Press(ctl::Ok);
            EXPECT_TRUE(d.isVisible()) << "the dialog stays open";
            EXPECT_EQ(d.focusWidget(), d.Control(c.Id));
            d.Press(ctl::Cancel);
        }};
        Openings = 0;
        EXPECT_FALSE(View.OpenSettingsDialog());
        EXPECT_EQ(Messages, QStringList{QString::fromLatin1(c.Message)});
    }
    EXPECT_EQ(View.Core().Params.Sequence, before.Sequence) << "nothing applied";
    EXPECT_EQ(View.Core().Params.LiftAngle, before.LiftAngle);
}

TEST_F(SettingsDialogTest, BoundsAreAcceptedAndNumbersMayCarryBlanksAndSigns) {
    ASSERT_TRUE(Run([](CTrainDia& d) {
        Type(d, ctl::LiftAngle, " 120 ");
        Type(d, ctl::Tau, "0.2");
        Type(d, ctl::Positions, "+6");
        Type(d, ctl::Silence, "0");
        Type(d, ctl::Teeth, "120");
        Type(d, ctl::Trim, "-100");
        Type(d, ctl::SampleRate, "11025");
        Type(d, ctl::Cal48, "1e1");
    }));
    EXPECT_TRUE(Messages.isEmpty());
    EXPECT_EQ(View.Core().Params.LiftAngle, 100.0) << "accepted up to 120, stored limited to 100";
    EXPECT_EQ(View.Core().Params.Tau, 0.2);
    EXPECT_EQ(View.Core().Params.Positions, 6);
    EXPECT_EQ(View.Core().Params.PreTickSilence, 0.0);
    EXPECT_EQ(View.Core().Params.EscapeWheelTeeth, 120);
    EXPECT_NEAR(ProcessTimestampClock().GetTrim(), 1.0 - 100.0 / 86400.0, 1e-15);
    EXPECT_EQ(View.Core().Settings.SampleRate, 11025u);
    EXPECT_DOUBLE_EQ(View.Core().Settings.Cal.CalFactor48, 1.0 + 10.0 / 86400.0);
}

// --- Spins ---

TEST_F(SettingsDialogTest, IntegerSpinsMoveTheirFieldWithinTheirLimits) {
    Script = {[](CTrainDia& d) {
        Type(d, ctl::Positions, "6");
        d.Press(ctl::PositionsSpin, true);
        EXPECT_EQ(TextOf(d, ctl::Positions), "6");
        d.Press(ctl::PositionsSpin, false);
        EXPECT_EQ(TextOf(d, ctl::Positions), "5");
        Type(d, ctl::MaxAmplitude, "400"); // valid, but above the spin's 340
        d.Press(ctl::MaxAmplitudeSpin, true);
        EXPECT_EQ(TextOf(d, ctl::MaxAmplitude), "340");
        Type(d, ctl::MaxAmplitude, "61");
        d.Press(ctl::MaxAmplitudeSpin, false);
        d.Press(ctl::MaxAmplitudeSpin, false);
        EXPECT_EQ(TextOf(d, ctl::MaxAmplitude), "60");
        Type(d, ctl::Threshold, "junk");
        d.Press(ctl::ThresholdSpin, true);
        EXPECT_EQ(TextOf(d, ctl::Threshold), "1");
        Type(d, ctl::LogInterval, "32767");
        d.Press(ctl::LogIntervalSpin, true);
        EXPECT_EQ(TextOf(d, ctl::LogInterval), "32767");
        Type(d, ctl::Teeth, "0");
        d.Press(ctl::TeethSpin, false);
        EXPECT_EQ(TextOf(d, ctl::Teeth), "0");
        d.Press(ctl::Cancel);
    }};
    View.OpenSettingsDialog();
    EXPECT_TRUE(Messages.isEmpty()) << "integer spins validate nothing";
}

TEST_F(SettingsDialogTest, StepSpinsReadTheDialogAddOneClampAndShowItAgain) {
    Script = {[this](CTrainDia& d) {
        Type(d, ctl::LiftAngle, "119.5");
        Type(d, ctl::Threshold, " 7 ");
        d.Press(ctl::LiftAngleSpin, true);
        EXPECT_EQ(TextOf(d, ctl::LiftAngle), "120");
        EXPECT_EQ(TextOf(d, ctl::Threshold), "7") << "the whole dialog is shown again";
        Type(d, ctl::Tau, "0.7");
        d.Press(ctl::TauSpin, false);
        EXPECT_EQ(TextOf(d, ctl::Tau), "0.2");
        Type(d, ctl::RateAverage, "1");
        d.Press(ctl::RateAverageSpin, false);
        EXPECT_EQ(TextOf(d, ctl::RateAverage), "2");
        Type(d, ctl::PositionAverage, "299.5");
        d.Press(ctl::PositionAverageSpin, true);
        EXPECT_EQ(TextOf(d, ctl::PositionAverage), "300");
        d.Press(ctl::StabilizationSpin, true);
        EXPECT_EQ(TextOf(d, ctl::Stabilization), "5");
        Type(d, ctl::FreeWheel, "100");
        d.Press(ctl::FreeWheelSpin, true);
        EXPECT_EQ(TextOf(d, ctl::FreeWheel), "100");
        EXPECT_TRUE(Messages.isEmpty());

        Type(d, ctl::Positions, "9"); // a field the step spin cannot read
        d.Press(ctl::FreeWheelSpin, false);
        EXPECT_EQ(Messages, QStringList{"Positions: Enter an integer between 1 and 6."});
        EXPECT_EQ(TextOf(d, ctl::FreeWheel), "100") << "nothing moves";
        EXPECT_EQ(TextOf(d, ctl::Positions), "9");
        EXPECT_EQ(d.focusWidget(), d.Control(ctl::Positions));
        d.Press(ctl::Cancel);
    }};
    EXPECT_FALSE(View.OpenSettingsDialog());
    EXPECT_EQ(View.Core().Params.LiftAngle, 52.0) << "spins apply nothing by themselves";
}

TEST_F(SettingsDialogTest, DeviceListsAreNeverDuplicated) {
    Source.Names = {"Test watch", "Second watch"};
    auto counts = [this](CTrainDia& d) {
        EXPECT_EQ(Entries(d, ctl::InputDevice), QStringList({"Test watch", "Second watch"}));
        EXPECT_EQ(Entries(d, ctl::OutputDevice), QStringList({"Test speaker"}));
    };
    Script = {[&](CTrainDia& d) {
                  counts(d);
                  d.Press(ctl::LiftAngleSpin);
                  d.Press(ctl::PositionsSpin);
                  counts(d);
                  d.Press(ctl::Apply);
              },
              [&](CTrainDia& d) {
                  counts(d);
                  d.Press(ctl::Apply);
              },
              [&](CTrainDia& d) {
                  counts(d);
                  d.Press(ctl::Cancel);
              }};
    EXPECT_TRUE(View.OpenSettingsDialog());
    Settle();
    EXPECT_EQ(Openings, 3);
}

// --- Reset to defaults and Cancel ---

TEST_F(SettingsDialogTest, ResetToDefaultsShowsEveryDefaultAndKeepsWhatBelongsToTheMachine) {
    Script = {[](CTrainDia& d) {
        Type(d, ctl::Stabilization, "17");
        Type(d, ctl::Sequence, "PU-PD");
        Type(d, ctl::Silence, "33");
        Type(d, ctl::LiftAngle, "44");
        Type(d, ctl::Cal48, "12.5");
        Type(d, ctl::Trim, "-3");
        Type(d, ctl::ProfileName, "Pocket watch");
        Type(d, ctl::SntpServer, "time.example");
        for (const int id :
             {ctl::Averaging, ctl::Logging, ctl::Clock, ctl::LargeFonts, ctl::PositionsToText,
              ctl::LineIn, ctl::PrecisionTiming, ctl::AutoThreshold})
            Check(d, id, true);
        for (const int id : {ctl::Centre, ctl::Duplex})
            Check(d, id, false);
        d.Press(ctl::Reset);
        const std::pair<int, const char*> expected[] = {{ctl::LiftAngle, "52"},
                                                        {ctl::RateAverage, "8"},
                                                        {ctl::Threshold, "5"},
                                                        {ctl::Blanking, "90"},
                                                        {ctl::MaxAmplitude, "330"},
                                                        {ctl::Positions, "5"},
                                                        {ctl::PositionAverage, "12"},
                                                        {ctl::LogInterval, "10"},
                                                        {ctl::Train, "18000 vph"},
                                                        {ctl::SampleRate, "96000"},
                                                        {ctl::Tau, "10"},
                                                        {ctl::Teeth, "0"},
                                                        {ctl::FreeWheel, "4"},
                                                        {ctl::Silence, "10"},
                                                        {ctl::Stabilization, "4"},
                                                        {ctl::Sequence, "PD-PL-PU-DD-DU-PR"}};
        for (const auto& [id, text] : expected)
            EXPECT_EQ(TextOf(d, id), text) << id;
        for (const int id : {ctl::Averaging, ctl::Logging, ctl::LargeFonts, ctl::PositionsToText,
                             ctl::LineIn, ctl::PrecisionTiming, ctl::AutoThreshold})
            EXPECT_FALSE(Checked(d, id)) << id;
        for (const int id : {ctl::Lever, ctl::Centre, ctl::Duplex, ctl::MicIn})
            EXPECT_TRUE(Checked(d, id)) << id;
        EXPECT_EQ(TextOf(d, ctl::Cal48), "12.5") << "measured on this machine";
        EXPECT_EQ(TextOf(d, ctl::Trim), "-3");
        EXPECT_EQ(TextOf(d, ctl::ProfileName), "Pocket watch");
        EXPECT_EQ(TextOf(d, ctl::SntpServer), "time.example");
        d.Press(ctl::Cancel);
    }};
    AnalysisParameters& p = View.Core().Params;
    p.LiftAngle = 47;
    p.MeasuringTime = 12;
    p.Coaxial = 5;
    p.Averaging = 1;
    p.PreTickSilence = 0.3;
    View.Core().Settings.Logging = 1;
    const AnalysisParameters before = p;
    EXPECT_FALSE(View.OpenSettingsDialog());
    EXPECT_EQ(p.LiftAngle, before.LiftAngle) << "Cancel changes nothing";
    EXPECT_EQ(p.MeasuringTime, before.MeasuringTime);
    EXPECT_EQ(p.Coaxial, before.Coaxial);
    EXPECT_EQ(p.Averaging, before.Averaging);
    EXPECT_EQ(p.Stabilization, before.Stabilization);
    EXPECT_EQ(p.PreTickSilence, before.PreTickSilence);
    EXPECT_EQ(View.Core().Settings.Logging, 1);
    EXPECT_EQ(View.App().CellFactor, 8);
}

// Each spin sits right beside its field, however wide other controls make the columns.
TEST_F(SettingsDialogTest, EverySpinSitsBesideItsField) {
    const std::pair<int, int> spins[] = {{ctl::LiftAngle, ctl::LiftAngleSpin},
                                         {ctl::Tau, ctl::TauSpin},
                                         {ctl::RateAverage, ctl::RateAverageSpin},
                                         {ctl::Positions, ctl::PositionsSpin},
                                         {ctl::PositionAverage, ctl::PositionAverageSpin},
                                         {ctl::Stabilization, ctl::StabilizationSpin},
                                         {ctl::Threshold, ctl::ThresholdSpin},
                                         {ctl::MaxAmplitude, ctl::MaxAmplitudeSpin},
                                         {ctl::Blanking, ctl::BlankingSpin},
                                         {ctl::Silence, ctl::SilenceSpin},
                                         {ctl::Teeth, ctl::TeethSpin},
                                         {ctl::FreeWheel, ctl::FreeWheelSpin},
                                         {ctl::LogInterval, ctl::LogIntervalSpin}};
    Script = {[&spins](CTrainDia& d) {
        d.adjustSize();
        d.layout()->activate();
        for (const auto& [field, spin] : spins) {
            const QWidget* f = d.Control(field);
            const QWidget* s = d.Control(spin);
            const QRect fieldBox(f->mapTo(&d, QPoint(0, 0)), f->size());
            const QRect spinBox(s->mapTo(&d, QPoint(0, 0)), s->size());
            EXPECT_LE(std::abs(spinBox.left() - fieldBox.right() - 1), 2) << spin;
            EXPECT_TRUE(spinBox.top() < fieldBox.bottom() && spinBox.bottom() > fieldBox.top())
                << spin;
        }
        d.Press(ctl::Cancel);
    }};
    EXPECT_FALSE(View.OpenSettingsDialog());
}

TEST_F(SettingsDialogTest, ResetToDefaultsThenOkAppliesTheDefaults) {
    AnalysisParameters& p = View.Core().Params;
    p.TickInterval = "28800 vph";
    View.Core().ParseTrain(p.TickInterval);
    p.LiftAngle = 47;
    p.Coaxial = 5;
    p.UnlockThreshold = 5000;
    p.Tau = 3;
    View.Core().Settings.SampleRate = 48000;
    p.MeasuringTime = 24;
    p.PositionAveragingTime = 30;
    View.App().LogInterval = 60;
    ASSERT_TRUE(Run([](CTrainDia& d) { d.Press(ctl::Reset); }));
    // The defaults are those a first start without a settings file gets.
    const AnalysisParameters fresh;
    EXPECT_EQ(p.TickInterval, fresh.TickInterval);
    EXPECT_NEAR(View.Core().Derived.BeatPeriod, 0.2, 1e-12);
    EXPECT_EQ(p.LiftAngle, fresh.LiftAngle);
    EXPECT_EQ(p.MeasuringTime, fresh.MeasuringTime);
    EXPECT_EQ(p.Coaxial, fresh.Coaxial);
    EXPECT_EQ(p.UnlockThreshold, fresh.UnlockThreshold);
    EXPECT_EQ(p.PostTickMute, fresh.PostTickMute);
    EXPECT_EQ(p.PositionAveragingTime, fresh.PositionAveragingTime);
    EXPECT_EQ(p.Tau, fresh.Tau);
    EXPECT_EQ(View.App().LogInterval, AppSettings{}.LogInterval);
    EXPECT_EQ(View.Core().Settings.SampleRate, AnalysisSettings{}.SampleRate);
}

TEST_F(SettingsDialogTest, CancelAndClosingChangeNothingAtAll) {
    ProcessTimestampClock().SetTrim(1.00001);
    View.Core().ClockRegression.StartSample = 77;
    View.Core().Measurement.AllanCount = 5;
    const std::string train = View.Core().Params.TickInterval;
    for (const bool close : {false, true}) {
        Script = {[close](CTrainDia& d) {
            Type(d, ctl::Train, "21600 vph");
            Type(d, ctl::Tau, "20");
            Type(d, ctl::Trim, "5");
            Type(d, ctl::SampleRate, "48000");
            if (close)
                d.close();
            else
                d.Press(ctl::Cancel);
        }};
        Openings = 0;
        EXPECT_FALSE(View.OpenSettingsDialog());
        EXPECT_EQ(View.Core().Params.TickInterval, train);
        EXPECT_EQ(View.Core().Params.Tau, 10.0);
        EXPECT_EQ(View.Core().Settings.SampleRate, 96000u);
        EXPECT_EQ(ProcessTimestampClock().GetTrim(), 1.00001);
        EXPECT_EQ(View.Core().ClockRegression.StartSample, 77u);
        EXPECT_EQ(View.Core().Measurement.AllanCount, 5);
    }
    Settle();
    EXPECT_EQ(Openings, 1) << "Cancel does not reopen";
}

// --- Applying ---

TEST_F(SettingsDialogTest, PercentagesAreStoredBackAsTheTablesSay) {
    AnalysisParameters& p = View.Core().Params;
    p.PostTickMute = 0.57;
    p.UnlockThreshold = 1638;
    ASSERT_TRUE(Run([](CTrainDia&) {}));
    EXPECT_EQ(p.PostTickMute, 0.56);
    EXPECT_EQ(p.UnlockThreshold, 1638);
    EXPECT_EQ(p.PreTickSilence, 0.1);
    p.PostTickMute = 0.9;
    ASSERT_TRUE(Run([](CTrainDia& d) {
        Type(d, ctl::Threshold, "1");
        Type(d, ctl::Silence, "25");
    }));
    EXPECT_EQ(p.PostTickMute, 0.9);
    EXPECT_EQ(p.UnlockThreshold, 327);
    EXPECT_EQ(p.PreTickSilence, 0.25);
}

TEST_F(SettingsDialogTest, MeasuringTimeAndTauAreOnlyTouchedWhenChanged) {
    AnalysisParameters& p = View.Core().Params;
    MeasurementState& m = View.Core().Measurement;
    p.MeasuringTime = 0.1; // below the lower limit, set elsewhere
    m.AllanCount = 9;
    m.AllanLastRate = 3.0;
    ASSERT_TRUE(Run([](CTrainDia&) {}));
    EXPECT_EQ(p.MeasuringTime, 0.1) << "an unchanged value is not touched";
    EXPECT_EQ(m.AllanCount, 9) << "an unchanged Tau keeps the Allan deviation";

    p.MeasuringTime = 8;
    ASSERT_TRUE(Run([](CTrainDia& d) {
        Type(d, ctl::RateAverage, "0.1");
        Type(d, ctl::Tau, "30");
    }));
    EXPECT_DOUBLE_EQ(p.MeasuringTime, 0.4) << "half the beat period plus 0.3 s at 18000 vph";
    EXPECT_EQ(p.Tau, 30.0);
    EXPECT_EQ(m.AllanCount, 0);
    EXPECT_EQ(m.AllanSumSquares, 0.0);
    EXPECT_FALSE(m.AllanLastRate);
}

TEST_F(SettingsDialogTest, TheEscapementChoiceAppliesExceptFork) {
    ASSERT_TRUE(Run([](CTrainDia& d) { Check(d, ctl::Fork, true); }));
    EXPECT_EQ(View.Core().Params.Coaxial, 0) << "Fork leaves the escapement unchanged";
    EXPECT_GT(View.Core().Derived.BeatPeriod, ForkModePeriod);
    ASSERT_TRUE(Run([](CTrainDia& d) { Check(d, ctl::Clock, true); }));
    EXPECT_EQ(View.Core().Params.Coaxial, 5);
    ASSERT_TRUE(Run([](CTrainDia& d) { Check(d, ctl::Coax1, true); }));
    EXPECT_EQ(View.Core().Params.Coaxial, 1);
}

TEST_F(SettingsDialogTest, TrainTextsAreAppliedExceptAutoAndTextsThatNameNoTrain) {
    AnalysisParameters& p = View.Core().Params;
    for (const char* text : {"AUTO", "auto", "AuTo", "", "no train"}) {
        ASSERT_TRUE(Run([text](CTrainDia& d) { Type(d, ctl::Train, text); }));
        EXPECT_EQ(p.TickInterval, "18000 vph") << text;
        EXPECT_FALSE(View.Core().AutoTrainActive) << text;
    }
    ASSERT_TRUE(Run([](CTrainDia& d) { Type(d, ctl::Train, "21600 vph"); }));
    EXPECT_EQ(p.TickInterval, "21600 vph");
    EXPECT_NEAR(View.Core().Derived.BeatPeriod, 1.0 / 6, 1e-12);

    // "TAUTO" reaches the train parser, which takes one detection step: the history holds
    // beats of 0.2 s at 96000 Hz.
    {
        const auto lock = View.Core().HoldAnalysis();
        View.Core().Detector.UnlockHistory = {};
        for (int i = 0; i < 4; ++i)
            View.Core().Detector.UnlockHistory[static_cast<size_t>(i)] = 19200 * (5 - i);
    }
    ASSERT_TRUE(Run([](CTrainDia& d) { Type(d, ctl::Train, "TAUTO"); }));
    EXPECT_NEAR(View.Core().Derived.BeatPeriod, 0.2, 1e-12);
    EXPECT_EQ(p.TickInterval, "18000 vph");
}

TEST_F(SettingsDialogTest, AcceptingUnchangedSetsTheTrimAgainAndRestartsTheRegression) {
    ProcessTimestampClock().SetTrim(1.00001);
    SampleCounterRegression& r = View.Core().ClockRegression;
    r.StartSample = 1000;
    r.TotalSamples = 5000;
    r.StartCounter = 42;
    ASSERT_TRUE(Run([](CTrainDia&) {
        ProcessTimestampClock().SetTrim(1.00002); // changed behind the dialog's back
    }));
    EXPECT_NEAR(ProcessTimestampClock().GetTrim(), 1.00001, 1e-14);
    EXPECT_EQ(r.StartSample, 0u) << "a new regression starts at the next buffer";
    EXPECT_EQ(r.TotalSamples, 5000u) << "a running calibration keeps counting samples";
}

TEST_F(SettingsDialogTest, OtherFieldsReachTheirSettings) {
    View.Core().Settings.SampleRate = 48000;
    ASSERT_TRUE(Run([](CTrainDia& d) {
        Type(d, ctl::Cal48, "8.64");
        Type(d, ctl::Cal22, "-1");
        Check(d, ctl::LargeFonts, true);
        Check(d, ctl::Centre, true);
        Check(d, ctl::Logging, true);
        Check(d, ctl::PositionsToText, true);
        Check(d, ctl::Averaging, true);
        Type(d, ctl::LogInterval, "30");
        Type(d, ctl::Sequence, "DU-PU");
        Type(d, ctl::Positions, "3");
        Type(d, ctl::PositionAverage, "20");
        Type(d, ctl::Stabilization, "6.5");
        Type(d, ctl::MaxAmplitude, "310");
        Type(d, ctl::FreeWheel, "7");
        Type(d, ctl::SntpServer, "ntp.example");
        Choose(d, ctl::GpsBaud, "19200");
        Check(d, ctl::LineIn, true);
        Check(d, ctl::PrecisionTiming, true);
        Check(d, ctl::AutoThreshold, true);
    }));
    const AnalysisSettings& s = View.Core().Settings;
    const AnalysisParameters& p = View.Core().Params;
    EXPECT_DOUBLE_EQ(s.Cal.CalFactor48, 1.0001);
    EXPECT_DOUBLE_EQ(s.Cal.CalFactor22, 1.0 - 1.0 / 86400.0);
    EXPECT_NEAR(View.Core().Derived.SamplesPerBuffer, 48000 * 1.0001 * 0.2, 1e-6)
        << "the sample constants follow the new factor";
    EXPECT_EQ(View.App().CellFactor, 5);
    EXPECT_EQ(s.Centre, 1);
    EXPECT_EQ(s.Logging, 1);
    EXPECT_EQ(View.App().PositionsToText, 1);
    EXPECT_EQ(p.Averaging, 1);
    EXPECT_EQ(View.App().LogInterval, 30);
    EXPECT_EQ(p.Sequence, "DU-PU");
    EXPECT_EQ(p.Positions, 3);
    EXPECT_EQ(p.PositionAveragingTime, 20.0);
    EXPECT_EQ(p.Stabilization, 6.5);
    EXPECT_EQ(p.MaxAmplitude, 310.0);
    EXPECT_EQ(p.FreeWheel, 7);
    EXPECT_EQ(View.App().SNTPServer, "ntp.example");
    EXPECT_EQ(View.App().GPSBaud, 19200);
    EXPECT_EQ(View.App().Source, LineInSource);
    EXPECT_EQ(s.PrecisionTiming, 1);
    EXPECT_EQ(s.AutoThreshold, 1);

    ASSERT_TRUE(Run([](CTrainDia& d) {
        EXPECT_TRUE(Checked(d, ctl::PrecisionTiming)) << "the dialog shows the setting in force";
        Check(d, ctl::PrecisionTiming, false);
        Check(d, ctl::LargeFonts, false);
        Check(d, ctl::MicIn, true);
    }));
    EXPECT_EQ(View.App().CellFactor, 8);
    EXPECT_EQ(View.App().Source, MicrophoneSource);
    EXPECT_EQ(s.PrecisionTiming, 0);
}

TEST_F(SettingsDialogTest, AnInputDeviceThatIsMissingStaysNamed) {
    View.App().SoundDeviceStr = "Unplugged microphone";
    ASSERT_TRUE(Run([](CTrainDia& d) { EXPECT_EQ(TextOf(d, ctl::InputDevice), ""); }));
    EXPECT_EQ(View.App().SoundDeviceStr, "Unplugged microphone");
    ASSERT_TRUE(Run([](CTrainDia& d) { Choose(d, ctl::InputDevice, "Test watch"); }));
    EXPECT_EQ(View.App().SoundDeviceStr, "Test watch");
}

// --- Apply, Save and Load ---

TEST_F(SettingsDialogTest, ApplyOpensTheDialogAgainWithTheValuesInForce) {
    Script = {[](CTrainDia& d) {
                  Type(d, ctl::LiftAngle, "110");
                  Type(d, ctl::RateAverage, "0.1");
                  d.Press(ctl::Apply);
              },
              [](CTrainDia& d) {
                  EXPECT_EQ(TextOf(d, ctl::LiftAngle), "100");
                  EXPECT_EQ(TextOf(d, ctl::RateAverage), "0.4");
                  d.Press(ctl::Ok);
              }};
    EXPECT_TRUE(View.OpenSettingsDialog());
    EXPECT_EQ(View.Core().Params.LiftAngle, 100.0) << "applied before the dialog opens again";
    Settle();
    EXPECT_EQ(Openings, 2) << "OK does not reopen";
}

struct ProfileButtons : SettingsDialogTest {
    test::TempFolder Folder;
    test::ScopedEnvironment Environment{{"XDG_DATA_HOME", Folder / "data"}};
    void SetUp() override {
        SettingsDialogTest::SetUp();
        std::filesystem::create_directories(DataFolder());
    }
};

TEST_F(ProfileButtons, SaveWritesTheAppliedValuesUnderTheTypedName) {
    Script = {[](CTrainDia& d) {
                  Type(d, ctl::LiftAngle, "48");
                  Type(d, ctl::Train, "28800 vph");
                  Type(d, ctl::ProfileName, "Diver");
                  d.Press(ctl::Save);
              },
              [](CTrainDia& d) {
                  EXPECT_EQ(TextOf(d, ctl::ProfileName), "Diver");
                  EXPECT_EQ(TextOf(d, ctl::LiftAngle), "48");
                  d.Press(ctl::Cancel);
              }};
    EXPECT_TRUE(View.OpenSettingsDialog());
    Settle();
    EXPECT_EQ(Openings, 2);
    EXPECT_EQ(View.App().Profile, "Diver");
    const PrivateProfileFile file(ProfileFilePath());
    EXPECT_EQ(file.GetString("Diver", "LiftAngle", ""), "48");
    EXPECT_EQ(file.GetString("Diver", "TickInterval", ""), "28800 vph");
    EXPECT_EQ(file.GetString("Diver", "PostTickMute", ""), "0.9");
}

TEST_F(ProfileButtons, LoadAppliesTheDialogThenTheProfile) {
    test::WriteFile(ProfileFilePath(), "[Wall clock]\nTickInterval=3600 vph\nLiftAngle=30\n"
                                       "MeasuringTime=24\nCoaxial=5\n");
    int liftBoxRefreshes = 0;
    QObject::connect(&View, &CChildView::LiftAngleBoxChanged, [&] { ++liftBoxRefreshes; });
    Script = {[](CTrainDia& d) {
                  Type(d, ctl::Stabilization, "9"); // not in the profile: stays applied
                  Type(d, ctl::LiftAngle, "70");    // in the profile: replaced
                  Type(d, ctl::ProfileName, "wall clock");
                  d.Press(ctl::Load);
              },
              [](CTrainDia& d) {
                  EXPECT_EQ(TextOf(d, ctl::ProfileName), "wall clock");
                  EXPECT_EQ(TextOf(d, ctl::LiftAngle), "30");
                  EXPECT_EQ(TextOf(d, ctl::Train), "3600 vph");
                  EXPECT_TRUE(Checked(d, ctl::Clock));
                  d.Press(ctl::Cancel);
              }};
    EXPECT_TRUE(View.OpenSettingsDialog());
    Settle();
    EXPECT_EQ(Openings, 2);
    const AnalysisParameters& p = View.Core().Params;
    EXPECT_EQ(View.App().Profile, "wall clock");
    EXPECT_EQ(p.LiftAngle, 30.0);
    EXPECT_EQ(p.Stabilization, 9.0);
    EXPECT_EQ(p.MeasuringTime, 24.0);
    EXPECT_NEAR(View.Core().Derived.BeatPeriod, 1.0, 1e-12);
    EXPECT_GE(liftBoxRefreshes, 2);
}

TEST_F(ProfileButtons, AnEmptyNameBeepsOnSaveAndAsksForANameOnLoad) {
    Script = {[this](CTrainDia& d) {
        Type(d, ctl::ProfileName, "");
        Type(d, ctl::LiftAngle, "61");
        d.Press(ctl::Save);
        EXPECT_EQ(Beeps, 1);
        EXPECT_TRUE(Messages.isEmpty());
        EXPECT_TRUE(d.isVisible());
        d.Press(ctl::Load);
        EXPECT_EQ(Messages, QStringList{"Please enter a profile name"});
        EXPECT_EQ(Beeps, 1);
        EXPECT_TRUE(d.isVisible());
        Type(d, ctl::Positions, "0");
        d.Press(ctl::Save);
        EXPECT_EQ(Beeps, 1) << "an invalid field is reported before the name";
        EXPECT_EQ(Messages.last(), "Positions: Enter an integer between 1 and 6.");
        d.Press(ctl::Cancel);
    }};
    EXPECT_FALSE(View.OpenSettingsDialog());
    Settle();
    EXPECT_EQ(Openings, 1);
    EXPECT_EQ(View.Core().Params.LiftAngle, 52.0);
    EXPECT_FALSE(std::filesystem::exists(ProfileFilePath()));
}

// --- The commands ---

TEST_F(SettingsDialogTest, TheCommandsAreDisabledDuringALocalCalibration) {
    for (int id : {cmd::Settings, cmd::LoadProfile})
        EXPECT_TRUE(View.CommandStatus(id).Enabled) << id;
    View.Session().Calibration().State().SetMode(LocalCalibrationMode);
    for (int id : {cmd::Settings, cmd::LoadProfile})
        EXPECT_FALSE(View.CommandStatus(id).Enabled) << id;
    View.Session().Calibration().State().SetMode(0);
    Script = {[](CTrainDia& d) { d.Press(ctl::Cancel); }};
    EXPECT_TRUE(View.OnCommand(cmd::Settings));
    EXPECT_EQ(Openings, 1);
}

// --- Sound settings while measuring ---

std::vector<int16_t> Watch(double rateSecondsPerDay, unsigned sampleRate) {
    synth::SynthOptions o;
    o.BeatsPerHour = 18000;
    o.RateSecondsPerDay = rateSecondsPerDay;
    o.Seconds = 40;
    o.SampleRate = sampleRate;
    return synth::Synthesize(o).Samples;
}

struct MeasuringTest : SettingsDialogTest {
    void SetUp() override {
        SettingsDialogTest::SetUp();
        Source.Names = {"Test watch", "Second watch"};
        Source.Speed = 8.0;
        View.Core().Settings.SampleRate = 48000;
        View.App().SoundDeviceStr = "Test watch";
        Source.Signal = Watch(6.0, 48000);
    }
    double Rate() {
        const auto lock = View.Core().HoldAnalysis();
        return View.Core().Measurement.Rate * 86400.0;
    }
    double AccumulatedRate() {
        const auto lock = View.Core().HoldAnalysis();
        return View.Core().Measurement.AccumulatedRate * 86400.0;
    }
    // Waits for `seconds` more of captured sound at `sampleRate`.
    bool Hear(double seconds, unsigned sampleRate) {
        const size_t until = Source.Delivered + static_cast<size_t>(seconds * sampleRate);
        return WaitFor([&] { return Source.Delivered > until; }, 10000);
    }
    // The next capture plays `signal`: swapped while the device is closed.
    void OnNextStop(std::vector<int16_t> signal) {
        auto* connection = new QMetaObject::Connection;
        *connection = QObject::connect(&View, &CChildView::RunningChanged,
                                       [this, connection, signal](bool running) {
                                           if (running) return;
                                           Source.Signal = signal;
                                           QObject::disconnect(*connection);
                                           delete connection;
                                       });
    }
};

TEST_F(MeasuringTest, ChangingOnlyTheFactorsKeepsMeasuring) {
    View.Session().Run();
    ASSERT_TRUE(View.Session().IsRunning());
    ASSERT_TRUE(WaitFor([&] { return Source.Delivered > 48000u * 2; }, 5000));
    int stops = 0;
    QObject::connect(&View, &CChildView::RunningChanged, [&](bool r) { stops += r ? 0 : 1; });
    ASSERT_TRUE(Run([](CTrainDia& d) { Type(d, ctl::Cal48, "1.5"); }));
    EXPECT_TRUE(View.Session().IsRunning());
    EXPECT_EQ(stops, 0);
    EXPECT_EQ(Source.Opens, 1);
    EXPECT_DOUBLE_EQ(View.Core().Settings.Cal.CalFactor48, 1.0 + 1.5 / 86400.0);
}

TEST_F(MeasuringTest, ANewSampleRateAndANewInputAreNewMeasurements) {
    View.Session().Run();
    ASSERT_TRUE(View.Session().IsRunning());
    ASSERT_TRUE(Hear(12, 48000));
    EXPECT_NEAR(Rate(), 6.0, 0.5);

    OnNextStop(Watch(-4.0, 44100));
    ASSERT_TRUE(Run([](CTrainDia& d) { Type(d, ctl::SampleRate, "44100"); }));
    EXPECT_TRUE(View.Session().IsRunning());
    EXPECT_EQ(Source.Opens, 2);
    EXPECT_EQ(Source.Format.SampleRate, 44100u);
    EXPECT_EQ(View.Core().Settings.SampleRate, 44100u);
    ASSERT_TRUE(Hear(12, 44100));
    EXPECT_NEAR(Rate(), -4.0, 0.5) << "measures the watch at the new rate";
    EXPECT_NEAR(AccumulatedRate(), -4.0, 0.5) << "averages the new watch alone";

    OnNextStop(Watch(2.0, 44100));
    ASSERT_TRUE(Run([](CTrainDia& d) { Choose(d, ctl::InputDevice, "Second watch"); }));
    EXPECT_TRUE(View.Session().IsRunning());
    EXPECT_EQ(Source.Opens, 3);
    EXPECT_EQ(Source.Device, 1);
    EXPECT_EQ(View.App().SoundDeviceStr, "Second watch");
    ASSERT_TRUE(Hear(12, 44100));
    EXPECT_NEAR(Rate(), 2.0, 0.5) << "measures the watch on the new input";
    EXPECT_NEAR(AccumulatedRate(), 2.0, 0.5) << "averages the new watch alone";
    EXPECT_TRUE(Messages.isEmpty());
}

} // namespace
} // namespace kv
