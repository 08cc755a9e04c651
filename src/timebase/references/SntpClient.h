// SNTP version 3 client: one query gives the offset of a server's clock from the timestamp clock;
// a reading averages a burst of queries.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "platform/UdpSocket.h"
#include "timebase/NtpTime.h"
#include "timebase/SampleClock.h"
#include "timebase/references/TimeReference.h"

namespace kv {

inline constexpr size_t kSntpPacketBytes = 48;
// Room for the header and a 20-byte authenticator, which is ignored.
inline constexpr size_t kSntpReplyBufferBytes = 68;

// What one answered query tells.
struct SntpReply {
    int LeapIndicator = 0;   // stored, not judged
    int Stratum = 0;         // stored, not judged
    NtpTime Originate = 0;   // T1: the server's copy of our transmit time
    NtpTime Receive = 0;     // T2: when the server received the request
    NtpTime Transmit = 0;    // T3: when the server sent the reply
    NtpTime Destination = 0; // T4: when the reply was known to be waiting here
    double ClockOffset = 0;  // ((T2 - T1) + (T3 - T4)) / 2: server minus local clock, seconds
    double RoundTrip = 0;    // (T4 - T1) - (T3 - T2): time on the network, seconds
};

// Bounds of a believable reply.
// A clock set wrong by hand is off by hours or days, a year at worst, and the calibration tells
// the user to check it; two years leave room. Further off the reply is broken: a server without
// time answers near 1900, which reads as years away.
inline constexpr double kSntpMaxOffsetSeconds = 2 * 366 * 86400.0;
// Twice the longest wait for a reply: a longer round trip means the server's times are wrong.
inline constexpr double kSntpMaxRoundTripSeconds = 10.0;
// T1 and T4 are read to the millisecond and T2, T3 carry the server's rounding, so a quick
// exchange may measure a little below zero.
inline constexpr double kSntpRoundTripToleranceSeconds = 0.002;

// Client mode, version 3, every field zero but the transmit time t1.
std::array<uint8_t, kSntpPacketBytes> BuildSntpRequest(NtpTime t1);

// Evaluates what came back for a request sent at t1 and known to be waiting at t4. Nothing for a
// packet that cannot be a server's answer to it: shorter than the header, not in server mode,
// an originate time other than t1, or no transmit time.
std::optional<SntpReply> EvaluateSntpReply(std::span<const uint8_t> received, NtpTime t1,
                                           NtpTime t4);

// False for an answer whose times cannot be right: a round trip below zero (the server claims to
// have held the request longer than it was away) or beyond kSntpMaxRoundTripSeconds, or an offset
// beyond kSntpMaxOffsetSeconds.
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
    // time-out for the reply. T1 and T4 come from the timestamp clock when useCounter is true,
    // from the system's UTC clock otherwise. True with reply filled when a valid answer came.
    bool QueryServer(bool useCounter, const std::string& server, SntpReply& reply, int port);

private:
    UdpSocketFactory& sockets_;
    const TimestampClock& clock_;
    uint32_t timeoutMs_ = kDefaultTimeoutMs;
};

// An internet time server as the calibration's reference. The server and port are copied when
// the reference is made; ReadOffset and QuerySntpOffset run on the calibration worker thread.
class SntpReference final : public TimeReference {
public:
    static constexpr int kStartQueries = 240;
    static constexpr int kRunningQueries = 12;
    static constexpr uint32_t kReplyTimeoutMs = 4000;

    SntpReference(std::string server, int port, UdpSocketFactory& sockets = PosixUdpSockets(),
                  const TimestampClock& clock = ProcessTimestampClock());

    // kStartQueries or kRunningQueries counted queries, each waiting kReplyTimeoutMs.
    bool ReadOffset(ReadingPhase phase, const StillWanted& stillWanted, double& offsetSeconds,
                    std::string& status) override;

    // One reading: a warm-up query that is never counted, then count queries back to back, with
    // stillWanted asked after each. "SNTP Ok" needs all but one answered (and at least one);
    // fewer than half of count - 1 is "No response from <server> on port <port>", anything
    // between "Unreliable response from <server> on port <port>". A counted answer that is not
    // believable, or offsets further apart than kSntpMaxRoundTripSeconds (two honest answers
    // differ by less than their round trips), make the reading unreliable whatever the count.
    bool QuerySntpOffset(int count, uint32_t timeoutMs, const StillWanted& stillWanted,
                         double& offsetSeconds, std::string& status);

private:
    std::string server_;
    int port_;
    UdpSocketFactory& sockets_;
    const TimestampClock& clock_;
};

} // namespace kv
