#include "ui/TimeLapseLink.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace kv {

std::string TimeLapseSocketPath() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    const std::string dir =
        runtime && *runtime ? runtime : "/tmp/runtime-" + std::to_string(::getuid());
    return dir + "/TimeLapse";
}

TimeLapseLink::~TimeLapseLink() {
    Forget();
}

void TimeLapseLink::Forget() {
    const int fd = Socket.exchange(-1);
    if (fd >= 0) ::close(fd);
}

bool TimeLapseLink::Find(const std::string& path) {
    Forget();
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

namespace {
void PutLittleEndian(unsigned char* out, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        out[i] = static_cast<unsigned char>(v >> (8 * i));
}
} // namespace

void TimeLapseLink::Notify(uint32_t milliseconds, uint32_t beatCountLow) {
    const int fd = Socket.load();
    if (fd < 0) return;
    unsigned char message[12];
    PutLittleEndian(message, TimeLapseMessage);
    PutLittleEndian(message + 4, milliseconds);
    PutLittleEndian(message + 8, beatCountLow);
    if (::send(fd, message, sizeof message, MSG_NOSIGNAL) < 0 && errno != EAGAIN &&
        errno != EWOULDBLOCK)
        Forget(); // the listener went away
}

} // namespace kv
