// SPDX-License-Identifier: GPL-3.0-or-later
// The termios serial port through a pseudo-terminal: time-outs, discarding input, and a close
// that ends a waiting read.
#include "platform/SerialPort.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <pty.h>
#include <thread>
#include <unistd.h>

namespace kv {
namespace {

using namespace std::chrono_literals;
using Steady = std::chrono::steady_clock;

constexpr auto kScheduling = 400ms; // allowance for a loaded machine

struct PtyPort : ::testing::Test {
    int Master = -1, Slave = -1;
    std::unique_ptr<SerialPort> Port;

    void SetUp() override {
        char name[128] = {};
        ASSERT_EQ(::openpty(&Master, &Slave, name, nullptr, nullptr), 0);
        Port = PosixSerialPorts().Open(name);
        ASSERT_TRUE(Port);
        ASSERT_TRUE(Port->ReadLineSettings());
        ASSERT_TRUE(Port->ApplyLineSettings(9600));
    }
    void TearDown() override {
        Port.reset();
        ::close(Master);
        ::close(Slave);
    }
    void Send(const std::string& text) {
        ASSERT_EQ(::write(Master, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    }
    // Bytes read and the time the read took.
    std::pair<std::string, Steady::duration> TimedRead(size_t bytes) {
        std::string buffer(bytes, '\0');
        const auto start = Steady::now();
        const size_t got =
            Port->Read(std::span(reinterpret_cast<uint8_t*>(buffer.data()), buffer.size()));
        buffer.resize(got);
        return {buffer, Steady::now() - start};
    }
};

TEST_F(PtyPort, AReadEndsWhenTheLineFallsSilentAfterTheFirstByte) {
    ASSERT_TRUE(Port->ApplyTimeouts({50, 10, 3000, 10, 1000}));
    Send("$GPZDA,1");
    const auto [text, took] = TimedRead(40);
    EXPECT_EQ(text, "$GPZDA,1");
    EXPECT_GE(took, 50ms);
    EXPECT_LT(took, 50ms + kScheduling);
}

TEST_F(PtyPort, AReadWithoutBytesEndsAfterTheTotalTimeOut) {
    ASSERT_TRUE(Port->ApplyTimeouts({20, 20, 150, 20, 1000}));
    const auto [text, took] = TimedRead(1);
    EXPECT_EQ(text, "");
    EXPECT_GE(took, 170ms); // 20 ms for the byte plus 150 ms
    EXPECT_LT(took, 170ms + kScheduling);
}

TEST_F(PtyPort, AFullBufferEndsTheReadAtOnce) {
    ASSERT_TRUE(Port->ApplyTimeouts({1000, 1000, 5000, 10, 1000}));
    Send("GPZDA,123456");
    const auto [text, took] = TimedRead(6);
    EXPECT_EQ(text, "GPZDA,");
    EXPECT_LT(took, kScheduling);
    EXPECT_EQ(TimedRead(6).first, "123456");
}

TEST_F(PtyPort, DiscardingDropsWhatHasArrived) {
    ASSERT_TRUE(Port->ApplyTimeouts({20, 20, 100, 20, 1000}));
    Send("stale");
    std::this_thread::sleep_for(50ms);
    Port->DiscardInput();
    Send("fresh");
    EXPECT_EQ(TimedRead(5).first, "fresh");
}

TEST_F(PtyPort, WrittenBytesReachTheOtherEnd) {
    ASSERT_TRUE(Port->ApplyTimeouts({20, 20, 100, 20, 1000}));
    const std::string command = "$PSRF103,08,00,01,01*2D\r\n";
    EXPECT_EQ(
        Port->Write(std::span(reinterpret_cast<const uint8_t*>(command.data()), command.size())),
        command.size());
    std::string received(command.size(), '\0');
    size_t got = 0;
    const auto deadline = Steady::now() + 2s;
    while (got < received.size() && Steady::now() < deadline) {
        const ssize_t n = ::read(Master, received.data() + got, received.size() - got);
        if (n > 0) got += static_cast<size_t>(n);
    }
    EXPECT_EQ(received, command);
}

TEST_F(PtyPort, CloseEndsAWaitingReadAndTheDeviceIsNeverReadAgain) {
    ASSERT_TRUE(Port->ApplyTimeouts({1000, 1000, 5000, 10, 1000}));
    Steady::time_point returned;
    size_t got = 99;
    std::thread reader([&] {
        uint8_t byte;
        got = Port->Read(std::span(&byte, 1));
        returned = Steady::now();
    });
    std::this_thread::sleep_for(100ms);
    const auto closing = Steady::now();
    Port->Close();
    reader.join();
    EXPECT_EQ(got, 0u);
    EXPECT_LT(returned - closing, kScheduling);
    EXPECT_TRUE(Port->IsClosed());

    Send("$GPZDA,");
    const auto [text, took] = TimedRead(7);
    EXPECT_EQ(text, "");
    EXPECT_LT(took, 50ms);
    uint8_t byte = '$';
    EXPECT_EQ(Port->Write(std::span(&byte, 1)), 0u);
    EXPECT_FALSE(Port->ApplyLineSettings(9600));
    Port->Close(); // a second close is harmless
}

TEST_F(PtyPort, AnyPositiveRateIsAcceptedWithOrWithoutAConstant) {
    for (const int baud : {115200, 12345})
        EXPECT_TRUE(Port->ApplyLineSettings(baud)) << baud;
    for (const int baud : {0, -9600}) // not a speed, however the driver would read it
        EXPECT_FALSE(Port->ApplyLineSettings(baud)) << baud;
}

TEST(SerialPortOpen, OnlyCharacterDevicesAreOpened) {
    EXPECT_FALSE(PosixSerialPorts().Open(""));
    EXPECT_FALSE(PosixSerialPorts().Open("/nonexistent/ttyUSB0"));
    const auto file = std::filesystem::temp_directory_path() / "kv-serial-regular-file";
    std::ofstream(file) << "x";
    EXPECT_FALSE(PosixSerialPorts().Open(file.string()));
    std::filesystem::remove(file);
    auto null = PosixSerialPorts().Open("null"); // /dev/null: a device, not a terminal
    ASSERT_TRUE(null);
    EXPECT_FALSE(null->ReadLineSettings());
    EXPECT_FALSE(null->ApplyLineSettings(4800)); // no settings to start from
}

TEST(SerialPortOpen, NamesAreLookedUpUnderDevAndPathsUsedAsGiven) {
    EXPECT_EQ(SerialDevicePath("ttyUSB0"), "/dev/ttyUSB0");
    EXPECT_EQ(SerialDevicePath("serial/by-id/usb-GPS"), "/dev/serial/by-id/usb-GPS");
    EXPECT_EQ(SerialDevicePath("/dev/ttyACM1"), "/dev/ttyACM1");
}

} // namespace
} // namespace kv
