// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/UdpSocket.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace kv {
namespace {

constexpr int kHighestPort = 65535;

// getaddrinfo results, freed on every path.
struct AddressList {
    addrinfo* Head = nullptr;
    ~AddressList() {
        if (Head) freeaddrinfo(Head);
    }
};

// The first IPv4 entry, else the first entry of any family.
const addrinfo* PreferIpv4(const addrinfo* list) {
    for (const addrinfo* a = list; a; a = a->ai_next)
        if (a->ai_family == AF_INET) return a;
    return list;
}

class PosixUdpSocket final : public UdpSocket {
public:
    ~PosixUdpSocket() override {
        if (fd_ >= 0) ::close(fd_);
    }

    bool Connect(const std::string& host, int port) override {
        if (fd_ >= 0 || port < 1 || port > kHighestPort || host.empty() ||
            host.find('\0') != std::string::npos)
            return false;
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_DGRAM;
        hints.ai_flags = AI_NUMERICSERV;
        AddressList found;
        if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found.Head) != 0 ||
            !found.Head)
            return false;
        const addrinfo* peer = PreferIpv4(found.Head);
        fd_ = ::socket(peer->ai_family, peer->ai_socktype | SOCK_CLOEXEC, peer->ai_protocol);
        if (fd_ < 0) return false;
        return ::connect(fd_, peer->ai_addr, peer->ai_addrlen) == 0;
    }

    bool Send(std::span<const uint8_t> datagram) override {
        if (fd_ < 0) return false;
        const ssize_t sent = ::send(fd_, datagram.data(), datagram.size(), MSG_NOSIGNAL);
        return sent == static_cast<ssize_t>(datagram.size());
    }

    WaitResult WaitReadable(uint32_t timeoutMs) override {
        if (fd_ < 0) return WaitResult::Failed;
        pollfd p{fd_, POLLIN, 0};
        const int waitMs = static_cast<int>(std::min<uint32_t>(timeoutMs, INT_MAX));
        int ready;
        do {
            ready = ::poll(&p, 1, waitMs);
        } while (ready < 0 && errno == EINTR);
        if (ready == 0) return WaitResult::TimedOut;
        if (ready < 0 || !(p.revents & POLLIN)) return WaitResult::Failed;
        return WaitResult::Readable;
    }

    int Receive(std::span<uint8_t> buffer) override {
        if (fd_ < 0) return -1;
        ssize_t got;
        do {
            got = ::recv(fd_, buffer.data(), buffer.size(), MSG_DONTWAIT);
        } while (got < 0 && errno == EINTR);
        return got < 0 ? -1 : static_cast<int>(got);
    }

private:
    int fd_ = -1;
};

class PosixUdpSocketFactory final : public UdpSocketFactory {
public:
    std::unique_ptr<UdpSocket> Create() override { return std::make_unique<PosixUdpSocket>(); }
};

} // namespace

UdpSocketFactory& PosixUdpSockets() {
    static PosixUdpSocketFactory factory;
    return factory;
}

} // namespace kv
