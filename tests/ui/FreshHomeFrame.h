// SPDX-License-Identifier: GPL-3.0-or-later
// A fixture with the whole main window on a fresh home folder: settings and data go to a folder of
// the test's own (named by `prefix` and the process), the microphone is a SignalSource and the
// speaker a CountingSink. Measuring is stopped and the folder removed at the end.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <unistd.h>

#include "SignalSource.h"
#include "ui/app/MainFrame.h"

namespace kv::test {

class FreshHomeFrame : public ::testing::Test {
protected:
    explicit FreshHomeFrame(const std::string& prefix)
        : Home(std::filesystem::temp_directory_path() / (prefix + std::to_string(::getpid()))) {}

    void SetUp() override {
        std::filesystem::create_directories(Home);
        setenv("XDG_DATA_HOME", Home.c_str(), 1);
        setenv("XDG_CONFIG_HOME", Home.c_str(), 1);
        Frame = std::make_unique<CMainFrame>(CMainFrame::Options{nullptr, &Source, &Speaker, {}});
    }
    void TearDown() override {
        if (Frame && View().Session().IsRunning()) View().Session().Run();
        Frame.reset();
        unsetenv("XDG_DATA_HOME");
        unsetenv("XDG_CONFIG_HOME");
        std::filesystem::remove_all(Home);
    }
    CChildView& View() { return Frame->View(); }

    std::filesystem::path Home;
    SignalSource Source;
    CountingSink Speaker;
    std::unique_ptr<CMainFrame> Frame;
};

} // namespace kv::test
