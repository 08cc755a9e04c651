// The SNTP client against servers run by the test on the loopback interface: the packet it sends,
// the replies it accepts, and how a burst of queries is judged.
#include "timebase/references/SntpClient.h"

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cmath>
#include <functional>
#include <gtest/gtest.h>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <tuple>
#include <unistd.h>
#include <vector>

namespace kv {
namespace {

constexpr NtpTime kT1 = 0xE1234567'80000000ULL;
constexpr double kServerAhead = 2.5;     // seconds the test servers' clocks run ahead
constexpr double kLoopbackSlack = 0.005; // round trip and millisecond steps of the clock
constexpr uint32_t kShortTimeoutMs = 60;

// Seconds of either sign as a time stamp difference, modulo 2^64.
NtpTime NtpSeconds(double seconds) {
    return static_cast<NtpTime>(std::llround(seconds * 4294967296.0));
}

std::vector<uint8_t> ServerPacket(NtpTime originate, NtpTime receive, NtpTime transmit,
                                  uint8_t flags = 0x24 /* leap 0, version 4, server */) {
    std::vector<uint8_t> p(kSntpPacketBytes, 0);
    p[0] = flags;
    p[1] = 3;
    auto put = [&p](size_t at, NtpTime v) {
        for (int i = 0; i < 8; ++i)
            p[at + i] = static_cast<uint8_t>(v >> (56 - 8 * i));
    };
    put(24, originate);
    put(32, receive);
    put(40, transmit);
    return p;
}

TEST(SntpPacket, RequestIsClientModeVersionThreeWithOnlyTheTransmitTime) {
    const auto request = BuildSntpRequest(kT1);
    ASSERT_EQ(request.size(), 48u);
    EXPECT_EQ(request[0], 0x1B);
    for (size_t i = 1; i < 40; ++i)
        EXPECT_EQ(request[i], 0) << "byte " << i;
    const uint8_t transmit[8] = {0xE1, 0x23, 0x45, 0x67, 0x80, 0, 0, 0};
    for (size_t i = 0; i < 8; ++i)
        EXPECT_EQ(request[40 + i], transmit[i]);
}

TEST(SntpPacket, OffsetIsTheMeanOfBothDirections) {
    // Server 2 s ahead, 0.25 s each way: T2 = T1 + 2.25, T3 = T2 + 0.5, T4 = T1 + 1.
    const NtpTime t2 = kT1 + NtpSeconds(2.25), t3 = kT1 + NtpSeconds(2.75),
                  t4 = kT1 + NtpSeconds(1);
    auto packet = ServerPacket(kT1, t2, t3, 0xDC); // leap 3, version 3, server
    packet.resize(kSntpReplyBufferBytes, 0xAA);    // an authenticator is ignored
    const auto reply = EvaluateSntpReply(packet, kT1, t4);
    ASSERT_TRUE(reply);
    EXPECT_NEAR(reply->ClockOffset, 2.0, 1e-9);
    EXPECT_EQ(reply->LeapIndicator, 3);
    EXPECT_EQ(reply->Stratum, 3);
    EXPECT_EQ(reply->Originate, kT1);
    EXPECT_EQ(reply->Receive, t2);
    EXPECT_EQ(reply->Transmit, t3);
    EXPECT_EQ(reply->Destination, t4);
}

TEST(SntpPacket, PacketsThatCannotAnswerOurRequestAreRefused) {
    const NtpTime t2 = kT1 + NtpSeconds(1), t4 = kT1 + NtpSeconds(0.1);
    auto shortPacket = ServerPacket(kT1, t2, t2);
    shortPacket.pop_back();
    EXPECT_FALSE(EvaluateSntpReply(shortPacket, kT1, t4)) << "47 bytes";
    for (const uint8_t mode : {0, 1, 2, 3, 5, 6, 7})
        EXPECT_FALSE(EvaluateSntpReply(ServerPacket(kT1, t2, t2, 0x18 | mode), kT1, t4))
            << "mode " << int(mode);
    EXPECT_FALSE(EvaluateSntpReply(ServerPacket(kT1 + 1, t2, t2), kT1, t4)) << "originate";
    EXPECT_FALSE(EvaluateSntpReply(ServerPacket(kT1, t2, 0), kT1, t4)) << "zero transmit";
    EXPECT_FALSE(EvaluateSntpReply({}, kT1, t4)) << "empty";
    EXPECT_TRUE(EvaluateSntpReply(ServerPacket(kT1, t2, t2), kT1, t4));
}

// Fault: replies whose times cannot be right were believed. (Differences across the 2036 wrap are
// NtpTime's; a reading across it is below.)
TEST(SntpPacket, RepliesWithImpossibleTimesAreNotBelievable) {
    constexpr double kYear = 365.25 * 86400;
    // T2, T3 and T4 in seconds after T1, and whether they can be right.
    const std::tuple<double, double, double, bool> cases[] = {
        {3600.05, 3600.05, 0.1, true}, // our clock an hour behind
        {0, 0.0004, 0, true},          // T1 and T4 in one millisecond
        {1, 2, 0.5, false},            // held longer than it was away
        {30, 30, 60, false},
        {40 * kYear, 40 * kYear, 0.1, false},
        {-3 * kYear, -3 * kYear, 0.1, false}};
    for (const auto& [t2, t3, t4, believable] : cases) {
        const auto reply =
            EvaluateSntpReply(ServerPacket(kT1, kT1 + NtpSeconds(t2), kT1 + NtpSeconds(t3)), kT1,
                              kT1 + NtpSeconds(t4));
        ASSERT_TRUE(reply) << t2;
        EXPECT_EQ(SntpReplyBelievable(*reply), believable) << t2 << " " << t3 << " " << t4;
    }
}

// What the fake server does with the request it received as number `index` (0 = warm-up). Every
// answer but Reply claims a time 1000 s further ahead (Years: forty years), so one taken as a
// reading shows.
enum class Answer { Reply, Drop, Short, ClientMode, WrongOriginate, ZeroTransmit, FarAhead, Years };
constexpr double kFortyYears = 40 * 365.25 * 86400;

// An SNTP server on 127.0.0.1 (or ::1) whose clock is the test's timestamp clock plus
// kServerAhead; a policy decides each answer.
class FakeSntpServer {
public:
    FakeSntpServer(const TimestampClock& clock, std::function<Answer(int)> policy,
                   int family = AF_INET)
        : clock_(clock), policy_(std::move(policy)) {
        fd_ = ::socket(family, SOCK_DGRAM, 0);
        sockaddr_storage address{};
        socklen_t length;
        if (family == AF_INET) {
            auto* v4 = reinterpret_cast<sockaddr_in*>(&address);
            v4->sin_family = AF_INET;
            v4->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            length = sizeof *v4;
        } else {
            auto* v6 = reinterpret_cast<sockaddr_in6*>(&address);
            v6->sin6_family = AF_INET6;
            v6->sin6_addr = in6addr_loopback;
            length = sizeof *v6;
        }
        bound_ = fd_ >= 0 && ::bind(fd_, reinterpret_cast<sockaddr*>(&address), length) == 0 &&
                 ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) == 0;
        port_ = ntohs(family == AF_INET ? reinterpret_cast<sockaddr_in*>(&address)->sin_port
                                        : reinterpret_cast<sockaddr_in6*>(&address)->sin6_port);
        if (bound_) thread_ = std::thread([this] { Serve(); });
    }
    ~FakeSntpServer() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
        if (fd_ >= 0) ::close(fd_);
    }
    bool Bound() const { return bound_; }
    int Port() const { return port_; }
    int Requests() const { return requests_; }
    std::vector<std::vector<uint8_t>> Received() const {
        std::lock_guard lock(mutex_);
        return received_;
    }

private:
    void Serve() {
        constexpr int kPollMs = 20; // how quickly the server notices it should stop
        while (!stop_) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, kPollMs) <= 0) continue;
            uint8_t request[128];
            sockaddr_storage peer{};
            socklen_t peerLength = sizeof peer;
            const ssize_t got = ::recvfrom(fd_, request, sizeof request, 0,
                                           reinterpret_cast<sockaddr*>(&peer), &peerLength);
            if (got <= 0) continue;
            const NtpTime received = NowNtp(true, clock_) + NtpSeconds(kServerAhead);
            NtpTime originate = 0;
            for (int i = 0; i < 8; ++i)
                originate = originate << 8 | request[40 + i];
            {
                std::lock_guard lock(mutex_);
                received_.emplace_back(request, request + got);
            }
            const Answer answer = policy_(requests_++);
            if (answer == Answer::Drop) continue;
            const NtpTime ahead = answer == Answer::Reply   ? 0
                                  : answer == Answer::Years ? NtpSeconds(kFortyYears)
                                                            : NtpSeconds(1000);
            auto reply = ServerPacket(answer == Answer::WrongOriginate ? originate + 1 : originate,
                                      received + ahead,
                                      answer == Answer::ZeroTransmit ? 0 : received + ahead,
                                      answer == Answer::ClientMode ? 0x23 : 0x24);
            if (answer == Answer::Short) reply.resize(40);
            ::sendto(fd_, reply.data(), reply.size(), 0, reinterpret_cast<sockaddr*>(&peer),
                     peerLength);
        }
    }

    const TimestampClock& clock_;
    std::function<Answer(int)> policy_;
    int fd_ = -1;
    bool bound_ = false;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<int> requests_{0};
    mutable std::mutex mutex_;
    std::vector<std::vector<uint8_t>> received_;
    std::thread thread_;
};

const StillWanted kAlwaysWanted = [] { return true; };

struct SntpReading : ::testing::Test {
    TimestampClock Clock;
    double Offset = -1;
    std::string Status;

    bool Read(const FakeSntpServer& server, int count, const std::string& host = "127.0.0.1",
              const StillWanted& wanted = kAlwaysWanted) {
        SntpReference reference(host, server.Port(), PosixUdpSockets(), Clock);
        return reference.QuerySntpOffset(count, kShortTimeoutMs, wanted, Offset, Status);
    }
    std::string ServerText(const char* what, const FakeSntpServer& server) const {
        return std::string(what) + " from 127.0.0.1 on port " + std::to_string(server.Port());
    }
};

TEST_F(SntpReading, EveryQueryAnsweredGivesTheServersOffset) {
    FakeSntpServer server(Clock, [](int) { return Answer::Reply; });
    ASSERT_TRUE(server.Bound());
    ASSERT_TRUE(Read(server, 12));
    EXPECT_EQ(Status, "SNTP Ok");
    EXPECT_NEAR(Offset, kServerAhead, kLoopbackSlack);
    EXPECT_EQ(server.Requests(), 13); // the warm-up and twelve counted queries
    for (const auto& request : server.Received()) {
        ASSERT_EQ(request.size(), 48u);
        EXPECT_EQ(request[0], 0x1B);
    }
}

TEST_F(SntpReading, UnansweredQueriesAreJudgedByCount) {
    struct Case {
        int Dropped;
        const char* Expected;
    };
    // Twelve counted queries: 11 answers are enough, 5 to 10 unreliable, fewer no response.
    for (const Case c : {Case{1, "SNTP Ok"}, Case{2, "Unreliable response"},
                         Case{7, "Unreliable response"}, Case{8, "No response"}}) {
        FakeSntpServer server(
            Clock, [&](int i) { return i >= 1 && i <= c.Dropped ? Answer::Drop : Answer::Reply; });
        ASSERT_TRUE(server.Bound());
        Status.clear();
        const bool ok = Read(server, 12);
        const std::string expected =
            c.Dropped == 1 ? std::string(c.Expected) : ServerText(c.Expected, server);
        EXPECT_EQ(ok, c.Dropped == 1) << c.Dropped << " dropped";
        EXPECT_EQ(Status, expected) << c.Dropped << " dropped";
    }
}

TEST_F(SntpReading, TheWarmUpIsNeverCounted) {
    // Only the warm-up is answered, and far off: the reading has no answer at all.
    FakeSntpServer warmUpOnly(Clock,
                              [](int i) { return i == 0 ? Answer::FarAhead : Answer::Drop; });
    ASSERT_TRUE(warmUpOnly.Bound());
    EXPECT_FALSE(Read(warmUpOnly, 1));
    EXPECT_EQ(Status, ServerText("No response", warmUpOnly));

    // Every query answered, the warm-up far off: it does not enter the mean.
    FakeSntpServer farWarmUp(Clock,
                             [](int i) { return i == 0 ? Answer::FarAhead : Answer::Reply; });
    ASSERT_TRUE(farWarmUp.Bound());
    ASSERT_TRUE(Read(farWarmUp, 12));
    EXPECT_NEAR(Offset, kServerAhead, kLoopbackSlack);
}

TEST_F(SntpReading, BadPacketsAreNeverTakenAsReadings) {
    for (const Answer bad :
         {Answer::Short, Answer::ClientMode, Answer::WrongOriginate, Answer::ZeroTransmit}) {
        FakeSntpServer allBad(Clock, [bad](int i) { return i == 0 ? Answer::Reply : bad; });
        ASSERT_TRUE(allBad.Bound());
        EXPECT_FALSE(Read(allBad, 12)) << int(bad);
        EXPECT_EQ(Status, ServerText("No response", allBad)) << int(bad);

        FakeSntpServer oneBad(Clock, [bad](int i) { return i == 5 ? bad : Answer::Reply; });
        ASSERT_TRUE(oneBad.Bound());
        ASSERT_TRUE(Read(oneBad, 12)) << int(bad);
        EXPECT_NEAR(Offset, kServerAhead, kLoopbackSlack) << int(bad);
    }
}

// Fault: asked just before the 2036 wrap and answered after it, a reading was 68 years off; one
// reply minutes or years off moved the mean. Both still said "SNTP Ok".
TEST_F(SntpReading, AcrossThe2036WrapOkButAReplyFarOffIsUnreliable) {
    constexpr double kSecondsPer100ns = 1e-7;
    const uint64_t wrap = Utc100nsFromCalendar({2036, 2, 7, 6, 28, 16, 0, 0}); // servers 1.5 s past
    for (const Answer fifth : {Answer::Reply, Answer::FarAhead, Answer::Years}) {
        const auto untilWrap = static_cast<int64_t>(wrap - Clock.NowUtc());
        ASSERT_TRUE(Clock.StepClock(static_cast<double>(untilWrap) * kSecondsPer100ns - 1.0));
        FakeSntpServer server(Clock, [=](int i) { return i == 5 ? fifth : Answer::Reply; });
        ASSERT_TRUE(server.Bound());
        EXPECT_EQ(Read(server, 12), fifth == Answer::Reply) << int(fifth);
        EXPECT_EQ(Status,
                  fifth == Answer::Reply ? "SNTP Ok" : ServerText("Unreliable response", server));
        if (fifth == Answer::Reply) {
            EXPECT_NEAR(Offset, kServerAhead, kLoopbackSlack);
        }
    }
}

TEST_F(SntpReading, APortNobodyAnswersGivesNoResponse) {
    FakeSntpServer silent(Clock, [](int) { return Answer::Drop; }); // bound, never answers
    ASSERT_TRUE(silent.Bound());
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(Read(silent, 12));
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(Status, ServerText("No response", silent));
    EXPECT_EQ(silent.Requests(), 13);
    // Thirteen queries, each waiting for its time-out and not much longer.
    EXPECT_GE(elapsed, std::chrono::milliseconds(13 * kShortTimeoutMs));
    EXPECT_LT(elapsed, std::chrono::milliseconds(13 * kShortTimeoutMs + 2000));
}

TEST_F(SntpReading, StoppingEndsTheReadingWithoutAStatus) {
    FakeSntpServer server(Clock, [](int) { return Answer::Reply; });
    ASSERT_TRUE(server.Bound());
    int asked = 0;
    EXPECT_FALSE(Read(server, 12, "127.0.0.1", [&] { return ++asked < 3; }));
    EXPECT_EQ(Status, "");
    EXPECT_EQ(Offset, -1);
    EXPECT_EQ(server.Requests(), 3); // asked after every query, the warm-up included
}

TEST_F(SntpReading, AnEmptyServerIsNotConfigured) {
    SntpReference reference("", 123, PosixUdpSockets(), Clock);
    EXPECT_FALSE(reference.QuerySntpOffset(12, kShortTimeoutMs, kAlwaysWanted, Offset, Status));
    EXPECT_EQ(Status, "No time server configured");
}

TEST_F(SntpReading, PhasesAskForTheirBursts) {
    FakeSntpServer server(Clock, [](int) { return Answer::Reply; });
    ASSERT_TRUE(server.Bound());
    SntpReference reference("127.0.0.1", server.Port(), PosixUdpSockets(), Clock);
    ASSERT_TRUE(reference.ReadOffset(ReadingPhase::Running, kAlwaysWanted, Offset, Status));
    EXPECT_EQ(server.Requests(), 1 + SntpReference::kRunningQueries);
    ASSERT_TRUE(reference.ReadOffset(ReadingPhase::Start, kAlwaysWanted, Offset, Status));
    EXPECT_EQ(server.Requests(), 2 + SntpReference::kRunningQueries + SntpReference::kStartQueries);
    EXPECT_EQ(SntpReference::kStartQueries, 240);
    EXPECT_EQ(SntpReference::kRunningQueries, 12);
}

TEST_F(SntpReading, AnIpv6ServerIsReached) {
    FakeSntpServer server(
        Clock, [](int) { return Answer::Reply; }, AF_INET6);
    if (!server.Bound()) GTEST_SKIP() << "no IPv6 loopback on this machine";
    ASSERT_TRUE(Read(server, 12, "::1"));
    EXPECT_NEAR(Offset, kServerAhead, kLoopbackSlack);
}

TEST(SntpQuery, ServersThatCannotBeReachedFailTheQuery) {
    TimestampClock clock;
    CSNTPClient client(PosixUdpSockets(), clock);
    EXPECT_EQ(client.Timeout(), CSNTPClient::kDefaultTimeoutMs);
    client.SetTimeout(kShortTimeoutMs);
    SntpReply reply;
    EXPECT_FALSE(client.QueryServer(true, "127.0.0.1", reply, 0));
    EXPECT_FALSE(client.QueryServer(true, "127.0.0.1", reply, 65536));
    EXPECT_FALSE(client.QueryServer(true, "", reply, 123));
    EXPECT_FALSE(client.QueryServer(true, std::string("127.0.0.1\0evil", 14), reply, 123));
}

} // namespace
} // namespace kv
