// SPDX-License-Identifier: GPL-3.0-or-later
// The serial port list from a made-up /dev and /sys.
#include "platform/SerialPortScan.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <unistd.h>

namespace kv {
namespace {

namespace fs = std::filesystem;

struct FakeDevices : ::testing::Test {
    fs::path Root = fs::temp_directory_path() / ("kv-serial-scan-" + std::to_string(::getpid()));
    fs::path Dev = Root / "dev", Sys = Root / "sys";
    void SetUp() override {
        fs::create_directories(Dev / "serial" / "by-id");
        for (const char* name : {"ttyS10", "ttyS2", "ttyS1", "ttyUSB0", "ttyACM3", "ttyUSB11",
                                 "ttyS", "ttySx", "tty0", "ttyprintk", "null", "ttyUSB1a"})
            std::ofstream(Dev / name);
        std::ofstream(Dev / "serial" / "by-id" / "usb-u-blox_GNSS-if00");
        std::ofstream(Dev / "serial" / "by-id" / "usb-Prolific_PL2303-if00-port0");
        UartType("ttyS1", 0); // no UART behind it
        UartType("ttyS2", 4); // a 16550A
    }
    void TearDown() override { fs::remove_all(Root); }
    void UartType(const char* name, int type) {
        fs::create_directories(Sys / "class" / "tty" / name);
        std::ofstream(Sys / "class" / "tty" / name / "type") << type << "\n";
    }
};

TEST_F(FakeDevices, SerialPortsInNumericOrderThenStableNames) {
    const std::vector<std::string> expected = {
        (Dev / "ttyS2").string(),
        (Dev / "ttyS10").string(),
        (Dev / "ttyUSB0").string(),
        (Dev / "ttyUSB11").string(),
        (Dev / "ttyACM3").string(),
        (Dev / "serial/by-id/usb-Prolific_PL2303-if00-port0").string(),
        (Dev / "serial/by-id/usb-u-blox_GNSS-if00").string()};
    EXPECT_EQ(ListSerialPorts(Dev.string(), Sys.string()), expected);
}

TEST_F(FakeDevices, MissingFoldersGiveAnEmptyList) {
    EXPECT_TRUE(ListSerialPorts((Root / "none").string(), (Root / "none").string()).empty());
}

} // namespace
} // namespace kv
