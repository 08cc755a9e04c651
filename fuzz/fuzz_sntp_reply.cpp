// SPDX-License-Identifier: GPL-3.0-or-later
// libFuzzer target of the SNTP reply check: the first 16 bytes are the request's transmit time and
// the arrival time, the rest is the datagram. An accepted reply is a server's answer to that
// request; its offset is a finite number of seconds within half the NTP era either way (the
// differences are era-aware) and its round trip a finite number within the era.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <span>

#include "FuzzCheck.h"
#include "references/SntpClient.h"

namespace {

constexpr size_t kTimesBytes = 16;
constexpr double kEraSeconds = 4294967296.0; // one era-aware difference lies within half of it

uint64_t BigEndian64(const uint8_t* p) {
    uint64_t v = 0;
    for (int i = 0; i < 8; ++i)
        v = v << 8 | p[i];
    return v;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using kv::fuzz::Require;
    if (size < kTimesBytes) return 0;
    const kv::NtpTime t1 = BigEndian64(data), t4 = BigEndian64(data + 8);
    const std::span<const uint8_t> packet(data + kTimesBytes, size - kTimesBytes);
    const auto reply = kv::EvaluateSntpReply(packet, t1, t4);
    if (!reply) return 0;
    Require(packet.size() >= kv::kSntpPacketBytes, "a reply holds the whole header");
    Require((packet[0] & 7) == 4, "a reply comes from a server");
    Require(reply->Originate == t1, "a reply answers our request");
    // Only a Kiss-o'-Death (stratum 0) may come without the server's time, and it is never a
    // reading.
    Require(reply->Transmit != 0 || reply->Stratum == 0, "a reply carries the server's time");
    Require(reply->Stratum != 0 || !kv::SntpReplyBelievable(*reply),
            "a Kiss-o'-Death is never a reading");
    Require(reply->Destination == t4, "the arrival time is ours");
    Require(std::isfinite(reply->ClockOffset) && std::fabs(reply->ClockOffset) <= kEraSeconds / 2,
            "the offset is a finite time within half the era");
    Require(std::isfinite(reply->RoundTrip) && std::fabs(reply->RoundTrip) <= kEraSeconds,
            "the round trip is a finite time within the era");
    return 0;
}
