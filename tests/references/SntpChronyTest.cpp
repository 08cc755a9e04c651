// SPDX-License-Identifier: GPL-3.0-or-later
// The SNTP client against a real server: chronyd serving its local clock on 127.0.0.1 at a high
// port, started and stopped by the test, never allowed to adjust the machine's clock (-x).
#include "references/SntpClient.h"

#include "support/ChronyServer.h"

#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace kv {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr auto kStartupWait = 10s;        // chronyd answers within a second of start
constexpr uint32_t kProbeTimeoutMs = 200; // per query while waiting for the server
constexpr double kSameClockSlack = 0.05;  // both clocks are the machine's; loopback is fast

TEST(SntpChrony, ReadingsFromARealServerAreOk) {
    if (!test::ChronyServer::Installed())
        GTEST_SKIP() << "chronyd is not installed (Debian package chrony)";
    test::ChronyServer chrony;
    ASSERT_TRUE(chrony.Running());
    ASSERT_NE(chrony.Port(), 0);

    TimestampClock clock;
    CSNTPClient probe(PosixUdpSockets(), clock);
    probe.SetTimeout(kProbeTimeoutMs);
    SntpReply reply;
    const auto deadline = std::chrono::steady_clock::now() + kStartupWait;
    bool answered = false;
    while (!answered && std::chrono::steady_clock::now() < deadline)
        answered = probe.QueryServer(true, "127.0.0.1", reply, chrony.Port());
    ASSERT_TRUE(answered) << "chronyd did not answer; its log:\n" << chrony.Log();
    EXPECT_EQ(reply.Stratum, 8);

    SntpReference reference("127.0.0.1", chrony.Port(), PosixUdpSockets(), clock);
    for (int reading = 0; reading < 3; ++reading) {
        double offset = 99;
        std::string status;
        ASSERT_TRUE(reference.ReadOffset(
            ReadingPhase::Running, [] { return true; }, offset, status))
            << status;
        EXPECT_EQ(status, "SNTP Ok");
        EXPECT_LT(std::abs(offset), kSameClockSlack);
    }
}

} // namespace
} // namespace kv
