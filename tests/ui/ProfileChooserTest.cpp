// SPDX-License-Identifier: GPL-3.0-or-later
// The "Load profile" pop-up list: its entries and check marks, and what choosing an entry does
// to the view and the settings bar of the main frame.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QTest>
#include <QTimer>
#include <memory>

#include "../settings/SettingsTestSupport.h"
#include "SignalSource.h"
#include "settings/SettingsPaths.h"
#include "ui/app/MainFrame.h"
#include "ui/bars/SettingsBar.h"
#include "ui/common/CommandTable.h"
#include "ui/dialogs/ProfileChooser.h"

namespace kv {
namespace {

struct Entry {
    QString Label;
    bool Checked;
    bool operator==(const Entry&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Entry& e) {
    return out << e.Label.toStdString() << (e.Checked ? " (checked)" : "");
}

std::vector<Entry> EntriesOf(const ProfileChooser& chooser) {
    std::vector<Entry> entries;
    for (int n = 1; chooser.Item(n); ++n) {
        EXPECT_EQ(ProfileChooser::NumberOf(chooser.Item(n)), n);
        entries.push_back(
            {chooser.Item(n)->text().replace("&&", "&"), chooser.Item(n)->isChecked()});
    }
    return entries;
}

const char* const ThreeProfiles = "[Pocket]\nTickInterval=21600 vph\nLiftAngle=49\n"
                                  "MeasuringTime=12\nStabilization=7\n"
                                  "[wall clock]\nTickInterval=3600 vph\nLiftAngle=30\n"
                                  "[Tom & Jerry]\nTau=20\n";

struct ProfileChooserTest : ::testing::Test {
    test::TempFolder Folder;
    test::ScopedEnvironment Environment{{"XDG_DATA_HOME", Folder / "data"}};
    test::SignalSource Source;
    test::CountingSink Speaker;
    std::unique_ptr<CMainFrame> Frame;
    std::vector<Entry> Shown;
    int Choice = 0;

    void SetUp() override {
        std::filesystem::create_directories(DataFolder());
        Frame = std::make_unique<CMainFrame>(CMainFrame::Options{nullptr, &Source, &Speaker, {}});
        View().Hooks.ProfileChooserHook = [this](ProfileChooser& chooser) {
            Shown = EntriesOf(chooser);
            return Choice;
        };
    }
    CChildView& View() { return Frame->View(); }
    void WriteProfiles(const std::string& text) { test::WriteFile(ProfileFilePath(), text); }
    // The command as the menu and the tool bar send it.
    void TriggerLoadProfile() {
        for (QAction* action : Frame->findChildren<QAction*>())
            if (action->data().toInt() == cmd::LoadProfile) return action->trigger();
        ADD_FAILURE() << "no Load profile action";
    }
};

TEST_F(ProfileChooserTest, WithoutProfilesOnlyNoneIsListedAndChecked) {
    EXPECT_FALSE(View().ChooseProfile(QPoint(100, 100)));
    EXPECT_EQ(Shown, (std::vector<Entry>{{"<none>", true}}));
    WriteProfiles(ThreeProfiles);
    EXPECT_FALSE(View().ChooseProfile(QPoint(100, 100))) << "nothing chosen";
    EXPECT_EQ(
        Shown,
        (std::vector<Entry>{
            {"Pocket", false}, {"wall clock", false}, {"Tom & Jerry", false}, {"<none>", true}}));
    EXPECT_EQ(View().App().Profile, "");
    EXPECT_EQ(View().Core().Params.LiftAngle, 52.0);
}

TEST_F(ProfileChooserTest, TheSelectedProfileIsCheckedWhateverItsLetterCase) {
    WriteProfiles(ThreeProfiles);
    View().App().Profile = "WALL CLOCK";
    TriggerLoadProfile();
    EXPECT_EQ(
        Shown,
        (std::vector<Entry>{
            {"Pocket", false}, {"wall clock", true}, {"Tom & Jerry", false}, {"<none>", false}}));
}

TEST_F(ProfileChooserTest, ChoosingAProfileShowsItsTrainLiftAngleAndMeasuringTime) {
    WriteProfiles(ThreeProfiles);
    View().App().Profile = "pocket";
    Choice = 1;
    TriggerLoadProfile();
    ASSERT_FALSE(Shown.empty());
    EXPECT_EQ(View().App().Profile, "Pocket") << "as the file spells it";
    const AnalysisParameters& p = View().Core().Params;
    EXPECT_EQ(p.TickInterval, "21600 vph");
    EXPECT_EQ(p.LiftAngle, 49.0);
    EXPECT_EQ(p.MeasuringTime, 12.0);
    EXPECT_EQ(p.Stabilization, 7.0);
    EXPECT_NEAR(View().Core().Derived.BeatPeriod, 1.0 / 6, 1e-12);
    SettingsBar& bar = Frame->Settings();
    EXPECT_EQ(bar.TrainBox()->currentText(), "21600 vph");
    EXPECT_EQ(bar.LiftBox()->currentText(), LiftBoxText(49.0));
    EXPECT_EQ(bar.MeasuringTimeBox()->currentText(), MeasuringTimeBoxText(12.0));

    Choice = 2;
    TriggerLoadProfile();
    EXPECT_EQ(View().App().Profile, "wall clock");
    EXPECT_EQ(bar.TrainBox()->currentText(), "3600 vph");
    EXPECT_EQ(bar.LiftBox()->currentText(), LiftBoxText(30.0));
    EXPECT_EQ(bar.MeasuringTimeBox()->currentText(), MeasuringTimeBoxText(12.0))
        << "a key the profile lacks keeps its value";
}

TEST_F(ProfileChooserTest, ChoosingNoneKeepsEveryParameter) {
    WriteProfiles(ThreeProfiles);
    View().App().Profile = "Tom & Jerry";
    View().Core().Params.Tau = 15;
    Choice = 4;
    EXPECT_TRUE(View().ChooseProfile(QPoint(10, 10)));
    EXPECT_EQ(Shown[2], (Entry{"Tom & Jerry", true}));
    EXPECT_EQ(View().App().Profile, "");
    EXPECT_EQ(View().Core().Params.Tau, 15.0);
    EXPECT_EQ(View().Core().Params.LiftAngle, 52.0);
}

TEST_F(ProfileChooserTest, AChoiceOutsideTheListChangesNothing) {
    WriteProfiles(ThreeProfiles);
    for (int choice : {-1, 5, 99}) {
        Choice = choice;
        EXPECT_FALSE(View().ChooseProfile(QPoint(10, 10))) << choice;
        EXPECT_EQ(View().App().Profile, "");
    }
}

TEST_F(ProfileChooserTest, ThePopupReturnsTheNumberOfTheEntryChosenWithTheKeyboard) {
    ProfileChooser chooser(
        {{"Pocket", false, false}, {"Diver", true, false}, {"<none>", false, true}});
    QTimer::singleShot(50, [&] {
        QTest::keyClick(&chooser.Menu(), Qt::Key_Down);
        QTest::keyClick(&chooser.Menu(), Qt::Key_Down);
        QTest::keyClick(&chooser.Menu(), Qt::Key_Return);
    });
    QTimer::singleShot(3000, &chooser.Menu(), &QMenu::close); // never waits for long
    EXPECT_EQ(chooser.Exec(QPoint(400, 300)), 2);

    QTimer::singleShot(50, [&] { QTest::keyClick(&chooser.Menu(), Qt::Key_Escape); });
    QTimer::singleShot(3000, &chooser.Menu(), &QMenu::close);
    EXPECT_EQ(chooser.Exec(QPoint(400, 300)), 0);
}

} // namespace
} // namespace kv
