// SPDX-License-Identifier: GPL-3.0-or-later
// Profiles in profiles.ini: round trips, missing keys, limits, names in any case, files written
// by Windows, garbage, duplicated sections, long names and values, refused writes, the chooser.
#include <atomic>
#include <thread>

#include <gtest/gtest.h>

#include "SettingsTestSupport.h"
#include "settings/Profiles.h"
#include "settings/SettingsPaths.h"

namespace kv {
namespace {

using test::ReadFile;
using test::ScopedEnvironment;
using test::TempFolder;
using test::WriteFile;

class Profiles : public ::testing::Test {
protected:
    TempFolder folder;
    ScopedEnvironment env{{"XDG_DATA_HOME", folder / "data"}, {"HOME", folder / "home"}};
    test::QuietHost host;
    TimestampClock clock;
    AnalysisCore core{host, clock};
    PrivateProfileFile file{ProfileFilePath()};

    void SetUp() override { ASSERT_TRUE(EnsureDataFolder()); }
    void WriteProfiles(const std::string& text) { WriteFile(file.Path(), text); }
};

AnalysisParameters DistinctParameters() {
    return {"21600 vph", 48, 310, 3000, 0.8, 0.2, 2, 16, 1, 1, 21, 6, "DU-PU", 30, 6, 25};
}

void ExpectSameParameters(const AnalysisParameters& a, const AnalysisParameters& b) {
    EXPECT_EQ(a.TickInterval, b.TickInterval);
    EXPECT_EQ(a.LiftAngle, b.LiftAngle);
    EXPECT_EQ(a.MaxAmplitude, b.MaxAmplitude);
    EXPECT_EQ(a.UnlockThreshold, b.UnlockThreshold);
    EXPECT_EQ(a.PostTickMute, b.PostTickMute);
    EXPECT_EQ(a.PreTickSilence, b.PreTickSilence);
    EXPECT_EQ(a.FreeWheel, b.FreeWheel);
    EXPECT_EQ(a.MeasuringTime, b.MeasuringTime);
    EXPECT_EQ(a.Averaging, b.Averaging);
    EXPECT_EQ(a.Coaxial, b.Coaxial);
    EXPECT_EQ(a.EscapeWheelTeeth, b.EscapeWheelTeeth);
    EXPECT_EQ(a.Positions, b.Positions);
    EXPECT_EQ(a.Sequence, b.Sequence);
    EXPECT_EQ(a.PositionAveragingTime, b.PositionAveragingTime);
    EXPECT_EQ(a.Stabilization, b.Stabilization);
    EXPECT_EQ(a.Tau, b.Tau);
}

TEST_F(Profiles, EveryKeyRoundTripsInTheOrderOfTheTable) {
    EXPECT_EQ(file.Path(), folder / "data/Vexlor/profiles.ini");
    ASSERT_TRUE(SaveProfile(file, "Omega 8500", DistinctParameters()));
    IniFile ini;
    ASSERT_EQ(ini.Load(file.Path()), IniFile::LoadResult::Loaded);
    EXPECT_EQ(ini.Keys("Omega 8500"),
              (std::vector<std::string>{"TickInterval", "LiftAngle", "MeasuringTime",
                                        "EscapeWheelTeeth", "Positions", "Coaxial", "FreeWheel",
                                        "PositionAveragingTime", "Stabilization", "Tau", "Sequence",
                                        "Averaging", "UnlockThreshold", "PostTickMute",
                                        "PreTickSilence", "MaxAmplitude"}));
    EXPECT_EQ(ini.Get("Omega 8500", "PostTickMute"), "0.8");
    LoadProfile(file, "Omega 8500", core);
    ExpectSameParameters(core.Params, DistinctParameters());
    EXPECT_DOUBLE_EQ(core.Derived.BeatPeriod, 1.0 / 6.0);
    test::QuietHost otherHost;
    AnalysisCore reference(otherHost, clock);
    reference.Params = DistinctParameters();
    reference.ParseTrain("21600 vph");
    EXPECT_EQ(core.Derived.MuteSamples, reference.Derived.MuteSamples);
    EXPECT_EQ(core.Derived.LiftSamplesMin, reference.Derived.LiftSamplesMin);
}

TEST_F(Profiles, AMissingKeyKeepsTheCurrentValueRoundedLikeGeneralNumbers) {
    WriteProfiles("[Short]\nLiftAngle=44\n");
    core.Params.Tau = 12.3456789;
    core.Params.MaxAmplitude = 330.1234567;
    LoadProfile(file, "Short", core);
    EXPECT_EQ(core.Params.LiftAngle, 44.0);
    EXPECT_EQ(core.Params.Tau, 12.3457);
    EXPECT_EQ(core.Params.MaxAmplitude, 330.123);
    AnalysisParameters expected;
    expected.LiftAngle = 44;
    expected.Tau = 12.3457;
    expected.MaxAmplitude = 330.123;
    ExpectSameParameters(core.Params, expected);
    // A section that is not there, or no file at all: nothing new.
    LoadProfile(file, "Absent", core);
    ExpectSameParameters(core.Params, expected);
    PrivateProfileFile missing(folder / "nothing.ini");
    LoadProfile(missing, "Short", core);
    ExpectSameParameters(core.Params, expected);
}

TEST_F(Profiles, NoProfileLoadsAndSavesNothing) {
    WriteProfiles("[]\nLiftAngle=44\n");
    core.Params.Tau = 12.3456789;
    LoadProfile(file, "", core);
    EXPECT_EQ(core.Params.Tau, 12.3456789);
    EXPECT_EQ(core.Params.LiftAngle, 52.0);
    EXPECT_FALSE(SaveProfile(file, "", core.Params));
    EXPECT_EQ(ReadFile(file.Path()), "[]\nLiftAngle=44\n");
}

TEST_F(Profiles, LiftAngleIsLimitedAndMeasuringTimeIsNot) {
    WriteProfiles("[High]\nLiftAngle=150\nMeasuringTime=0.1\n[Low]\nLiftAngle=10\n");
    int liftRefreshes = 0, timeRefreshes = 0;
    const ToolBarRefresh refresh{[&] { ++liftRefreshes; }, [&] { ++timeRefreshes; }};
    LoadProfile(file, "High", core, refresh);
    EXPECT_EQ(core.Params.LiftAngle, 100.0);
    EXPECT_EQ(core.Params.MeasuringTime, 0.1);
    LoadProfile(file, "Low", core, refresh);
    EXPECT_EQ(core.Params.LiftAngle, 20.0);
    EXPECT_EQ(liftRefreshes, 2);
    EXPECT_EQ(timeRefreshes, 2);
}

TEST_F(Profiles, DamagedNumbersAreLimitedBeforeTheSampleConstantsUseThem) {
    WriteProfiles("[Bad]\nPreTickSilence=1333330\nPostTickMute=1e300\nMaxAmplitude=-1e-300\n"
                  "UnlockThreshold=-4\nTickInterval=banana\nPositions=0\nTau=1e300\n");
    core.Settings.SampleRate = 96000;
    LoadProfile(file, "Bad", core);
    const AnalysisParameters& p = core.Params;
    EXPECT_EQ(p.PreTickSilence, 0.99);
    EXPECT_EQ(p.PostTickMute, 0.99);
    EXPECT_EQ(p.MaxAmplitude, 30.0);
    EXPECT_EQ(p.UnlockThreshold, 1);
    EXPECT_EQ(p.TickInterval, "18000 vph") << "a text that names no train is ignored";
    EXPECT_EQ(p.Positions, 1);
    EXPECT_EQ(p.Tau, 1000.0);
    test::ExpectSaneSampleConstants(core.Derived);
}

TEST_F(Profiles, TheParametersAreWrittenUnderTheAnalysisLock) {
    WriteProfiles("[P]\nLiftAngle=40\n");
    auto lockedElsewhere = [&] {
        std::atomic<bool> free{false};
        std::thread other([&] { free = core.TryHoldAnalysis().owns_lock(); });
        other.join();
        return !free;
    };
    bool liftLocked = false, timeLocked = false;
    LoadProfile(file, "P", core,
                {[&] { liftLocked = lockedElsewhere(); }, [&] { timeLocked = lockedElsewhere(); }});
    EXPECT_TRUE(liftLocked);
    EXPECT_TRUE(timeLocked);
    EXPECT_FALSE(lockedElsewhere()); // and released at the end
}

TEST_F(Profiles, NamesMatchInAnyCase) {
    ASSERT_TRUE(SaveProfile(file, "Omega 8500", DistinctParameters()));
    AnalysisParameters changed = DistinctParameters();
    changed.LiftAngle = 51;
    ASSERT_TRUE(SaveProfile(file, "OMEGA 8500", changed));
    IniFile ini;
    ini.Load(file.Path());
    EXPECT_EQ(ini.SectionNames(), std::vector<std::string>{"Omega 8500"});
    LoadProfile(file, "omega 8500", core);
    EXPECT_EQ(core.Params.LiftAngle, 51.0);
}

TEST_F(Profiles, ACrLfFileInMixedCaseFromAnotherProgram) {
    const std::string windows = "[Unitas 6497]\r\n"
                                "tickinterval=18000 VPH\r\n"
                                "LIFTANGLE=54\r\n"
                                "maxAmplitude = 320 \r\n"
                                "sequence=PU-PD\r\n"
                                "COAXIAL=0\r\n"
                                "[Clock]\r\n"
                                "TickInterval=1 sec\r\n"
                                "Coaxial=5\r\n";
    WriteProfiles(windows);
    LoadProfile(file, "UNITAS 6497", core);
    EXPECT_EQ(core.Params.TickInterval, "18000 VPH");
    EXPECT_EQ(core.Params.LiftAngle, 54.0);
    EXPECT_EQ(core.Params.MaxAmplitude, 320.0);
    EXPECT_EQ(core.Params.Sequence, "PU-PD");
    core.Params.LiftAngle = 53;
    ASSERT_TRUE(SaveProfile(file, "unitas 6497", core.Params));
    const std::string text = ReadFile(file.Path());
    EXPECT_EQ(text.find("[Unitas 6497]\r\ntickinterval=18000 VPH\r\nLIFTANGLE=53\r\n"), 0u);
    EXPECT_NE(text.find("[Clock]\r\nTickInterval=1 sec\r\nCoaxial=5\r\n"), std::string::npos);
    EXPECT_EQ(text.find("\n\n"), std::string::npos);
    EXPECT_EQ(text.find("LiftAngle"), std::string::npos); // updated in place, not added
    for (size_t i = text.find('\n'); i != std::string::npos; i = text.find('\n', i + 1))
        EXPECT_EQ(text[i - 1], '\r');
}

TEST_F(Profiles, GarbageLinesAndDuplicatedSections) {
    WriteProfiles("garbage\n[A]\nLiftAngle=40\n\x7f\x01 junk\n=9\n[B]\nTau=5\n[a]\nLiftAngle=50\n"
                  "Tau=20\n[A\nFreeWheel=9\n");
    LoadProfile(file, "A", core);
    EXPECT_EQ(core.Params.LiftAngle, 40.0); // the first value wins
    EXPECT_EQ(core.Params.Tau, 20.0);       // merged from the second [a]
    EXPECT_EQ(core.Params.FreeWheel, 9);    // "[A" is no header, the line after belongs to [a]
    EXPECT_EQ(file.SectionNames(), (std::vector<std::string>{"A", "B"}));
}

TEST_F(Profiles, LongNamesAndValues) {
    const std::string longName(500, 'N');
    AnalysisParameters p;
    p.Sequence = std::string(300, 'S');
    ASSERT_TRUE(SaveProfile(file, longName, p));
    LoadProfile(file, longName, core);
    EXPECT_EQ(core.Params.Sequence, std::string(254, 'S'));
    std::string umlauts;
    for (int i = 0; i < 300; ++i)
        umlauts += "\xC3\xA4";
    WriteProfiles("[U]\nSequence=" + umlauts + "\n");
    LoadProfile(file, "U", core);
    EXPECT_EQ(core.Params.Sequence, umlauts.substr(0, 2 * 254));
}

TEST_F(Profiles, TheListOfNamesEndsWhereTheBufferEnds) {
    std::string text;
    for (int i = 0; i < 30; ++i)
        text += "[" + std::string(38, 'a' + i % 26) + (i < 10 ? "0" : "") + std::to_string(i) +
                "]\nTau=1\n";
    WriteProfiles(text);
    const std::vector<std::string> names = file.SectionNames();
    ASSERT_EQ(names.size(), 24u); // 24 names of 40 characters and their terminators fit in 1024
    EXPECT_EQ(names.back(), std::string(38, 'x') + "23");
}

TEST_F(Profiles, ARefusedWriteLeavesTheOldFileIntact) {
    const std::string old = "[Old]\nLiftAngle=44\n";
    WriteProfiles(old);
    chmod((folder / "data/Vexlor").c_str(), 0555);
    chmod(file.Path().c_str(), 0444);
    const bool saved = test::RunUnprivileged([&] { return SaveProfile(file, "New", {}); });
    chmod((folder / "data/Vexlor").c_str(), 0755);
    EXPECT_FALSE(saved);
    EXPECT_EQ(ReadFile(file.Path()), old);
    // Without a data folder nothing is created.
    ScopedEnvironment elsewhere{{"XDG_DATA_HOME", folder / "nowhere"}};
    PrivateProfileFile absent(ProfileFilePath());
    EXPECT_FALSE(SaveProfile(absent, "New", {}));
    EXPECT_FALSE(std::filesystem::exists(folder / "nowhere"));
    PrivateProfileFile unnamed("");
    EXPECT_FALSE(SaveProfile(unnamed, "New", {}));
}

TEST_F(Profiles, AValueThatCannotBeStoredIsSkipped) {
    AnalysisParameters p;
    p.Sequence = "PU\nLiftAngle=99";
    EXPECT_FALSE(SaveProfile(file, "P", p));
    IniFile ini;
    ini.Load(file.Path());
    EXPECT_EQ(ini.Get("P", "Sequence"), std::nullopt);
    EXPECT_EQ(ini.Get("P", "LiftAngle"), "52");
    EXPECT_EQ(ini.Keys("P").size(), 15u);
}

TEST_F(Profiles, TheChooserListsChecksAndApplies) {
    WriteProfiles("[Omega 8500]\nLiftAngle=48\n[Clock]\nLiftAngle=30\n");
    std::string profile;
    std::vector<ProfileMenuItem> menu = ProfileMenu(file, profile);
    ASSERT_EQ(menu.size(), 3u);
    EXPECT_EQ(menu[0].Name, "Omega 8500");
    EXPECT_EQ(menu[2].Name, "<none>");
    EXPECT_TRUE(!menu[0].Checked && !menu[1].Checked && menu[2].Checked && menu[2].None);

    profile = "OMEGA 8500";
    menu = ProfileMenu(file, profile);
    EXPECT_TRUE(menu[0].Checked && !menu[1].Checked && !menu[2].Checked);

    ApplyProfileChoice(menu, 0, profile, file, core); // nothing chosen
    EXPECT_EQ(profile, "OMEGA 8500");
    EXPECT_EQ(core.Params.LiftAngle, 52.0);
    ApplyProfileChoice(menu, 1, profile, file, core);
    EXPECT_EQ(profile, "Omega 8500"); // as the file spells it
    EXPECT_EQ(core.Params.LiftAngle, 48.0);
    ApplyProfileChoice(menu, 3, profile, file, core);
    EXPECT_EQ(profile, "");
    EXPECT_EQ(core.Params.LiftAngle, 48.0);           // parameters kept
    ApplyProfileChoice(menu, 4, profile, file, core); // out of range
    EXPECT_EQ(profile, "");
}

TEST_F(Profiles, TheChooserIsDisabledDuringALocalCalibration) {
    EXPECT_TRUE(ProfileChooserEnabled(core));
    core.LocalStandardRun = true;
    EXPECT_FALSE(ProfileChooserEnabled(core));
    core.LocalStandardRun = false;
    EXPECT_TRUE(ProfileChooserEnabled(core));
}

} // namespace
} // namespace kv
