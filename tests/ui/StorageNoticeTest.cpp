// SPDX-License-Identifier: GPL-3.0-or-later
// Storage that fails must be said once, not hidden and not repeated for every save: a user who is
// not told keeps believing the settings are kept.
#include <gtest/gtest.h>

#include <QStringList>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <unistd.h>

#include "PumpEvents.h"
#include "SignalSource.h"
#include "settings/SettingsPaths.h"
#include "settings/SettingsStore.h"
#include "ui/app/MainFrame.h"

namespace kv {
namespace {

namespace fs = std::filesystem;

constexpr int kNoticeWaitMs = 2000; // notices are shown after the command that raised them

class StorageNotice : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(Home);
        setenv("XDG_DATA_HOME", Home.c_str(), 1);
        setenv("XDG_CONFIG_HOME", Home.c_str(), 1);
        SettingsPath = ConfigFilePath();
        SettingsFolder = fs::path(SettingsPath).parent_path();
    }
    void TearDown() override {
        Frame.reset();
        Store.reset();
        unsetenv("XDG_DATA_HOME");
        unsetenv("XDG_CONFIG_HOME");
        fs::remove_all(Home);
    }
    void Open() {
        Store = std::make_unique<SettingsStore>(SettingsPath);
        Store->Load();
        Frame =
            std::make_unique<CMainFrame>(CMainFrame::Options{Store.get(), &Source, &Speaker, {}});
        Frame->View().Hooks.MessageSink = [this](const QString& m) { Messages << m; };
        if (Frame->View().Session().IsRunning()) Frame->View().Session().Run();
    }
    // Saves twice, as two commands would, and lets their notices show.
    void SaveTwice() {
        Frame->View().Session().Save();
        Frame->View().Session().Save();
        test::WaitFor([] { return false; }, kNoticeWaitMs / 4);
    }
    // The settings folder replaced by a file: nothing can be created in it, even by root.
    void BlockSettingsFolder() {
        fs::remove_all(SettingsFolder);
        std::ofstream(SettingsFolder) << "in the way";
    }

    fs::path Home = fs::temp_directory_path() / ("kv-storage-" + std::to_string(::getpid()));
    std::string SettingsPath;
    fs::path SettingsFolder;
    test::SignalSource Source;
    test::CountingSink Speaker;
    std::unique_ptr<SettingsStore> Store;
    std::unique_ptr<CMainFrame> Frame;
    QStringList Messages;
};

TEST_F(StorageNotice, ASettingsFileThatIsAFolderIsSaidOnceAtStart) {
    fs::create_directories(SettingsPath);
    Open();
    ASSERT_TRUE(test::WaitFor([&] { return !Messages.isEmpty(); }, kNoticeWaitMs));
    SaveTwice();
    ASSERT_EQ(Messages.size(), 1) << Messages.join('|').toStdString();
    EXPECT_TRUE(Messages[0].contains(QString::fromStdString(SettingsPath)));
    EXPECT_TRUE(fs::is_directory(SettingsPath)); // left as it was
}

TEST_F(StorageNotice, ASaveThatFailsIsSaidOncePerRunOfFailures) {
    Open();
    SaveTwice();
    ASSERT_TRUE(Messages.isEmpty()) << Messages.join('|').toStdString();

    BlockSettingsFolder();
    SaveTwice();
    ASSERT_EQ(Messages.size(), 1);
    EXPECT_TRUE(Messages[0].startsWith("The settings cannot be saved"));

    fs::remove(SettingsFolder); // writable again: saved, and a later failure is news again
    SaveTwice();
    EXPECT_TRUE(fs::is_regular_file(SettingsPath));
    BlockSettingsFolder();
    SaveTwice();
    EXPECT_EQ(Messages.size(), 2);
}

TEST_F(StorageNotice, ALogThatCannotBeWrittenIsSaidOnceWhileMeasuringGoesOn) {
    Open();
    const fs::path blocked = Home / "blocked";
    std::ofstream(blocked) << "a file where the log's folder should be";
    CChildView& view = Frame->View();
    view.App().LogFile2 = (blocked / "watch.log").string();
    view.Core().Settings.Logging = 1;
    for (int run = 0; run < 4; ++run) // each stop writes a time-only record
        view.Session().Run();
    test::WaitFor([] { return false; }, kNoticeWaitMs / 4);
    ASSERT_EQ(Messages.size(), 1) << Messages.join('|').toStdString();
    EXPECT_TRUE(Messages[0].contains(QString::fromStdString(view.App().LogFile2)));

    fs::remove(blocked); // the folder can be made now: the next record makes it
    view.Session().Run();
    view.Session().Run();
    EXPECT_TRUE(fs::is_regular_file(blocked / "watch.log"));
}

} // namespace
} // namespace kv
