// SPDX-License-Identifier: GPL-3.0-or-later
// Loading and saving the Settings section: defaults, the load rules, the save order, profiles
// keeping the analysis keys out, foreign spellings, failed saves and the default file names.
#include <regex>

#include <gtest/gtest.h>

#include "SettingsTestSupport.h"
#include "settings/SettingsIO.h"
#include "settings/SettingsPaths.h"

namespace kv {
namespace {

using test::ReadFile;
using test::ScopedEnvironment;
using test::TempFolder;
using test::WriteFile;

// A view's worth of settings on a store under a temporary XDG tree.
class SettingsIO : public ::testing::Test {
protected:
    TempFolder folder;
    ScopedEnvironment env{{"XDG_CONFIG_HOME", folder / "config"},
                          {"XDG_DATA_HOME", folder / "data"},
                          {"HOME", folder / "home"},
                          {"XDG_DOCUMENTS_DIR", std::nullopt}};
    test::QuietHost host;
    TimestampClock clock;
    AnalysisCore core{host, clock};
    AppSettings app;
    SettingsStore store{ConfigFilePath()};
    int liftBoxRefreshes = 0;

    void Load() {
        LoadSettings(store, core, app, clock, {[this] { ++liftBoxRefreshes; }, {}});
    }
    void LoadText(const std::string& text) {
        WriteFile(ConfigFilePath(), text);
        ASSERT_TRUE(store.Load());
        Load();
    }
    std::string Stored(const char* key) { return *store.Document().Get("Settings", key); }
};

TEST_F(SettingsIO, TheStoreLivesUnderTheXdgFolders) {
    EXPECT_EQ(ConfigFilePath(), folder / "config/VexlorDemo/Kestrovane.ini");
    EXPECT_EQ(DataFolder(), folder / "data/Vexlor/");
    ScopedEnvironment relative{{"XDG_CONFIG_HOME", "relative/ignored"}, {"XDG_DATA_HOME", ""}};
    EXPECT_EQ(ConfigFilePath(), folder / "home/.config/VexlorDemo/Kestrovane.ini");
    EXPECT_EQ(DataFolder(), folder / "home/.local/share/Vexlor/");
    ScopedEnvironment none{{"XDG_CONFIG_HOME", std::nullopt}, {"HOME", std::nullopt}};
    EXPECT_EQ(ConfigFilePath(), "");
}

// The file's lines without those of the calibration factors.
std::string WithoutCalibrationFactors(const std::string& text) {
    return std::regex_replace(text, std::regex("CalFactor[0-9]+=[^\n]*\n"), "");
}

TEST_F(SettingsIO, AnEmptyStoreGivesTheDefaults) {
    // A program that never loaded anything saves its built-in values; loading an empty store must
    // leave those, key for key, whatever they are, except the calibration factors below.
    test::QuietHost freshHost;
    TimestampClock freshClock;
    AnalysisCore fresh(freshHost, freshClock);
    AppSettings freshApp;
    SettingsStore freshStore(folder / "fresh.ini");
    ASSERT_TRUE(SaveSettings(freshStore, fresh, freshApp, freshClock));

    ASSERT_TRUE(store.Load());
    Load();
    SettingsStore loaded(folder / "loaded.ini");
    ASSERT_TRUE(SaveSettings(loaded, core, app, clock));
    EXPECT_EQ(WithoutCalibrationFactors(ReadFile(folder / "loaded.ini")),
              WithoutCalibrationFactors(ReadFile(folder / "fresh.ini")));

    // What the loading does besides: the default train is applied, the clock runs untrimmed, and
    // the lift angle box is refreshed once.
    EXPECT_DOUBLE_EQ(core.Derived.BeatPeriod, 3600.0 / 18000);
    EXPECT_EQ(clock.GetTrim(), 1.0);
    EXPECT_EQ(liftBoxRefreshes, 1);
    // The program's own defaults that look odd, kept on purpose: absent calibration factors read
    // as about +2.7 s/d, and the GPS receiver runs at 4800 baud.
    const AnalysisSettings& a = core.Settings;
    for (double f : {a.Cal.CalFactor22, a.Cal.CalFactor44, a.Cal.CalFactor48, a.Cal.CalFactor96})
        EXPECT_EQ(f, 1.00003109815019);
    EXPECT_EQ(app.GPSBaud, 4800);
}

TEST_F(SettingsIO, LiftAngleIsLimitedToTwentyToHundredDegrees) {
    test::QuietHost otherHost;
    AnalysisCore reference(otherHost, clock);
    reference.SetLiftAngle("100");
    LoadText("[Settings]\nLiftAngle=150\n");
    EXPECT_EQ(core.Params.LiftAngle, 100.0);
    EXPECT_EQ(core.Derived.LiftSamplesMax, reference.Derived.LiftSamplesMax); // recomputed
    EXPECT_EQ(liftBoxRefreshes, 1);
    LoadText("[Settings]\nLiftAngle=10\n");
    EXPECT_EQ(core.Params.LiftAngle, 20.0);
    LoadText("[Settings]\nLiftAngle=47.5\n");
    EXPECT_EQ(core.Params.LiftAngle, 47.5);
    LoadText("[Settings]\nLiftAngle=nan\n");
    EXPECT_EQ(core.Params.LiftAngle, 20.0);
}

TEST_F(SettingsIO, TheTrimFactorIsAppliedOnlyStrictlyInsideFivePercent) {
    for (const char* ignored : {"1.06", "0.95", "1.05", "abc", "-1"}) {
        LoadText(std::string("[Settings]\nPerformanceScaleFactor=") + ignored + "\n");
        EXPECT_EQ(clock.GetTrim(), 1.0) << ignored;
    }
    LoadText("[Settings]\nPerformanceScaleFactor=1.00001\n");
    EXPECT_EQ(clock.GetTrim(), 1.00001);
    LoadText("[Settings]\nPerformanceScaleFactor=0.9500001\n");
    EXPECT_EQ(clock.GetTrim(), 0.9500001);
}

TEST_F(SettingsIO, TheOldSingleCalFactorIsTheDefaultOfTheFourFactors) {
    LoadText("[Settings]\nCalFactor=1.00002\nCalFactor96=0.99999\n");
    EXPECT_EQ(core.Settings.Cal.CalFactor22, 1.00002);
    EXPECT_EQ(core.Settings.Cal.CalFactor44, 1.00002);
    EXPECT_EQ(core.Settings.Cal.CalFactor48, 1.00002);
    EXPECT_EQ(core.Settings.Cal.CalFactor96, 0.99999);
    ASSERT_TRUE(SaveSettings(store, core, app, clock));
    EXPECT_EQ(Stored("CalFactor"), "1.00002"); // read only: never rewritten
    EXPECT_EQ(Stored("CalFactor44"), "1.00002000000000");
}

TEST_F(SettingsIO, AbsentGeneralKeysRoundToSixSignificantDigits) {
    core.Params.MaxAmplitude = 330.1234567;
    core.Params.Tau = 12.3456789;
    core.Settings.AudioScale = 1.23456789012345678;
    LoadText("[Settings]\n");
    EXPECT_EQ(core.Params.MaxAmplitude, 330.123);
    EXPECT_EQ(core.Params.Tau, 12.3457);
    EXPECT_NEAR(core.Settings.AudioScale, 1.23456789012345678, 1e-14);
}

TEST_F(SettingsIO, KeysAreFoundInAnyLetterCase) {
    for (const char* key : {"PositionsTotext", "positionstotext", "POSITIONSTOTEXT"}) {
        app.PositionsToText = 0;
        LoadText(std::string("[Settings]\n") + key + "=1\n");
        EXPECT_EQ(app.PositionsToText, 1) << key;
    }
    LoadText("[settings]\nliftangle=60\nTICKINTERVAL=21600 vph\nsequence=DU-DD\n");
    EXPECT_EQ(core.Params.LiftAngle, 60.0);
    EXPECT_EQ(core.Params.TickInterval, "21600 vph");
    EXPECT_DOUBLE_EQ(core.Derived.BeatPeriod, 1.0 / 6.0);
    EXPECT_EQ(core.Params.Sequence, "DU-DD");
    core.Params.LiftAngle = 61;
    ASSERT_TRUE(SaveSettings(store, core, app, clock));
    const std::string text = ReadFile(ConfigFilePath());
    EXPECT_EQ(text.find("[settings]\nliftangle=61\nTICKINTERVAL=21600 vph\nsequence=DU-DD\n"), 0u)
        << text;
    EXPECT_EQ(text.find("LiftAngle"), std::string::npos);
    EXPECT_EQ(text.find("[Settings]"), std::string::npos);
}

// Files of earlier versions store no run totals: a run goes on from its start totals or, where
// those were lost to zero, from its latest point as the sums place it (60 points 10 s apart).
TEST_F(SettingsIO, ARunStoredByAnEarlierVersionGoesOnFromWhereItWas) {
    double sx = 0, sy = 0, sxy = 0, sxx = 0;
    for (int i = 0; i < 60; ++i) {
        const double x = 10.0 * i, y = x * (1 + 2.5e-6); // the card 2.5 ppm fast
        sx += x, sy += y, sxy += x * y, sxx += x * x;
    }
    const std::string bins =
        "[Settings]\nSampleRate=48000\nCalNLo[00]=60\nCalSumX[00]=" + std::to_string(sx) +
        "\nCalSumY[00]=" + std::to_string(sy) + "\nCalSumXY[00]=" + std::to_string(sxy) +
        "\nCalSumXX[00]=" + std::to_string(sxx) + "\n";
    LoadText(bins + "CalStartTimeLo=2000000000\nCalStartSampleLo=9600000\n");
    EXPECT_EQ(app.Cal.TotalTime, 2'000'000'000);
    EXPECT_EQ(app.Cal.TotalSamples, 9'600'000);
    app = {};
    LoadText(bins);
    EXPECT_NEAR(static_cast<double>(app.Cal.TotalTime), 5.9e9, 1.0);
    EXPECT_NEAR(static_cast<double>(app.Cal.TotalSamples), 590 * 48000 * (1 + 2.5e-6), 1.0);
}

TEST_F(SettingsIO, CalUpdateIntervalIsWrittenButNeverRead) {
    LoadText("[Settings]\nCalUpdateInterval=5\n");
    EXPECT_EQ(app.CalUpdateInterval, 10000);
    ASSERT_TRUE(SaveSettings(store, core, app, clock));
    EXPECT_EQ(Stored("CalUpdateInterval"), "10000");
}

TEST_F(SettingsIO, NonNumbersReadAsZeroAndWildRatesAndFactorsAreKeptOut) {
    LoadText("[Settings]\nUnlockThreshold=abc\nMaxAmplitude=x\nSampleRate=-1\n"
             "CalFactor48=1e6\nCalFactor22=0\nCoaxial=1\nHPF=0\n");
    EXPECT_EQ(core.Params.UnlockThreshold, 1) << "the lowest threshold";
    EXPECT_EQ(core.Params.MaxAmplitude, 30.0) << "the lowest limit";
    EXPECT_EQ(core.Settings.SampleRate, 96000u);
    EXPECT_EQ(core.Settings.Cal.CalFactor48, 1.0);
    EXPECT_EQ(core.Settings.Cal.CalFactor22, 1.0);
    EXPECT_EQ(core.Params.Coaxial, 1);
    EXPECT_EQ(core.Settings.HPF, 0);
    LoadText("[Settings]\nSampleRate=5000000\n");
    EXPECT_EQ(core.Settings.SampleRate, 96000u);
    LoadText("[Settings]\nSampleRate=44100\n");
    EXPECT_EQ(core.Settings.SampleRate, 44100u);
}

TEST_F(SettingsIO, DamagedNumbersAreLimitedToTheRangesTheProgramKeeps) {
    LoadText("[Settings]\nCellFactor=0\nZoom=0\nDisplayZoom=1e308\nUnlockThreshold=999999\n"
             "AudioScale=-1e300\nMeasuringTime=-5\nTickInterval=banana\nPreTickSilence=1333330\n"
             "PostTickMute=1e300\nMaxAmplitude=-1e-300\nMinBuffers=-3\nSlowFeed=-1000\n"
             "LogInterval=-1\nMaxLogsize=-7\nTau=0\nPositions=99\nCoaxial=42\n"
             "EscapeWheelTeeth=100000\nFreeWheel=-1\nStabilization=1e9\n"
             "PositionAveragingTime=0\nSNTPPort=70000\nGPSBaud=0\nLiftAngle=nan\n");
    EXPECT_EQ(app.CellFactor, 5);
    EXPECT_EQ(core.Settings.Zoom, 0.25);
    EXPECT_EQ(app.DisplayZoom, 10.0);
    EXPECT_EQ(core.Params.UnlockThreshold, 32767);
    EXPECT_EQ(core.Settings.AudioScale, 0.25);
    EXPECT_EQ(core.Params.MeasuringTime, 0.0);
    EXPECT_EQ(core.Params.TickInterval, "18000 vph") << "a text that names no train is ignored";
    EXPECT_DOUBLE_EQ(core.Derived.BeatPeriod, 0.2);
    EXPECT_EQ(core.Params.PreTickSilence, 0.99);
    EXPECT_EQ(core.Params.PostTickMute, 0.99);
    EXPECT_EQ(core.Params.MaxAmplitude, 30.0);
    EXPECT_EQ(core.Settings.MinBuffers, 2);
    EXPECT_EQ(core.Settings.SlowFeed, -10);
    EXPECT_EQ(app.LogInterval, 0);
    EXPECT_EQ(app.MaxLogsize, 0);
    EXPECT_EQ(core.Params.Tau, 0.2);
    EXPECT_EQ(core.Params.Positions, 6);
    EXPECT_EQ(core.Params.Coaxial, 0) << "an unknown escapement code keeps the escapement";
    EXPECT_EQ(core.Params.EscapeWheelTeeth, 120);
    EXPECT_EQ(core.Params.FreeWheel, 0);
    EXPECT_EQ(core.Params.Stabilization, 300.0);
    EXPECT_EQ(core.Params.PositionAveragingTime, 1.0);
    EXPECT_EQ(app.SNTPPort, 123) << "a port that cannot exist keeps the port";
    EXPECT_EQ(app.GPSBaud, 4800);
    EXPECT_EQ(core.Params.LiftAngle, 20.0);
    core.RecomputeConstants();
    test::ExpectSaneSampleConstants(core.Derived);
    // In range, every value is taken as it is.
    LoadText("[Settings]\nCellFactor=6\nZoom=8\nDisplayZoom=0.5\nUnlockThreshold=1\n"
             "AudioScale=128\nMeasuringTime=100000\nPostTickMute=0\nMaxAmplitude=400\n");
    EXPECT_EQ(app.CellFactor, 6);
    EXPECT_EQ(core.Settings.Zoom, 8.0);
    EXPECT_EQ(app.DisplayZoom, 0.5);
    EXPECT_EQ(core.Params.UnlockThreshold, 1);
    EXPECT_EQ(core.Settings.AudioScale, 128.0);
    EXPECT_EQ(core.Params.MeasuringTime, 100000.0);
    EXPECT_EQ(core.Params.PostTickMute, 0.0);
    EXPECT_EQ(core.Params.MaxAmplitude, 400.0);
}

TEST_F(SettingsIO, ACalibrationFactorAtTheEdgeOfTheBandSurvivesASave) {
    core.Settings.Cal.CalFactor48 = 1.999999999999999; // saved as "2.00000000000000"
    core.Settings.Cal.CalFactor96 = 0.500000000000001; // saved as "0.50000000000000"
    ASSERT_TRUE(SaveSettings(store, core, app, clock));
    test::QuietHost otherHost;
    AnalysisCore other(otherHost, clock);
    SettingsStore back(ConfigFilePath());
    ASSERT_TRUE(back.Load());
    LoadSettings(back, other, app, clock);
    EXPECT_EQ(other.Settings.Cal.CalFactor48, 2.0);
    EXPECT_EQ(other.Settings.Cal.CalFactor96, 0.5);
}

TEST_F(SettingsIO, GarbageInTheFileDoesNotStopTheGoodKeys) {
    LoadText("junk before\n[Settings\n[Settings]\n\x01\x02\n=5\nTitle=Bench\n;LiftAngle=99\n"
             "LiftAngle\nMinBuffers=7\n");
    EXPECT_EQ(app.Title, "Bench");
    EXPECT_EQ(core.Params.LiftAngle, 52.0);
    EXPECT_EQ(core.Settings.MinBuffers, 7);
}

std::vector<std::string> ExpectedSaveOrder(bool withAnalysisKeys) {
    std::vector<std::string> keys = {"Profile"};
    if (withAnalysisKeys)
        keys.insert(keys.end(), {"Stabilization", "Tau", "EscapeWheelTeeth", "Positions",
                                 "UnlockThreshold", "Averaging", "Sequence", "Coaxial", "FreeWheel",
                                 "PositionAveragingTime", "PostTickMute", "PreTickSilence",
                                 "TickInterval", "LiftAngle", "MeasuringTime", "MaxAmplitude"});
    keys.insert(
        keys.end(),
        {"CellFactor",   "MaxLogsize",  "CalUpdateInterval", "MinInvalTime",    "MinBuffers",
         "DiscardOdd",   "Motorised",   "SlowFeed",          "PaperTape",       "AGC",
         "HPF",          "Autostop",    "SNTPPort",          "GPSBaud",         "CursorDisk",
         "Source",       "LogInterval", "Logging",           "PositionsToText", "SampleRate",
         "Centre",       "DuplexAudio", "Calibrating",       "CalDebug",        "PrecisionTiming",
         "AutoThreshold"});
    for (int i = 0; i < 48; ++i) {
        const std::string n = (i < 10 ? "[0" : "[") + std::to_string(i) + "]";
        for (const char* family :
             {"CalSumX", "CalSumY", "CalSumXY", "CalSumXX", "CalNHi", "CalNLo"})
            keys.push_back(family + n);
    }
    keys.insert(keys.end(), {"CalStartTimeHi",
                             "CalStartTimeLo",
                             "CalStartSampleLo",
                             "CalStartSampleHi",
                             "CalTotalTimeHi",
                             "CalTotalTimeLo",
                             "CalTotalSamplesHi",
                             "CalTotalSamplesLo",
                             "SoundDeviceStr",
                             "SoundDeviceOutStr",
                             "SNTPServer",
                             "GPSPort",
                             "LogFile2",
                             "TextFile2",
                             "Title",
                             "WaveFile2",
                             "PerformanceScaleFactor",
                             "Zoom",
                             "DisplayZoom",
                             "CalFactor22",
                             "CalFactor44",
                             "CalFactor48",
                             "CalFactor96",
                             "AudioScale"});
    return keys;
}

TEST_F(SettingsIO, SavingWritesTheKeysInTheirOrder) {
    ASSERT_TRUE(SaveSettings(store, core, app, clock));
    SettingsStore back(ConfigFilePath());
    ASSERT_TRUE(back.Load());
    EXPECT_EQ(back.Document().Keys("Settings"), ExpectedSaveOrder(true));
    EXPECT_EQ(back.Document().SectionNames(), std::vector<std::string>{"Settings"});
    EXPECT_EQ(back.GetText("Settings", "Sequence", ""), "PD-PL-PU-DD-DU-PR");
    EXPECT_EQ(back.GetText("Settings", "PerformanceScaleFactor", ""), "1.0000000000000000000");
    EXPECT_EQ(back.GetText("Settings", "PostTickMute", ""), "0.9");
    EXPECT_EQ(back.GetText("Settings", "AudioScale", ""), "1.00000000000000");
}

TEST_F(SettingsIO, WithAProfileSelectedTheAnalysisKeysStayAsTheyWere) {
    const std::string before = "[Settings]\nLiftAngle=44\nTickInterval=21600 vph\nTau=20\n"
                               "Sequence=PU\nMaxAmplitude=300\n";
    LoadText(before);
    app.Profile = "Omega 8500";
    core.Params.LiftAngle = 58;
    core.Params.Tau = 3;
    core.Params.MeasuringTime = 40;
    ASSERT_TRUE(SaveSettings(store, core, app, clock));
    SettingsStore back(ConfigFilePath());
    ASSERT_TRUE(back.Load());
    EXPECT_EQ(back.GetText("Settings", "Profile", ""), "Omega 8500");
    EXPECT_EQ(ReadFile(ConfigFilePath()).find(before), 0u); // the old lines, unchanged, first
    // The five keys that were there keep their places; the rest follow in the save order.
    const std::vector<std::string> keys = back.Document().Keys("Settings");
    ASSERT_GT(keys.size(), 5u);
    EXPECT_EQ(std::vector<std::string>(keys.begin() + 5, keys.end()), ExpectedSaveOrder(false));
    EXPECT_FALSE(back.Document().Get("Settings", "MeasuringTime"));
    // With no profile they are written again.
    app.Profile.clear();
    ASSERT_TRUE(SaveSettings(store, core, app, clock));
    ASSERT_TRUE(back.Load());
    EXPECT_EQ(back.GetText("Settings", "LiftAngle", ""), "58");
    EXPECT_EQ(back.GetText("Settings", "MeasuringTime", ""), "40");
}

// Distinct values for every key that survive a save and a load.
void SetDistinctValues(AnalysisCore& core, AppSettings& app, TimestampClock& clock) {
    app = {7,
           0,
           0,
           "Bench 3",
           120,
           1,
           1,
           0.75,
           "USB mic",
           "Speakers",
           LineInSource,
           "/tmp/a.log",
           "/tmp/b.txt",
           "/tmp/c.wav",
           30,
           512,
           "",
           "time.example",
           1234,
           "/dev/ttyUSB0",
           9600,
           1,
           10000,
           {}};
    for (int i = 0; i < CalibrationSlots; ++i) {
        app.Cal.SumX[i] = 1000.25 * i;
        app.Cal.SumY[i] = -3.5 * i;
        app.Cal.SumXY[i] = 12345.125 + i;
        app.Cal.SumXX[i] = 0.5 + i;
        app.Cal.N[i] = (int64_t{i} << 32) - 5 * i;
    }
    app.Cal.StartTime = -0x123456789AB;
    app.Cal.StartSample = 0x7FFFFFFF80000001;
    app.Cal.TotalTime = 0x123456789ABC;
    app.Cal.TotalSamples = -0x7FFFFFFF80000002;
    core.Params = {"21600 vph", 48, 310, 3000, 0.8, 0.2, 2, 16, 1, 1, 21, 6, "DU-PU", 30, 6, 25};
    core.Settings = {0, 1, 0, 1, 0, 5, 48000, 0, 1.5, 2, 1, 10, {1.0001, 1.0002, 0.9998, 0.9997}};
    core.Settings.PrecisionTiming = 1;
    core.Settings.AutoThreshold = 1;
    app.StoredCalibrationMode = 513;
    clock.SetTrim(1.0000123);
}

TEST_F(SettingsIO, EverySavedValueLoadsBack) {
    SetDistinctValues(core, app, clock);
    ASSERT_TRUE(SaveSettings(store, core, app, clock));
    const std::string first = ReadFile(ConfigFilePath());

    test::QuietHost otherHost;
    TimestampClock otherClock;
    AnalysisCore other(otherHost, otherClock);
    AppSettings otherApp;
    SettingsStore otherStore(ConfigFilePath());
    ASSERT_TRUE(otherStore.Load());
    LoadSettings(otherStore, other, otherApp, otherClock);
    EXPECT_EQ(otherClock.GetTrim(), 1.0000123);
    EXPECT_EQ(otherApp.Cal.N[47], app.Cal.N[47]);
    EXPECT_EQ(otherApp.Cal.StartSample, app.Cal.StartSample);
    EXPECT_EQ(otherApp.Cal.TotalSamples, app.Cal.TotalSamples);
    EXPECT_EQ(other.Params.TickInterval, "21600 vph");
    EXPECT_EQ(other.Settings.SampleRate, 48000u);
    EXPECT_EQ(otherApp.StoredCalibrationMode, 513);
    EXPECT_EQ(other.Settings.PrecisionTiming, 1);
    EXPECT_EQ(other.Settings.AutoThreshold, 1);
    // Saving what was loaded writes the same file: nothing was lost or changed on the way.
    SettingsStore again(folder / "again.ini");
    ASSERT_TRUE(SaveSettings(again, other, otherApp, otherClock));
    EXPECT_EQ(ReadFile(folder / "again.ini"), first);
}

TEST_F(SettingsIO, AFailedSaveLeavesTheOldSettingsLoadable) {
    app.Title = "Old title";
    ASSERT_TRUE(SaveSettings(store, core, app, clock));
    const std::string old = ReadFile(ConfigFilePath());
    app.Title = "New title";
    {
        test::FileSizeLimit limit(1024);
        EXPECT_FALSE(SaveSettings(store, core, app, clock));
    }
    EXPECT_FALSE(store.LastError().empty());
    EXPECT_EQ(ReadFile(ConfigFilePath()), old);
    AppSettings reread;
    SettingsStore back(ConfigFilePath());
    ASSERT_TRUE(back.Load());
    LoadSettings(back, core, reread, clock);
    EXPECT_EQ(reread.Title, "Old title");
}

class DefaultFileNames : public SettingsIO {
protected:
    void ExpectFreshNamesIn(const std::string& documents) {
        AppSettings names;
        MakeDefaultFileNames(names);
        const std::regex log(std::regex_replace(documents, std::regex("[.]"), "\\.") +
                             "/Vex[0-9A-F]{1,4}\\.log");
        EXPECT_TRUE(std::regex_match(names.LogFile2, log)) << names.LogFile2;
        EXPECT_EQ(names.TextFile2.substr(0, documents.size() + 4), documents + "/Vex");
        EXPECT_EQ(names.TextFile2.substr(names.TextFile2.size() - 4), ".txt");
        EXPECT_TRUE(std::filesystem::is_directory(documents));
        EXPECT_FALSE(std::filesystem::exists(names.LogFile2));
        EXPECT_FALSE(std::filesystem::exists(names.TextFile2));
        EXPECT_EQ(names.WaveFile2, folder / "data/Vexlor/cal.wav");
    }
};

TEST_F(DefaultFileNames, GoIntoTheDocumentsFolder) {
    ExpectFreshNamesIn(folder / "home/Documents");
    WriteFile(folder / "config/user-dirs.dirs",
              "# written by xdg-user-dirs-update\nXDG_DOCUMENTS_DIR=\"$HOME/Dokumente\"\n");
    ExpectFreshNamesIn(folder / "home/Dokumente");
    ScopedEnvironment named{{"XDG_DOCUMENTS_DIR", folder / "papers"}};
    ExpectFreshNamesIn(folder / "papers");
}

TEST_F(DefaultFileNames, AvoidExistingFilesAndKeepNamesAlreadySet) {
    const std::string documents = folder / "home/Documents";
    std::set<std::string> seen;
    for (int i = 0; i < 20; ++i) {
        AppSettings names;
        MakeDefaultFileNames(names);
        EXPECT_TRUE(seen.insert(names.LogFile2).second) << names.LogFile2;
        WriteFile(names.LogFile2, "taken");
    }
    AppSettings set;
    set.LogFile2 = "/x/my.log";
    set.WaveFile2 = "/x/my.wav";
    MakeDefaultFileNames(set);
    EXPECT_EQ(set.LogFile2, "/x/my.log");
    EXPECT_EQ(set.WaveFile2, "/x/my.wav");
    EXPECT_FALSE(set.TextFile2.empty());
}

TEST_F(DefaultFileNames, StayEmptyWhenNoFolderCanBeFound) {
    ScopedEnvironment none{
        {"HOME", std::nullopt}, {"XDG_CONFIG_HOME", std::nullopt}, {"XDG_DATA_HOME", std::nullopt}};
    AppSettings names;
    MakeDefaultFileNames(names);
    EXPECT_EQ(names.LogFile2, "");
    EXPECT_EQ(names.TextFile2, "");
    EXPECT_EQ(names.WaveFile2, "");
}

} // namespace
} // namespace kv
