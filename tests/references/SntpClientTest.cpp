// SPDX-License-Identifier: GPL-3.0-or-later
// The SNTP client against servers run by the test on the loopback interface: the packet it sends,
// the replies it accepts, and how a burst of queries is judged.
#include "references/SntpClient.h"

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cmath>
#include <functional>
#include <gtest/gtest.h>
#include <mutex>
#include <netinet/in.h>
#include <optional>
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
                                  uint8_t flags = 0x24 /* leap 0, version 4, server */,
                                  const char* kiss = nullptr /* stratum 0 with this code */) {
    std::vector<uint8_t> p(kSntpPacketBytes, 0);
    p[0] = flags;
    p[1] = kiss ? 0 : 3;
    if (kiss) std::copy_n(kiss, 4, p.begin() + 12);
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

// What the fake server does with the request it received as number `index`. Every answer but
// Reply claims a time 1000 s further ahead (Years: forty years), so one taken as a reading shows.
enum class Answer {
    Reply,
    Drop,
    Short,
    ClientMode,
    WrongOriginate,
    ZeroTransmit,
    FarAhead,
    Years,
    KissRate,
    KissDeny
};
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
            const char* kiss = answer == Answer::KissRate   ? "RATE"
                               : answer == Answer::KissDeny ? "DENY"
                                                            : nullptr;
            auto reply = ServerPacket(answer == Answer::WrongOriginate ? originate + 1 : originate,
                                      received + ahead,
                                      answer == Answer::ZeroTransmit ? 0 : received + ahead,
                                      answer == Answer::ClientMode ? 0x23 : 0x24, kiss);
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

// Pacing time that moves only when the client sleeps or a socket's wait times out; read by the
// fake servers' threads too.
class FakePacing final : public PacingClock {
public:
    double Now() override { return now_; }
    void Sleep(double seconds) override { now_ = now_ + seconds; }

private:
    std::atomic<double> now_{1000.0};
};

// Loopback sockets whose time-outs cost the pacing clock their full length but the test only
// kRealWaitMs: a silent server's minutes pass in a moment.
class ChargedSockets final : public UdpSocketFactory {
public:
    static constexpr uint32_t kRealWaitMs = 50; // loopback answers well within this
    explicit ChargedSockets(FakePacing& pacing) : pacing_(pacing) {}
    std::unique_ptr<UdpSocket> Create() override {
        struct Charged final : UdpSocket {
            std::unique_ptr<UdpSocket> Inner;
            FakePacing& Pacing;
            Charged(std::unique_ptr<UdpSocket> inner, FakePacing& pacing)
                : Inner(std::move(inner)), Pacing(pacing) {}
            bool Connect(const std::string& h, int p) override { return Inner->Connect(h, p); }
            bool Send(std::span<const uint8_t> d) override { return Inner->Send(d); }
            int Receive(std::span<uint8_t> b) override { return Inner->Receive(b); }
            WaitResult WaitReadable(uint32_t timeoutMs) override {
                const WaitResult r = Inner->WaitReadable(std::min(timeoutMs, kRealWaitMs));
                if (r == WaitResult::TimedOut) Pacing.Sleep(timeoutMs / 1000.0);
                return r;
            }
        };
        return std::make_unique<Charged>(PosixUdpSockets().Create(), pacing_);
    }

private:
    FakePacing& pacing_;
};

struct SntpReading : ::testing::Test {
    TimestampClock Clock;
    FakePacing Pacing;
    double Offset = -1;
    std::string Status;

    bool Read(const FakeSntpServer& server, int count, const std::string& host = "127.0.0.1",
              const StillWanted& wanted = kAlwaysWanted) {
        SntpReference reference(host, server.Port(), PosixUdpSockets(), Clock, Pacing,
                                kShortTimeoutMs);
        return reference.Read(count, wanted, Offset, Status);
    }
    std::string ServerText(const char* what, const FakeSntpServer& server) const {
        return std::string(what) + " from 127.0.0.1 on port " + std::to_string(server.Port());
    }
};

TEST_F(SntpReading, EveryQueryAnsweredGivesTheServersOffset) {
    FakeSntpServer server(Clock, [](int) { return Answer::Reply; });
    ASSERT_TRUE(server.Bound());
    ASSERT_TRUE(Read(server, 4));
    EXPECT_EQ(Status, "SNTP Ok");
    EXPECT_NEAR(Offset, kServerAhead, kLoopbackSlack);
    EXPECT_EQ(server.Requests(), 4);
    for (const auto& request : server.Received()) {
        ASSERT_EQ(request.size(), 48u);
        EXPECT_EQ(request[0], 0x1B);
    }
}

TEST_F(SntpReading, UnansweredQueriesAreJudgedByCount) {
    struct Case {
        int Dropped; // the first queries of four
        const char* Expected;
    };
    for (const Case c :
         {Case{2, "SNTP Ok"}, Case{3, "Unreliable response"}, Case{4, "No response"}}) {
        FakeSntpServer server(Clock,
                              [&](int i) { return i < c.Dropped ? Answer::Drop : Answer::Reply; });
        ASSERT_TRUE(server.Bound());
        Status.clear();
        const bool ok = Read(server, 4);
        const std::string expected =
            c.Dropped == 2 ? std::string(c.Expected) : ServerText(c.Expected, server);
        EXPECT_EQ(ok, c.Dropped == 2) << c.Dropped << " dropped";
        EXPECT_EQ(Status, expected) << c.Dropped << " dropped";
    }
}

TEST_F(SntpReading, BadPacketsAreNeverTakenAsReadings) {
    for (const Answer bad :
         {Answer::Short, Answer::ClientMode, Answer::WrongOriginate, Answer::ZeroTransmit}) {
        FakeSntpServer allBad(Clock, [bad](int) { return bad; });
        ASSERT_TRUE(allBad.Bound());
        EXPECT_FALSE(Read(allBad, 4)) << int(bad);
        EXPECT_EQ(Status, ServerText("No response", allBad)) << int(bad);

        FakeSntpServer oneBad(Clock, [bad](int i) { return i == 2 ? bad : Answer::Reply; });
        ASSERT_TRUE(oneBad.Bound());
        ASSERT_TRUE(Read(oneBad, 4)) << int(bad);
        EXPECT_NEAR(Offset, kServerAhead, kLoopbackSlack) << int(bad);
    }
}

// Fault: asked just before the 2036 wrap and answered after it, a reading was 68 years off; one
// reply minutes or years off moved the mean. Both still said "SNTP Ok".
TEST_F(SntpReading, AcrossThe2036WrapOkButAReplyFarOffIsUnreliable) {
    constexpr double kSecondsPer100ns = 1e-7;
    const uint64_t wrap = Utc100nsFromCalendar({2036, 2, 7, 6, 28, 16, 0, 0}); // servers 1.5 s past
    for (const Answer third : {Answer::Reply, Answer::FarAhead, Answer::Years}) {
        const auto untilWrap = static_cast<int64_t>(wrap - Clock.NowUtc());
        ASSERT_TRUE(Clock.StepClock(static_cast<double>(untilWrap) * kSecondsPer100ns - 1.0));
        FakeSntpServer server(Clock, [=](int i) { return i == 2 ? third : Answer::Reply; });
        ASSERT_TRUE(server.Bound());
        EXPECT_EQ(Read(server, 4), third == Answer::Reply) << int(third);
        EXPECT_EQ(Status,
                  third == Answer::Reply ? "SNTP Ok" : ServerText("Unreliable response", server));
        if (third == Answer::Reply) {
            EXPECT_NEAR(Offset, kServerAhead, kLoopbackSlack);
        }
    }
}

TEST_F(SntpReading, StoppingEndsTheReadingWithoutAStatus) {
    FakeSntpServer server(Clock, [](int) { return Answer::Reply; });
    ASSERT_TRUE(server.Bound());
    int asked = 0;
    EXPECT_FALSE(Read(server, 4, "127.0.0.1", [&] { return ++asked < 3; }));
    EXPECT_EQ(Status, "");
    EXPECT_EQ(Offset, -1);
    EXPECT_EQ(server.Requests(), 3); // asked after every query
}

TEST_F(SntpReading, AnEmptyServerIsNotConfigured) {
    SntpReference reference("", 123, PosixUdpSockets(), Clock, Pacing);
    EXPECT_FALSE(reference.Read(4, kAlwaysWanted, Offset, Status));
    EXPECT_EQ(Status, "No time server configured");
}

TEST_F(SntpReading, AnIpv6ServerIsReached) {
    FakeSntpServer server(
        Clock, [](int) { return Answer::Reply; }, AF_INET6);
    if (!server.Bound()) GTEST_SKIP() << "no IPv6 loopback on this machine";
    ASSERT_TRUE(Read(server, 4, "::1"));
    EXPECT_NEAR(Offset, kServerAhead, kLoopbackSlack);
}

// Faults: a calibration sent 241 queries back to back and 13 every 10 s, so a public server
// dropped them and blocked the user; a Kiss-o'-Death or an absurd reply could become a reading;
// a silent server was reported only after 16 minutes. A server limiting like chrony's default
// (burst 8, one per 8 s; the excess dropped, every other with RATE) meets a simulated run with a
// reading every 10 s; the client must never exceed the limit.
TEST_F(SntpReading, ARunStaysWithinAPublicServersLimit) {
    constexpr double kUpdateSeconds = 10, kLimitSeconds = 8, kBurst = 8;
    constexpr double kPacingSlack = 1e-6; // rounding of the simulated seconds
    struct Case {
        const char* Name;
        Answer At20;        // the server's answer to request 20, within its limit
        double RunSeconds;  // simulated
        const char* Status; // shown at least once, with the server's name
        double MinGapAfter; // seconds between any two requests after request 20
    };
    const Case cases[] = {
        {"polite", Answer::Reply, 1800, "SNTP Ok", 0},
        {"rate", Answer::KissRate, 1800, "Kiss-o'-Death (RATE) from 127.0.0.1: querying less often",
         2 * kLimitSeconds},
        {"deny", Answer::KissDeny, 600, "Kiss-o'-Death (DENY) from 127.0.0.1: no more queries",
         1e9},
        {"absurd", Answer::Years, 600, "Unreliable response from 127.0.0.1 on port ", 0},
        {"silent", Answer::Drop, 300, "No response from 127.0.0.1 on port ", 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        const double start = Pacing.Now();
        double tokens = kBurst, refilled = start;
        int excess = 0;
        std::vector<double> at;
        std::optional<FakeSntpServer> server;
        server.emplace(Clock, [&](int i) {
            const double now = Pacing.Now();
            tokens = std::min(kBurst, tokens + (now - refilled) / kLimitSeconds);
            refilled = now;
            at.push_back(now);
            if (tokens < 1) return ++excess % 2 ? Answer::Drop : Answer::KissRate;
            tokens -= 1;
            return c.At20 == Answer::Drop || i == 20 ? c.At20 : Answer::Reply;
        });
        ASSERT_TRUE(server->Bound());
        ChargedSockets sockets(Pacing);
        SntpReference reference("127.0.0.1", server->Port(), sockets, Clock, Pacing);
        bool started = false, shown = false;
        double firstShown = 0;
        while (Pacing.Now() - start < c.RunSeconds) {
            const double readingStart = Pacing.Now();
            Status.clear();
            const bool ok =
                reference.ReadOffset(started ? ReadingPhase::Running : ReadingPhase::Start,
                                     kAlwaysWanted, Offset, Status);
            started = started || ok;
            if (ok) {
                EXPECT_NEAR(Offset, kServerAhead, kLoopbackSlack);
            }
            if (!shown && Status.starts_with(c.Status)) firstShown = Pacing.Now() - start;
            shown = shown || Status.starts_with(c.Status);
            Pacing.Sleep(std::max(0.0, kUpdateSeconds - (Pacing.Now() - readingStart)));
        }
        server.reset(); // its thread has stopped writing what is checked below
        EXPECT_TRUE(shown);
        EXPECT_EQ(excess, 0) << at.size() << " requests";
        for (size_t i = 22; i < at.size(); ++i)
            EXPECT_GE(at[i] - at[i - 1], c.MinGapAfter - kPacingSlack) << "request " << i;
        if (c.At20 == Answer::KissDeny) {
            EXPECT_EQ(at.size(), 21u);
        }
        if (c.At20 == Answer::Drop) {
            EXPECT_LE(firstShown, 30.0);
        }
        if (c.At20 == Answer::Reply) {
            EXPECT_GE(at.size(), c.RunSeconds / kUpdateSeconds);
        }
    }
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
