// SPDX-License-Identifier: GPL-3.0-or-later
// First-run installation of the sample recording as the default waveform file.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <unistd.h>

#include "session/SampleRecording.h"

namespace kv {
namespace {

namespace fs = std::filesystem;

struct SampleInstall : ::testing::Test {
    fs::path Dir = fs::temp_directory_path() / ("kv-sample-" + std::to_string(::getpid()));
    fs::path Sample = Dir / "share" / "kestrovane" / "sample-watch.wav";
    void SetUp() override {
        fs::create_directories(Sample.parent_path());
        std::ofstream(Sample) << "RIFF sample";
    }
    void TearDown() override { fs::remove_all(Dir); }
    static std::string Read(const fs::path& p) {
        std::ifstream in(p);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
};

TEST_F(SampleInstall, FindsTheSampleBesideTheProgramFolder) {
    EXPECT_EQ(BundledSamplePath(Dir / "bin"), Sample);
    EXPECT_EQ(BundledSamplePath(Dir / "src"), Sample);
}

TEST_F(SampleInstall, CopiesIntoANewFolderWhenTheDefaultWaveFileIsMissing) {
    const fs::path wave = Dir / "data" / "Vexlor" / "cal.wav";
    EXPECT_TRUE(InstallSampleRecording(Sample, wave, wave));
    EXPECT_EQ(Read(wave), "RIFF sample");
}

TEST_F(SampleInstall, AMissingFileOfTheUsersOwnChoiceIsLeftAlone) {
    const fs::path wave = Dir / "my-watch.wav";
    EXPECT_FALSE(InstallSampleRecording(Sample, wave, Dir / "data" / "Vexlor" / "cal.wav"));
    EXPECT_FALSE(fs::exists(wave)) << "free for a recording of the user's own";
}

TEST_F(SampleInstall, NeverReplacesAnExistingRecording) {
    const fs::path wave = Dir / "cal.wav";
    std::ofstream(wave) << "my recording";
    EXPECT_FALSE(InstallSampleRecording(Sample, wave, wave));
    EXPECT_EQ(Read(wave), "my recording");
}

TEST_F(SampleInstall, MissingSampleOrEmptyNameCopiesNothing) {
    EXPECT_FALSE(InstallSampleRecording(Dir / "none.wav", Dir / "cal.wav", Dir / "cal.wav"));
    EXPECT_FALSE(fs::exists(Dir / "cal.wav"));
    EXPECT_FALSE(InstallSampleRecording(Sample, "", ""));
}

} // namespace
} // namespace kv
