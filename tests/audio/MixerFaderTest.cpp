// SPDX-License-Identifier: GPL-3.0-or-later
// The mixer fader through a fake mixer: slider and control values both ways with the balance
// kept, the echo of the fader's own write, outside changes, and every failure with its text.
#include <gtest/gtest.h>

#include <cstdint>

#include "audio/mixer/MixerFader.h"
#include "support/FakeMixerControl.h"

namespace kv {
namespace {

struct MixerFaderTest : ::testing::Test {
    test::FakeMixerControl Mixer;
    uint32_t NowMs = 1000;
    int SliderNotices = 0;
    CMixerFader Fader{Mixer, true, [this] { return NowMs; }};

    MixerFaderTest() {
        Fader.SliderChanged = [this] { ++SliderNotices; };
    }
    bool BindMicrophone() {
        return Fader.Bind(DestinationWaveIn, SourceMicrophone, MixerControlType::Volume);
    }
};

TEST_F(MixerFaderTest, ControlSetsTheInvertedVerticalSliderAndTheBalance) {
    Mixer.Raw = {40000, 20000};
    ASSERT_TRUE(BindMicrophone()) << Fader.DiagnosticText();
    EXPECT_TRUE(Fader.SliderEnabled());
    EXPECT_EQ(Fader.SliderMaximum(), 100) << "a 65536-step control gets a 100-step slider";
    EXPECT_EQ(Fader.UnitsPerStep(), 655);
    EXPECT_DOUBLE_EQ(Fader.Balance(), -0.5);
    EXPECT_EQ(Fader.SliderPosition(), 100 - 40000 / 655) << "loud is at the top";
    EXPECT_EQ(Fader.Level(), 61 * 655);
    EXPECT_GT(SliderNotices, 0);
}

TEST_F(MixerFaderTest, SliderWritesBothChannelsKeepingTheBalance) {
    Mixer.Raw = {40000, 20000}; // left louder: b = -0.5
    ASSERT_TRUE(BindMicrophone());
    Fader.OnSliderScrolled(20);
    const long v = 80 * 655;
    EXPECT_EQ(Mixer.Raw, (std::vector<long>{v, v / 2}));

    Mixer.Raw = {20000, 40000}; // right louder: b = +0.5
    ASSERT_TRUE(BindMicrophone());
    EXPECT_DOUBLE_EQ(Fader.Balance(), 0.5);
    Fader.OnSliderScrolled(50);
    EXPECT_EQ(Mixer.Raw, (std::vector<long>{50 * 655 / 2, 50 * 655}));
}

TEST_F(MixerFaderTest, ACardsSmallRangeMapsSliderPositionsOntoItsOwnSteps) {
    Mixer.Range = {0, 31, 31};
    Mixer.Raw = {31};
    ASSERT_TRUE(BindMicrophone());
    EXPECT_EQ(Fader.SliderMaximum(), 31);
    EXPECT_EQ(Fader.UnitsPerStep(), 65535 / 31);
    EXPECT_EQ(Fader.SliderPosition(), 0);
    for (int position = 0; position <= 31; ++position) {
        Fader.OnSliderScrolled(position);
        EXPECT_EQ(Mixer.Raw, std::vector<long>{31 - position}) << "position " << position;
    }
}

TEST_F(MixerFaderTest, AnOffsetRangeIsMeasuredFromItsMinimum) {
    Mixer.Range = {-100, 100, 200};
    Mixer.Raw = {100, -100};
    ASSERT_TRUE(BindMicrophone());
    EXPECT_EQ(Fader.Values(), (std::vector<uint32_t>{65535, 0}));
    EXPECT_DOUBLE_EQ(Fader.Balance(), -1.0);
    Fader.OnSliderScrolled(0); // full; the right channel stays silent with balance -1
    EXPECT_EQ(Mixer.Raw, (std::vector<long>{100, -100}));
}

TEST_F(MixerFaderTest, AHorizontalSliderIsNotInverted) {
    CMixerFader across(Mixer, false, [this] { return NowMs; });
    Mixer.Raw = {13100};
    ASSERT_TRUE(across.Bind(DestinationSpeakers, SourceNone, MixerControlType::Volume));
    EXPECT_EQ(across.SliderPosition(), 20);
    across.OnSliderScrolled(30);
    EXPECT_EQ(Mixer.Raw, std::vector<long>{30 * 655});
}

TEST_F(MixerFaderTest, OutsideChangeMovesTheSliderButTheEchoOfItsOwnWriteDoesNot) {
    ASSERT_TRUE(BindMicrophone());
    Fader.OnSliderScrolled(10); // written at 1000 ms
    NowMs = 1049;
    Mixer.ChangeElsewhere({0, 0}); // arrives inside the echo window: taken for our own
    Fader.OnMixerEvent();
    EXPECT_EQ(Fader.SliderPosition(), 10);

    NowMs = 1050;
    Mixer.ChangeElsewhere({0, 0});
    const int before = SliderNotices;
    Fader.OnMixerEvent();
    EXPECT_EQ(Fader.SliderPosition(), 100) << "silent is at the bottom";
    EXPECT_GT(SliderNotices, before);

    Mixer.ChangeElsewhere({65535, 65535}, false); // another control of the same mixer
    Fader.OnMixerEvent();
    EXPECT_EQ(Fader.SliderPosition(), 100);
}

TEST_F(MixerFaderTest, AnOutsideChangeBeforeAnyWriteIsNeverTakenForAnEcho) {
    NowMs = 10; // a clock that starts near 0
    ASSERT_TRUE(BindMicrophone());
    Mixer.ChangeElsewhere({0, 0});
    Fader.OnMixerEvent();
    EXPECT_EQ(Fader.SliderPosition(), 100);
}

TEST_F(MixerFaderTest, LevelMovesSliderAndControlTogether) {
    ASSERT_TRUE(BindMicrophone());
    Fader.SetLevel(30 * 655);
    EXPECT_EQ(Fader.SliderPosition(), 70);
    EXPECT_EQ(Fader.Level(), 30 * 655);
    EXPECT_EQ(Mixer.Raw, (std::vector<long>{30 * 655, 30 * 655}));
    Fader.SetLevel(70000);
    EXPECT_EQ(Fader.SliderPosition(), 0);
}

TEST_F(MixerFaderTest, EveryBindingFailureSaysWhyAndLeavesTheMixerClosed) {
    struct Case {
        bool test::FakeMixerControl::*Flag;
        bool Value;
        const char* Text;
        bool NothingToBind;
    };
    const Case cases[] = {
        {&test::FakeMixerControl::Present, false, "No mixer device present.\r\n", true},
        {&test::FakeMixerControl::Opens, false, "Could not open mixer device\r\n", false},
        {&test::FakeMixerControl::HasDestination, false,
         "Warning: the destination line was not found.\r\n", true},
        {&test::FakeMixerControl::HasSource, false, "The source line was not found.\r\n", true},
        {&test::FakeMixerControl::HasVolume, false, "No controls available for this audio line",
         true},
        {&test::FakeMixerControl::RangeReadable, false,
         "CMixer::Init - mixerGetLineControls failed\n", false},
        {&test::FakeMixerControl::ReadsFail, true,
         "GetMixerControlDetails error\nGetMixerControlDetails() error\r\n", false},
    };
    for (const Case& c : cases) {
        test::FakeMixerControl mixer;
        mixer.*(c.Flag) = c.Value;
        CMixerFader fader(mixer, true);
        EXPECT_FALSE(fader.Bind(DestinationWaveIn, SourceMicrophone, MixerControlType::Volume));
        EXPECT_EQ(fader.DiagnosticText(), c.Text);
        EXPECT_FALSE(fader.SliderEnabled());
        EXPECT_FALSE(fader.Bound());
        EXPECT_EQ(mixer.OpenMixers, 0) << c.Text;
        EXPECT_EQ(fader.MissingControl(), c.NothingToBind) << c.Text;
    }
}

TEST_F(MixerFaderTest, UnusableRangesChannelsAndControlTypesFail) {
    Mixer.Range = {10, 10, 0};
    EXPECT_FALSE(BindMicrophone());
    EXPECT_EQ(Fader.DiagnosticText(), "Control uses unknown units\r\n");

    Mixer.Range = {0, 100, 100};
    Mixer.Raw.clear();
    EXPECT_FALSE(BindMicrophone());
    EXPECT_EQ(Fader.DiagnosticText(), "Null value pointer\r\n") << "the text of one bind only";

    EXPECT_FALSE(Fader.Bind(DestinationWaveIn, SourceMicrophone, MixerControlType::Mute));
    EXPECT_EQ(Fader.DiagnosticText(), "Wrong control type for a fader control\r\n");
    EXPECT_EQ(Mixer.OpenMixers, 0);
}

TEST_F(MixerFaderTest, SliderWriteAndEventFailuresAreAppended) {
    CMixerFader across(Mixer, false);
    across.OnSliderScrolled(3);
    EXPECT_EQ(across.DiagnosticText(), "Error: Fader not initialised\r\n");
    Fader.OnSliderScrolled(3);
    EXPECT_EQ(Fader.DiagnosticText(), "Error: Not initialised?\r\n");

    ASSERT_TRUE(BindMicrophone());
    Mixer.WritesFail = true;
    Fader.OnSliderScrolled(3);
    EXPECT_EQ(Fader.DiagnosticText(),
              "CMixer::SetMixerControlValue mixerSetControlDetails error\n");
    Mixer.ReadsFail = true;
    NowMs += 1000;
    Mixer.ChangeElsewhere({1, 1});
    Fader.OnMixerEvent();
    EXPECT_EQ(Fader.DiagnosticText(), "CMixer::SetMixerControlValue mixerSetControlDetails error\n"
                                      "MM_MIXM_CONTROL_CHANGE --- error\r\n");
}

TEST_F(MixerFaderTest, AMixerThatIsGoneUnbindsTheFader) {
    ASSERT_TRUE(BindMicrophone());
    ASSERT_FALSE(Fader.PollDescriptors().empty());
    Mixer.GoAway();
    Fader.OnMixerEvent();
    EXPECT_FALSE(Fader.Bound());
    EXPECT_FALSE(Fader.SliderEnabled());
    EXPECT_TRUE(Fader.PollDescriptors().empty()) << "nothing left to watch";
    EXPECT_EQ(Fader.DiagnosticText(), "MM_MIXM_CONTROL_CHANGE --- error\r\n");
    EXPECT_EQ(Mixer.OpenMixers, 0);
}

TEST(MixerDevice, TheCardBehindASoundDeviceOrTheDeviceItself) {
    EXPECT_EQ(MixerDeviceFor("hw:1,0"), "hw:1");
    EXPECT_EQ(MixerDeviceFor("plughw:2,3"), "hw:2");
    EXPECT_EQ(MixerDeviceFor("HDA Intel PCH: ALC892 Analog (hw:0,0)"), "hw:0");
    EXPECT_EQ(MixerDeviceFor("pulse"), "pulse");
    EXPECT_EQ(MixerDeviceFor("default"), "default");
    EXPECT_EQ(MixerDeviceFor(""), "default");
    EXPECT_EQ(MixerDeviceFor("USB (hw:x)"), "USB (hw:x)");
}

} // namespace
} // namespace kv
