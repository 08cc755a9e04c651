// SPDX-License-Identifier: GPL-3.0-or-later
// One UDP conversation with a single peer: resolve and connect, send, wait for a reply with a
// time-out, receive. The SNTP client uses one socket per query.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace kv {

enum class WaitResult { Readable, TimedOut, Failed };

// Not shared between threads: each socket is made, used and closed by one thread.
class UdpSocket {
public:
    virtual ~UdpSocket() = default;
    // Resolves host (a numeric IPv4 or IPv6 address is used without a name lookup; for a name the
    // first IPv4 address is preferred, else the first IPv6 one) and connects to it on port
    // (1 to 65535). False when the name cannot be resolved or the connection is refused.
    virtual bool Connect(const std::string& host, int port) = 0;
    // Sends one datagram; false unless all of it was sent.
    virtual bool Send(std::span<const uint8_t> datagram) = 0;
    // Waits at most timeoutMs for a datagram to arrive.
    virtual WaitResult WaitReadable(uint32_t timeoutMs) = 0;
    // Receives one datagram into buffer; its length (cut to the buffer), or -1 on failure.
    virtual int Receive(std::span<uint8_t> buffer) = 0;
};

// Makes fresh sockets; shared by every thread (implementations hold no state between calls).
class UdpSocketFactory {
public:
    virtual ~UdpSocketFactory() = default;
    virtual std::unique_ptr<UdpSocket> Create() = 0;
};

// POSIX sockets: getaddrinfo, connect, send, poll, recv.
UdpSocketFactory& PosixUdpSockets();

} // namespace kv
