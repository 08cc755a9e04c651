#include "timebase/references/SntpClient.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

namespace kv {
namespace {

// First byte of the request: leap indicator 0, version 3, mode 3 (client).
constexpr uint8_t kClientRequestFlags = 0x1B;
constexpr uint8_t kModeMask = 0x07;
constexpr uint8_t kServerMode = 4;
constexpr int kLeapIndicatorShift = 6;
// Byte offsets of the header fields used.
constexpr size_t kStratumOffset = 1;
constexpr size_t kOriginateOffset = 24;
constexpr size_t kReceiveOffset = 32;
constexpr size_t kTransmitOffset = 40;

NtpTime ReadTimestamp(std::span<const uint8_t> packet, size_t offset) {
    NtpTime value = 0;
    for (size_t i = 0; i < sizeof(NtpTime); ++i)
        value = value << 8 | packet[offset + i];
    return value;
}

void WriteTimestamp(std::span<uint8_t> packet, size_t offset, NtpTime value) {
    for (size_t i = 0; i < sizeof(NtpTime); ++i)
        packet[offset + i] = static_cast<uint8_t>(value >> (8 * (sizeof(NtpTime) - 1 - i)));
}

std::string ServerText(const char* what, const std::string& server, int port) {
    return std::string(what) + " from " + server + " on port " + std::to_string(port);
}

} // namespace

std::array<uint8_t, kSntpPacketBytes> BuildSntpRequest(NtpTime t1) {
    std::array<uint8_t, kSntpPacketBytes> packet{};
    packet[0] = kClientRequestFlags;
    WriteTimestamp(packet, kTransmitOffset, t1);
    return packet;
}

std::optional<SntpReply> EvaluateSntpReply(std::span<const uint8_t> received, NtpTime t1,
                                           NtpTime t4) {
    if (received.size() < kSntpPacketBytes || (received[0] & kModeMask) != kServerMode)
        return std::nullopt;
    SntpReply reply;
    reply.LeapIndicator = received[0] >> kLeapIndicatorShift;
    reply.Stratum = received[kStratumOffset];
    reply.Originate = ReadTimestamp(received, kOriginateOffset);
    reply.Receive = ReadTimestamp(received, kReceiveOffset);
    reply.Transmit = ReadTimestamp(received, kTransmitOffset);
    reply.Destination = t4;
    // A stale or forged answer does not echo our transmit time; a server without time sends 0.
    if (reply.Originate != t1 || reply.Transmit == 0) return std::nullopt;
    reply.ClockOffset = (NtpDifferenceSeconds(reply.Receive, reply.Originate) +
                         NtpDifferenceSeconds(reply.Transmit, reply.Destination)) /
                        2;
    reply.RoundTrip = NtpDifferenceSeconds(reply.Destination, reply.Originate) -
                      NtpDifferenceSeconds(reply.Transmit, reply.Receive);
    return reply;
}

bool SntpReplyBelievable(const SntpReply& reply) {
    return reply.RoundTrip >= -kSntpRoundTripToleranceSeconds &&
           reply.RoundTrip <= kSntpMaxRoundTripSeconds &&
           std::fabs(reply.ClockOffset) <= kSntpMaxOffsetSeconds;
}

CSNTPClient::CSNTPClient(UdpSocketFactory& sockets, const TimestampClock& clock)
    : sockets_(sockets), clock_(clock) {}

bool CSNTPClient::QueryServer(bool useCounter, const std::string& server, SntpReply& reply,
                              int port) {
    const std::unique_ptr<UdpSocket> socket = sockets_.Create();
    if (!socket || !socket->Connect(server, port)) return false;
    const NtpTime t1 = NowNtp(useCounter, clock_);
    if (!socket->Send(BuildSntpRequest(t1))) return false;
    if (socket->WaitReadable(timeoutMs_) != WaitResult::Readable) return false;
    const NtpTime t4 = NowNtp(useCounter, clock_);
    std::array<uint8_t, kSntpReplyBufferBytes> buffer{};
    const int got = socket->Receive(buffer);
    if (got <= 0) return false;
    const std::optional<SntpReply> evaluated =
        EvaluateSntpReply(std::span(buffer).first(static_cast<size_t>(got)), t1, t4);
    if (!evaluated) return false;
    reply = *evaluated;
    return true;
}

SntpReference::SntpReference(std::string server, int port, UdpSocketFactory& sockets,
                             const TimestampClock& clock)
    : server_(std::move(server)), port_(port), sockets_(sockets), clock_(clock) {}

bool SntpReference::ReadOffset(ReadingPhase phase, const StillWanted& stillWanted,
                               double& offsetSeconds, std::string& status) {
    const int count = phase == ReadingPhase::Start ? kStartQueries : kRunningQueries;
    return QuerySntpOffset(count, kReplyTimeoutMs, stillWanted, offsetSeconds, status);
}

bool SntpReference::QuerySntpOffset(int count, uint32_t timeoutMs, const StillWanted& stillWanted,
                                    double& offsetSeconds, std::string& status) {
    if (server_.empty()) {
        status = "No time server configured";
        return false;
    }
    CSNTPClient client(sockets_, clock_);
    client.SetTimeout(timeoutMs);
    int good = 0;
    bool contradicting = false;
    double sum = 0;
    double lowest = std::numeric_limits<double>::infinity();
    double highest = -lowest;
    for (int query = 0; query <= count; ++query) {
        SntpReply reply;
        const bool answered = client.QueryServer(true, server_, reply, port_);
        if (answered && query > 0) { // query 0 is the warm-up
            // A server that sent impossible times once is not trusted for the rest either.
            contradicting = contradicting || !SntpReplyBelievable(reply);
            ++good;
            sum += reply.ClockOffset;
            lowest = std::min(lowest, reply.ClockOffset);
            highest = std::max(highest, reply.ClockOffset);
        }
        if (!stillWanted()) return false;
    }
    contradicting = contradicting || highest - lowest > kSntpMaxRoundTripSeconds;
    const double mean = good > 1 ? sum / good : sum;
    // Without a single answer there is no offset to report, whatever the count.
    if (!contradicting && (good < (count - 1) / 2 || good == 0)) {
        status = ServerText("No response", server_, port_);
        return false;
    }
    if (contradicting || good < count - 1) {
        status = ServerText("Unreliable response", server_, port_);
        return false;
    }
    status = "SNTP Ok";
    offsetSeconds = mean;
    return true;
}

} // namespace kv
