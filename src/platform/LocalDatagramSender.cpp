// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/LocalDatagramSender.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace kv {

namespace {

class UnixDatagramSender final : public LocalDatagramSender {
public:
    ~UnixDatagramSender() override { Disconnect(); }

    bool Connect(const std::string& path) override {
        Disconnect();
        sockaddr_un address{};
        if (path.size() >= sizeof(address.sun_path)) return false;
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
        const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0) return false;
        if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
            ::close(fd);
            return false;
        }
        Socket = fd;
        return true;
    }

    bool Connected() const override { return Socket >= 0; }

    DatagramResult Send(const unsigned char* bytes, size_t size) override {
        if (Socket < 0) return DatagramResult::PeerGone;
        if (::send(Socket, bytes, size, MSG_NOSIGNAL) >= 0) return DatagramResult::Sent;
        if (errno == EAGAIN || errno == EWOULDBLOCK) return DatagramResult::Dropped;
        return DatagramResult::PeerGone;
    }

    void Disconnect() override {
        if (Socket >= 0) ::close(Socket);
        Socket = -1;
    }

private:
    int Socket = -1;
};

} // namespace

std::unique_ptr<LocalDatagramSender> MakeUnixDatagramSender() {
    return std::make_unique<UnixDatagramSender>();
}

std::string RuntimeSocketPath(const std::string& name) {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    const std::string folder =
        runtime && *runtime ? runtime : "/tmp/runtime-" + std::to_string(::getuid());
    return folder + "/" + name;
}

} // namespace kv
