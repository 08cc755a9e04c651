// SPDX-License-Identifier: GPL-3.0-or-later
#include "references/SntpClient.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
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
constexpr size_t kReferenceIdOffset = 12;
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

std::string KissText(const std::string& code, const std::string& server, const char* action) {
    return "Kiss-o'-Death (" + code + ") from " + server + ": " + action;
}

bool IsKiss(const SntpReply& reply, const char* code) {
    return reply.Stratum == 0 &&
           std::equal(reply.ReferenceId.begin(), reply.ReferenceId.end(), code);
}

// T1 or T4 from the timestamp counter, with the counter value kept for later remapping.
NtpTime CounterNtp(const TimestampClock& clock, int64_t counter) {
    return NtpFromUtc100ns(clock.CounterToUtc(counter));
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
    std::copy_n(received.begin() + kReferenceIdOffset, reply.ReferenceId.size(),
                reply.ReferenceId.begin());
    // A stale or forged answer does not echo our transmit time; a server without time sends 0,
    // and a Kiss-o'-Death may.
    if (reply.Originate != t1 || (reply.Transmit == 0 && reply.Stratum != 0)) return std::nullopt;
    reply.ClockOffset = (NtpDifferenceSeconds(reply.Receive, reply.Originate) +
                         NtpDifferenceSeconds(reply.Transmit, reply.Destination)) /
                        2;
    reply.RoundTrip = NtpDifferenceSeconds(reply.Destination, reply.Originate) -
                      NtpDifferenceSeconds(reply.Transmit, reply.Receive);
    return reply;
}

bool SntpReplyBelievable(const SntpReply& reply) {
    return reply.Stratum != 0 && reply.RoundTrip >= -kSntpRoundTripToleranceSeconds &&
           reply.RoundTrip <= kSntpMaxRoundTripSeconds &&
           std::fabs(reply.ClockOffset) <= kSntpMaxOffsetSeconds;
}

CSNTPClient::CSNTPClient(UdpSocketFactory& sockets, const TimestampClock& clock)
    : sockets_(sockets), clock_(clock) {}

bool CSNTPClient::QueryServer(bool useCounter, const std::string& server, SntpReply& reply,
                              int port) {
    const std::unique_ptr<UdpSocket> socket = sockets_.Create();
    if (!socket || !socket->Connect(server, port)) return false;
    const NtpTime t1 = useCounter ? CounterNtp(clock_, clock_.ReadCounter()) : NowNtp(false);
    if (!socket->Send(BuildSntpRequest(t1))) return false;
    if (socket->WaitReadable(timeoutMs_) != WaitResult::Readable) return false;
    const int64_t counter = useCounter ? clock_.ReadCounter() : 0;
    const NtpTime t4 = useCounter ? CounterNtp(clock_, counter) : NowNtp(false, clock_);
    std::array<uint8_t, kSntpReplyBufferBytes> buffer{};
    const int got = socket->Receive(buffer);
    if (got <= 0) return false;
    const std::optional<SntpReply> evaluated =
        EvaluateSntpReply(std::span(buffer).first(static_cast<size_t>(got)), t1, t4);
    if (!evaluated) return false;
    reply = *evaluated;
    reply.DestinationCounter = counter;
    return true;
}

SntpReference::SntpReference(std::string server, int port, UdpSocketFactory& sockets,
                             const TimestampClock& clock, PacingClock& pacing,
                             uint32_t replyTimeoutMs)
    : server_(std::move(server)), port_(port), sockets_(sockets), clock_(clock), pacing_(pacing),
      replyTimeoutMs_(replyTimeoutMs), budget_(pacing) {}

bool SntpReference::ReadOffset(ReadingPhase phase, const StillWanted& stillWanted,
                               double& offsetSeconds, std::string& status) {
    const int count = phase == ReadingPhase::Start ? kStartQueries : kRunningQueries;
    return Read(count, stillWanted, offsetSeconds, status);
}

SntpReference::Outcome SntpReference::QueryOnce(const StillWanted& stillWanted) {
    while (!budget_.TryTake()) {
        if (!stillWanted()) return Outcome::Stopped;
        pacing_.Sleep(std::min(kWaitStepSeconds, budget_.SecondsUntilToken()));
    }
    CSNTPClient client(sockets_, clock_);
    client.SetTimeout(replyTimeoutMs_);
    SntpReply reply;
    if (!client.QueryServer(true, server_, reply, port_)) {
        ++silentInARow_;
        return Outcome::Silent;
    }
    silentInARow_ = 0;
    if (IsKiss(reply, "RATE")) return Outcome::Rate;
    if (IsKiss(reply, "DENY") || IsKiss(reply, "RSTR")) {
        denied_.assign(reply.ReferenceId.begin(), reply.ReferenceId.end());
        return Outcome::Deny;
    }
    if (!SntpReplyBelievable(reply)) return Outcome::Unbelievable;
    const double now = pacing_.Now();
    kept_.push_back({now, reply});
    while (kept_.size() > kKeptReplies || now - kept_.front().At > kKeptReplySeconds)
        kept_.pop_front();
    return Outcome::Answered;
}

// The offset at T4 as the timestamp clock maps that moment now: a step or trim since then moved
// the clock, and the offset with it.
double SntpReference::BestOffset() const {
    const auto best =
        std::min_element(kept_.begin(), kept_.end(), [](const Kept& a, const Kept& b) {
            return a.Reply.RoundTrip < b.Reply.RoundTrip;
        });
    const SntpReply& r = best->Reply;
    return r.ClockOffset -
           NtpDifferenceSeconds(CounterNtp(clock_, r.DestinationCounter), r.Destination);
}

bool SntpReference::Read(int count, const StillWanted& stillWanted, double& offsetSeconds,
                         std::string& status) {
    if (server_.empty()) {
        status = "No time server configured";
        return false;
    }
    int answered = 0;
    bool unbelievable = false;
    double lowest = std::numeric_limits<double>::infinity(), highest = -lowest;
    for (int query = 0; query < count && denied_.empty(); ++query) {
        const Outcome outcome = QueryOnce(stillWanted);
        if (outcome == Outcome::Stopped) return false;
        if (outcome == Outcome::Rate) {
            budget_.SlowDown();
            status = KissText("RATE", server_, "querying less often");
            return false;
        }
        if (outcome == Outcome::Answered) {
            ++answered;
            lowest = std::min(lowest, kept_.back().Reply.ClockOffset);
            highest = std::max(highest, kept_.back().Reply.ClockOffset);
        }
        unbelievable = unbelievable || outcome == Outcome::Unbelievable;
        if (!stillWanted()) return false;
    }
    if (!denied_.empty()) {
        status = KissText(denied_, server_, "no more queries");
        return false;
    }
    if (!unbelievable && silentInARow_ >= kSilentQueries) {
        status = ServerText("No response", server_, port_);
        return false;
    }
    // Two honest answers differ by less than their round trips: otherwise none of them is kept.
    if (highest - lowest > kSntpMaxRoundTripSeconds) {
        unbelievable = true;
        kept_.erase(kept_.end() - std::min<std::ptrdiff_t>(answered, std::ssize(kept_)),
                    kept_.end());
    }
    // At least half, and at least one, of the queries answered believably.
    if (unbelievable || answered == 0 || 2 * answered < count) {
        status = ServerText("Unreliable response", server_, port_);
        return false;
    }
    status = "SNTP Ok";
    offsetSeconds = BestOffset();
    return true;
}

} // namespace kv
