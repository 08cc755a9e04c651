// SPDX-License-Identifier: GPL-3.0-or-later
// SNTP version 3 client: one query gives the offset of a server's clock from the timestamp clock;
// a reading takes the recent reply with the shortest round trip, asking the server no more often
// than a public server allows.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <optional>
#include <span>
#include <string>

#include "platform/UdpSocket.h"
#include "references/QueryPacing.h"
#include "references/TimeReference.h"
#include "timebase/NtpTime.h"
#include "timebase/SampleClock.h"

namespace kv {

inline constexpr size_t kSntpPacketBytes = 48;
// Room for the header and a 20-byte authenticator, which is ignored.
inline constexpr size_t kSntpReplyBufferBytes = 68;

// What one answered query tells.
struct SntpReply {
    int LeapIndicator = 0; // stored, not judged
    int Stratum = 0;       // 0: a Kiss-o'-Death, never a reading
    // Bytes 12-15: at stratum 0 the Kiss-o'-Death code in ASCII ("RATE", "DENY", "RSTR").
    std::array<char, 4> ReferenceId{};
    int64_t DestinationCounter = 0; // timestamp counter read for T4 (0 when T4 came elsewhere)
    NtpTime Originate = 0;          // T1: the server's copy of our transmit time
    NtpTime Receive = 0;            // T2: when the server received the request
    NtpTime Transmit = 0;           // T3: when the server sent the reply
    NtpTime Destination = 0;        // T4: when the reply was known to be waiting here
    double ClockOffset = 0; // ((T2 - T1) + (T3 - T4)) / 2: server minus local clock, seconds
    double RoundTrip = 0;   // (T4 - T1) - (T3 - T2): time on the network, seconds
};

// Bounds of a believable reply.
// A clock set wrong by hand is off by hours or days, a year at worst, and the calibration tells
// the user to check it; two years leave room. Further off the reply is broken: a server without
// time answers near 1900, which reads as years away.
inline constexpr double kSntpMaxOffsetSeconds = 2 * 366 * 86400.0;
// Twice the longest wait for a reply: a longer round trip means the server's times are wrong.
inline constexpr double kSntpMaxRoundTripSeconds = 10.0;
// T2 and T3 carry the server's rounding and clock steps, so a quick exchange may measure a little
// below zero.
inline constexpr double kSntpRoundTripToleranceSeconds = 0.002;

// Client mode, version 3, every field zero but the transmit time t1.
std::array<uint8_t, kSntpPacketBytes> BuildSntpRequest(NtpTime t1);

// Evaluates what came back for a request sent at t1 and known to be waiting at t4. Nothing for a
// packet that cannot be a server's answer to it: shorter than the header, not in server mode,
// an originate time other than t1, or (unless it is a Kiss-o'-Death) no transmit time.
std::optional<SntpReply> EvaluateSntpReply(std::span<const uint8_t> received, NtpTime t1,
                                           NtpTime t4);

// False for an answer whose times cannot be right: a round trip below zero (the server claims to
// have held the request longer than it was away) or beyond kSntpMaxRoundTripSeconds, an offset
// beyond kSntpMaxOffsetSeconds, or stratum 0 (a Kiss-o'-Death carries no time).
bool SntpReplyBelievable(const SntpReply& reply);

// One query client. Used by one thread at a time.
class CSNTPClient {
public:
    static constexpr uint32_t kDefaultTimeoutMs = 5000;

    explicit CSNTPClient(UdpSocketFactory& sockets = PosixUdpSockets(),
                         const TimestampClock& clock = ProcessTimestampClock());

    void SetTimeout(uint32_t milliseconds) { timeoutMs_ = milliseconds; }
    uint32_t Timeout() const { return timeoutMs_; }

    // One query to server (a host name or a numeric address) on port, waiting at most the
    // time-out for the reply. T1 and T4 come from the timestamp clock to 100 ns when useCounter
    // is true, from the system's UTC clock otherwise. True with reply filled when a valid answer
    // (which may be a Kiss-o'-Death) came.
    bool QueryServer(bool useCounter, const std::string& server, SntpReply& reply, int port);

private:
    UdpSocketFactory& sockets_;
    const TimestampClock& clock_;
    uint32_t timeoutMs_ = kDefaultTimeoutMs;
};

// An internet time server as the calibration's reference, polite enough for a public server: its
// own QueryBudget (at most 8 queries in a burst, one per 8 s on average) paces every query of
// every reading. A query without a token waits for one (asking stillWanted every
// kWaitStepSeconds); a running reading every 10 s uses one query, so it rarely waits. The
// server and port are copied when the reference is made; one reference lives as long as the
// setting, and only the calibration worker thread calls it (one reading at a time, no lock).
class SntpReference final : public TimeReference {
public:
    // A start phase steps the clock once by its reading: a few sub-millisecond queries, the
    // shortest round trip taken, are as good as the old average of 240 and half the burst.
    static constexpr int kStartQueries = 4;
    static constexpr int kRunningQueries = 1;
    // Unanswered queries in a row that make "No response" (the start phase's queries alike).
    static constexpr int kSilentQueries = 3;
    static constexpr uint32_t kReplyTimeoutMs = 4000;
    // Replies remembered for the shortest round trip: about a minute and a half of readings,
    // short enough that a rate error of the timestamp clock does not age them noticeably.
    static constexpr size_t kKeptReplies = 8;
    static constexpr double kKeptReplySeconds = 90.0;
    static constexpr double kWaitStepSeconds = 0.2; // how soon a wait for a token sees a stop

    SntpReference(std::string server, int port, UdpSocketFactory& sockets = PosixUdpSockets(),
                  const TimestampClock& clock = ProcessTimestampClock(),
                  PacingClock& pacing = SteadyPacingClock(),
                  uint32_t replyTimeoutMs = kReplyTimeoutMs);

    // kStartQueries or kRunningQueries queries (see Read).
    bool ReadOffset(ReadingPhase phase, const StillWanted& stillWanted, double& offsetSeconds,
                    std::string& status) override;

    // One reading of count queries, each waiting for a token first and asking stillWanted after.
    // "SNTP Ok" with the offset of the remembered reply with the shortest round trip (older ones
    // moved by any step or trim of the timestamp clock since) when at least half the queries,
    // and at least one, were answered. Otherwise false with, first that applies:
    //   "Kiss-o'-Death (DENY) from <server>: no more queries" (or RSTR): never queried again;
    //   "Kiss-o'-Death (RATE) from <server>: querying less often": the budget's interval doubles;
    //   "Unreliable response from <server> on port <port>": a reply that is not believable or
    //   answers further apart than kSntpMaxRoundTripSeconds (none of them remembered), or too few
    //   answers;
    //   "No response from <server> on port <port>": kSilentQueries unanswered in a row.
    bool Read(int count, const StillWanted& stillWanted, double& offsetSeconds,
              std::string& status);

private:
    enum class Outcome { Stopped, Answered, Silent, Unbelievable, Rate, Deny };
    struct Kept {
        double At; // pacing clock
        SntpReply Reply;
    };
    Outcome QueryOnce(const StillWanted& stillWanted);
    double BestOffset() const;

    std::string server_;
    int port_;
    UdpSocketFactory& sockets_;
    const TimestampClock& clock_;
    PacingClock& pacing_;
    uint32_t replyTimeoutMs_;
    QueryBudget budget_;
    std::deque<Kept> kept_;
    int silentInARow_ = 0;
    std::string denied_; // the Kiss-o'-Death code that ended the queries
};

} // namespace kv
