// SPDX-License-Identifier: GPL-3.0-or-later
// The GPS reader through a pseudo-terminal, with a receiver simulated by the test on the other
// side: configuration sentences, ZDA readings, damaged and missing sentences, open failures and
// a close while a reading waits.
#include "references/GpsReceiver.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <mutex>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

#include "references/Nmea.h"
#include "timebase/NtpTime.h"

namespace kv {
namespace {

using namespace std::chrono_literals;
using Steady = std::chrono::steady_clock;

constexpr int kBaud = 4800;
constexpr auto kSentencePeriod = 150ms; // the simulated receiver runs faster than 1 Hz
constexpr double kReceiverAhead = 2.5;  // seconds the receiver's time is ahead
constexpr double kArrivalSlack = 0.03;  // millisecond digits and the pseudo-terminal's delay
constexpr auto kWriteWait = 2s;         // for the program's commands to reach the receiver

std::string Joined(const std::vector<std::string>& sentences) {
    std::string all;
    for (const auto& s : sentences)
        all += s;
    return all;
}

// What a receiver sends at a moment: a ZDA sentence for the time `utc`.
std::string ZdaSentence(uint64_t utc, bool emptyYear = false, bool badChecksum = false) {
    const CalendarTime t = CalendarFromUtc100ns(utc);
    char body[64];
    std::snprintf(body, sizeof body, "GPZDA,%02d%02d%02d.%03d,%02d,%02d,%s,00,00", t.Hour, t.Minute,
                  t.Second, t.Milliseconds, t.Day, t.Month,
                  emptyYear ? "" : std::to_string(t.Year).c_str());
    std::string sentence = FrameNmeaSentence(body);
    if (badChecksum)
        sentence.replace(sentence.size() - 4, 2,
                         sentence[sentence.size() - 4] == '0' ? "11" : "00");
    return sentence;
}

const std::string kGga = "$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47\r\n";
const std::string kGsv = "$GPGSV,2,1,08,01,40,083,46,02,17,308,41,12,07,344,39,14,22,228,45*75\r\n";

// The far end of a pseudo-terminal: sends bursts made by `burst` every kSentencePeriod once
// started, and keeps everything the program writes.
class SimulatedReceiver {
public:
    explicit SimulatedReceiver(const TimestampClock& clock) : clock_(clock) {
        char name[128] = {};
        opened_ = ::openpty(&master_, &slave_, name, nullptr, nullptr) == 0;
        path_ = name;
        if (opened_) ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
        thread_ = std::thread([this] { Run(); });
    }
    ~SimulatedReceiver() {
        stop_ = true;
        thread_.join();
        if (opened_) {
            ::close(master_);
            ::close(slave_);
        }
    }
    bool Opened() const { return opened_; }
    const std::string& Path() const { return path_; }
    int SlaveFd() const { return slave_; }
    // burst(i, utc) is the text of the i-th burst, written at the receiver's time utc.
    void Start(std::function<std::string(int, uint64_t)> burst) {
        std::lock_guard lock(mutex_);
        burst_ = std::move(burst);
    }
    void PullTheCable() { silent_ = true; }
    std::string Written() {
        std::lock_guard lock(mutex_);
        return written_;
    }
    // Waits until `bytes` have been written by the program, at most kWriteWait.
    std::string WaitForWritten(size_t bytes) {
        const auto deadline = Steady::now() + kWriteWait;
        while (Written().size() < bytes && Steady::now() < deadline)
            std::this_thread::sleep_for(5ms);
        return Written();
    }

private:
    void Run() {
        constexpr int kPollMs = 5;
        auto nextBurst = Steady::now();
        int index = 0;
        while (!stop_ && opened_) {
            pollfd p{master_, POLLIN, 0};
            if (::poll(&p, 1, kPollMs) > 0 && (p.revents & POLLIN)) {
                char buffer[512];
                const ssize_t got = ::read(master_, buffer, sizeof buffer);
                std::lock_guard lock(mutex_);
                if (got > 0) written_.append(buffer, static_cast<size_t>(got));
            }
            std::function<std::string(int, uint64_t)> burst;
            {
                std::lock_guard lock(mutex_);
                burst = burst_;
            }
            if (!burst || silent_ || Steady::now() < nextBurst) continue;
            nextBurst += kSentencePeriod;
            const uint64_t ahead = static_cast<uint64_t>(kReceiverAhead * 1e7);
            const std::string text = burst(index++, clock_.NowUtc() + ahead);
            (void)!::write(master_, text.data(), text.size());
        }
    }

    const TimestampClock& clock_;
    int master_ = -1, slave_ = -1;
    bool opened_ = false;
    std::string path_;
    std::mutex mutex_;
    std::function<std::string(int, uint64_t)> burst_;
    std::string written_;
    std::atomic<bool> silent_{false};
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

const StillWanted kAlwaysWanted = [] { return true; };

struct GpsThroughPty : ::testing::Test {
    TimestampClock Clock;
    SimulatedReceiver Receiver{Clock};
    GpsReceiver Gps{PosixSerialPorts(), Clock};
    double Offset = -1;
    std::string Status = "before";
    std::string Error;

    void SetUp() override {
        ASSERT_TRUE(Receiver.Opened());
        ASSERT_TRUE(Gps.OpenGpsPort(Receiver.Path(), kBaud, Error)) << Error;
        const std::string start = Joined(GpsMessageConfiguration(false));
        ASSERT_EQ(Receiver.WaitForWritten(start.size()), start);
    }
    bool Read(int sentences, const StillWanted& wanted = kAlwaysWanted) {
        return Gps.ReadGpsOffset(sentences, wanted, Offset, Status);
    }
};

TEST_F(GpsThroughPty, TheLineIsRawEightBitsNoParityOneStopBitAtTheBaudRate) {
    termios line{};
    ASSERT_EQ(::tcgetattr(Receiver.SlaveFd(), &line), 0);
    EXPECT_EQ(::cfgetospeed(&line), B4800);
    EXPECT_EQ(::cfgetispeed(&line), B4800);
    EXPECT_EQ(line.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_FALSE(line.c_cflag & (PARENB | CSTOPB | CRTSCTS));
    EXPECT_TRUE(line.c_cflag & CREAD);
    EXPECT_TRUE(line.c_cflag & CLOCAL);
    EXPECT_FALSE(line.c_iflag & (IXON | IXOFF | ICRNL | INLCR | ISTRIP | INPCK | PARMRK));
    EXPECT_FALSE(line.c_lflag & (ICANON | ECHO | ISIG | IEXTEN));
    EXPECT_FALSE(line.c_oflag & OPOST);
}

TEST_F(GpsThroughPty, ZdaSentencesAmongOthersGiveTheReceiversOffset) {
    Receiver.Start([](int i, uint64_t utc) {
        // Other sentences before and between the ZDA sentences are skipped.
        return (i % 2 ? kGga : kGsv + kGga) + ZdaSentence(utc) + kGsv;
    });
    ASSERT_TRUE(Read(5)) << Status;
    EXPECT_EQ(Status, "GPS Ok");
    EXPECT_NEAR(Offset, kReceiverAhead, kArrivalSlack);
}

TEST_F(GpsThroughPty, ChecksumsAreNotLookedAt) {
    Receiver.Start([](int, uint64_t utc) { return ZdaSentence(utc, false, true); });
    ASSERT_TRUE(Read(3)) << Status;
    EXPECT_EQ(Status, "GPS Ok");
    EXPECT_NEAR(Offset, kReceiverAhead, kArrivalSlack);
}

TEST_F(GpsThroughPty, EverySentenceWithAnEmptyYearFailsItsAttempt) {
    Receiver.Start([](int i, uint64_t utc) { return ZdaSentence(utc, i % 2 == 1); });
    EXPECT_FALSE(Read(4));
    EXPECT_EQ(Status, "Bad data from GPS:2 of 4");
}

TEST_F(GpsThroughPty, AReceiverThatStopsFailsTheReading) {
    Receiver.Start([](int, uint64_t utc) { return ZdaSentence(utc); });
    int attempts = 0;
    const auto pullAtThird = [&] {
        if (++attempts == 3) Receiver.PullTheCable();
        return true;
    };
    EXPECT_FALSE(Read(3, pullAtThird));
    EXPECT_EQ(Status, "Bad data from GPS:2 of 3");
}

TEST_F(GpsThroughPty, AnAttemptHuntsThroughTwoSecondsOfCharactersAtMost) {
    // 1000 characters without "$" before each ZDA sentence: the first attempt gives up after
    // 960, the second finds the sentence behind the remaining 40.
    Receiver.Start([](int, uint64_t utc) { return std::string(1000, 'x') + ZdaSentence(utc); });
    EXPECT_FALSE(Read(2));
    EXPECT_EQ(Status, "Bad data from GPS:1 of 2");
}

TEST_F(GpsThroughPty, StoppingEndsTheReadingWithoutAStatus) {
    Receiver.Start([](int, uint64_t utc) { return ZdaSentence(utc); });
    int attempts = 0;
    EXPECT_FALSE(Read(5, [&] { return ++attempts < 3; }));
    EXPECT_EQ(Status, "before");
    EXPECT_EQ(Offset, -1);
}

TEST_F(GpsThroughPty, CloseRestoresTheStandardOutputAndEndsAWaitingReading) {
    // A silent receiver: the reading waits in a read when the port is closed.
    bool result = true;
    Steady::time_point returned;
    std::thread worker([&] {
        result = Read(5);
        returned = Steady::now();
    });
    std::this_thread::sleep_for(200ms);
    const auto closing = Steady::now();
    Gps.CloseGpsPort();
    worker.join();
    EXPECT_FALSE(result);
    EXPECT_EQ(Status, "before");
    EXPECT_LT(returned - closing, 500ms); // not after the 1.1 s read time-out
    EXPECT_FALSE(Gps.IsOpen());

    const std::string expected =
        Joined(GpsMessageConfiguration(false)) + Joined(GpsMessageConfiguration(true));
    EXPECT_EQ(Receiver.WaitForWritten(expected.size()), expected);

    EXPECT_FALSE(Read(5));
    EXPECT_EQ(Status, "No RS232 port open");
}

TEST(GpsPort, APlainDeviceNameIsLookedUpUnderDev) {
    TimestampClock clock;
    SimulatedReceiver receiver(clock);
    ASSERT_TRUE(receiver.Opened());
    ASSERT_EQ(receiver.Path().rfind("/dev/", 0), 0u);
    GpsReceiver gps(PosixSerialPorts(), clock);
    std::string error;
    EXPECT_TRUE(gps.OpenGpsPort(receiver.Path().substr(5), kBaud, error)) << error;
    EXPECT_TRUE(gps.IsOpen());
}

TEST(GpsPort, OpenFailuresSayWhy) {
    TimestampClock clock;
    GpsReceiver gps(PosixSerialPorts(), clock, [] { return std::vector<std::string>(); });
    std::string error;
    for (const char* none : {"", "COM5"}) { // nothing chosen, and no serial port found
        EXPECT_FALSE(gps.OpenGpsPort(none, kBaud, error));
        EXPECT_EQ(error, "No GPS port configured");
    }
    EXPECT_FALSE(gps.OpenGpsPort("/nonexistent/ttyUSB9", kBaud, error));
    EXPECT_EQ(error, "GPS com port unavailable");
    const auto file = std::filesystem::temp_directory_path() / "kv-gps-not-a-device";
    std::ofstream(file) << "$GPZDA";
    EXPECT_FALSE(gps.OpenGpsPort(file.string(), kBaud, error));
    EXPECT_EQ(error, "GPS com port unavailable");
    std::filesystem::remove(file);
    EXPECT_FALSE(gps.OpenGpsPort("/dev/null", kBaud, error)); // a device, but not a terminal
    EXPECT_EQ(error, "Get com state failed.");

    SimulatedReceiver receiver(clock);
    ASSERT_TRUE(receiver.Opened());
    for (const int unsupported : {0, -4800}) {
        EXPECT_FALSE(gps.OpenGpsPort(receiver.Path(), unsupported, error)) << unsupported;
        EXPECT_EQ(error, "Set com state failed.") << unsupported;
    }
    EXPECT_FALSE(gps.IsOpen());
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(receiver.Written(), ""); // nothing is sent to a port that failed to open

    double offset = 0;
    std::string status;
    EXPECT_FALSE(gps.ReadGpsOffset(5, kAlwaysWanted, offset, status));
    EXPECT_EQ(status, "No RS232 port open");
}

// A port that fails the step it is told to, and remembers what it was given.
class ScriptedPort final : public SerialPort {
public:
    enum Step { None, GetState, SetState, GetTimeouts, SetTimeouts };
    ScriptedPort(Step failing, SerialTimeouts& applied, bool& closed, std::string& written)
        : failing_(failing), applied_(applied), closed_(closed), written_(written) {}
    bool ReadLineSettings() override { return failing_ != GetState; }
    bool ApplyLineSettings(int) override { return failing_ != SetState; }
    bool ReadTimeouts(SerialTimeouts&) override { return failing_ != GetTimeouts; }
    bool ApplyTimeouts(const SerialTimeouts& t) override {
        applied_ = t;
        return failing_ != SetTimeouts;
    }
    size_t Read(std::span<uint8_t>) override { return 0; }
    size_t Write(std::span<const uint8_t> bytes) override {
        written_.append(bytes.begin(), bytes.end());
        return bytes.size();
    }
    void DiscardInput() override {}
    void Close() override { closed_ = true; }
    bool IsClosed() const override { return closed_; }

private:
    Step failing_;
    SerialTimeouts& applied_;
    bool& closed_;
    std::string& written_;
};

class ScriptedOpener final : public SerialPortOpener {
public:
    ScriptedPort::Step Failing = ScriptedPort::None;
    SerialTimeouts Applied;
    bool Closed = false;
    std::string Written;
    std::unique_ptr<SerialPort> Open(const std::string&) override {
        Closed = false;
        Written.clear();
        return std::make_unique<ScriptedPort>(Failing, Applied, Closed, Written);
    }
};

TEST(GpsPort, EveryFailedOpeningStepClosesThePort) {
    TimestampClock clock;
    ScriptedOpener opener;
    GpsReceiver gps(opener, clock);
    std::string error;
    const std::pair<ScriptedPort::Step, const char*> failures[] = {
        {ScriptedPort::GetState, "Get com state failed."},
        {ScriptedPort::SetState, "Set com state failed."},
        {ScriptedPort::GetTimeouts, "Get com timeouts failed"},
        {ScriptedPort::SetTimeouts, "Set com timeouts failed"}};
    for (const auto& [step, text] : failures) {
        opener.Failing = step;
        EXPECT_FALSE(gps.OpenGpsPort("ttyUSB0", kBaud, error));
        EXPECT_EQ(error, text);
        EXPECT_TRUE(opener.Closed) << text;
        EXPECT_EQ(opener.Written, "") << text;
        EXPECT_FALSE(gps.IsOpen());
    }
}

TEST(GpsPort, TimeOutsAndHuntingBudgetFollowTheBaudRate) {
    TimestampClock clock;
    ScriptedOpener opener;
    GpsReceiver gps(opener, clock);
    std::string error;
    ASSERT_TRUE(gps.OpenGpsPort("ttyUSB0", kBaud, error));
    // 4800 baud: about 2 ms a character, 20 ms slack, 1.1 s for each call.
    EXPECT_EQ(opener.Applied, (SerialTimeouts{22, 22, 1100, 22, 1100}));
    EXPECT_EQ(GpsTimeouts(9600), (SerialTimeouts{21, 21, 1100, 21, 1100}));
    EXPECT_EQ(GpsTimeouts(4000), (SerialTimeouts{23, 23, 1100, 23, 1100})); // 2.5 rounds up
    EXPECT_EQ(GpsTimeouts(115200), (SerialTimeouts{20, 20, 1100, 20, 1100}));
    EXPECT_EQ(GpsHuntBudget(4800), 960);
    EXPECT_EQ(GpsHuntBudget(9600), 1920);
    EXPECT_EQ(opener.Written, Joined(GpsMessageConfiguration(false)));
    gps.CloseGpsPort();
    EXPECT_TRUE(opener.Closed);
    EXPECT_EQ(opener.Written,
              Joined(GpsMessageConfiguration(false)) + Joined(GpsMessageConfiguration(true)));
}

} // namespace
} // namespace kv
