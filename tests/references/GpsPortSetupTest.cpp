// SPDX-License-Identifier: GPL-3.0-or-later
// Setting the GPS port up on pseudo-terminals: every speed the settings dialog offers, and the
// port used when the settings file names none or the old Windows default.
#include <asm/termbits.h>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "references/GpsReceiver.h"
#include "settings/SettingsIO.h"
#include "settings/SettingsTestSupport.h"

namespace kv {
namespace {

// A pseudo-terminal; the test holds the port side open too, to read its speed from the driver.
struct Pty {
    int Master = ::posix_openpt(O_RDWR | O_NOCTTY);
    std::string Path = ::grantpt(Master) == 0 && ::unlockpt(Master) == 0 ? ::ptsname(Master) : "";
    int Port = ::open(Path.c_str(), O_RDWR | O_NOCTTY);
    ~Pty() {
        ::close(Port);
        ::close(Master);
    }
    // Input and output speed when they agree, else 0.
    speed_t Speed() const {
        termios2 line{};
        const bool read = ::ioctl(Port, TCGETS2, &line) == 0;
        return read && line.c_ispeed == line.c_ospeed ? line.c_ospeed : 0;
    }
};

TEST(GpsPortSetup, EveryOfferedSpeedOpensThePortAtExactlyThatSpeed) {
    for (const int baud : GpsBaudRates) {
        Pty pty;
        GpsReceiver gps;
        std::string error;
        EXPECT_TRUE(gps.OpenGpsPort(pty.Path, baud, error)) << baud << ": " << error;
        EXPECT_EQ(pty.Speed(), static_cast<speed_t>(baud));
    }
}

TEST(GpsPortSetup, WithoutAStoredChoiceTheFirstPortFoundIsUsed) {
    const test::TempFolder dev;
    const Pty usb, acm; // the scan lists ttyUSB before ttyACM
    std::filesystem::create_symlink(usb.Path, dev / "ttyUSB0");
    std::filesystem::create_symlink(acm.Path, dev / "ttyACM0");
    const SerialPortList scan = [&] { return ListSerialPorts(dev.Path(), dev / "sys"); };
    // Each case sets its own speed, which only the port it opened takes on.
    const struct {
        std::string Stored;
        int Baud;
        const Pty& Opened;
    } cases[] = {
        {"", 14400, usb}, {"GPSPort=COM5", 28800, usb}, {"GPSPort=" + dev / "ttyACM0", 56000, acm}};
    for (const auto& [stored, baud, opened] : cases) {
        test::WriteFile(dev / "kv.ini",
                        "[Settings]\nGPSBaud=" + std::to_string(baud) + "\n" + stored + "\n");
        SettingsStore store(dev / "kv.ini");
        ASSERT_TRUE(store.Load());
        test::QuietHost host;
        TimestampClock clock;
        AnalysisCore core{host, clock};
        AppSettings app;
        LoadSettings(store, core, app, clock);
        GpsReceiver gps(PosixSerialPorts(), clock, scan);
        std::string error;
        EXPECT_TRUE(gps.OpenGpsPort(app.GPSPort, app.GPSBaud, error)) << stored << error;
        EXPECT_EQ(opened.Speed(), static_cast<speed_t>(baud)) << stored;
    }
}

} // namespace
} // namespace kv
