// SPDX-License-Identifier: GPL-3.0-or-later
// Sending datagrams to a listener bound to a Unix datagram socket on this machine.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

namespace kv {

enum class DatagramResult {
    Sent,
    Dropped,  // the listener's queue is full: this datagram is lost, the listener stays
    PeerGone, // the listener closed or removed its socket
};

// One connection to a listener's socket path. Not thread-safe: the owner serialises the calls.
class LocalDatagramSender {
public:
    virtual ~LocalDatagramSender() = default;
    // Connects to the socket bound at `path`; false (and not connected) when nobody listens there.
    virtual bool Connect(const std::string& path) = 0;
    virtual bool Connected() const = 0;
    // Never blocks.
    virtual DatagramResult Send(const unsigned char* bytes, size_t size) = 0;
    virtual void Disconnect() = 0;
};

// The POSIX implementation: a non-blocking AF_UNIX SOCK_DGRAM socket.
std::unique_ptr<LocalDatagramSender> MakeUnixDatagramSender();

// $XDG_RUNTIME_DIR/<name>, or /tmp/runtime-<uid>/<name> when the variable is unset or empty.
std::string RuntimeSocketPath(const std::string& name);

} // namespace kv
