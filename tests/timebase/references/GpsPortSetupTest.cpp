// Setting the GPS port up on pseudo-terminals: every speed the settings dialog offers.
#include <asm/termbits.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "timebase/references/GpsReceiver.h"

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

} // namespace
} // namespace kv
