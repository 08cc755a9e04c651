// Tick notifications reach a listener bound to the TimeLapse socket, and nothing breaks when
// there is none or it goes away.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "ui/TimeLapseLink.h"

namespace kv {
namespace {

namespace fs = std::filesystem;

struct Listener {
    int Fd = -1;
    explicit Listener(const std::string& path) {
        Fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK, 0);
        sockaddr_un a{};
        a.sun_family = AF_UNIX;
        std::strcpy(a.sun_path, path.c_str());
        ::unlink(path.c_str());
        EXPECT_EQ(::bind(Fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    }
    ~Listener() { ::close(Fd); }
    ssize_t Receive(unsigned char* out, size_t size) { return ::recv(Fd, out, size, 0); }
};

struct TimeLapse : ::testing::Test {
    fs::path Path = fs::temp_directory_path() / ("kv-tl-" + std::to_string(::getpid()));
    void TearDown() override { fs::remove(Path); }
};

TEST_F(TimeLapse, EachTickIsOneLittleEndianDatagram) {
    Listener listener(Path);
    TimeLapseLink link;
    ASSERT_TRUE(link.Find(Path));
    link.Notify(1234, 0x01020304);
    unsigned char m[16] = {};
    ASSERT_EQ(listener.Receive(m, sizeof m), 12);
    const unsigned char expected[12] = {0x12, 0x04, 0, 0, 0xD2, 0x04, 0, 0, 4, 3, 2, 1};
    EXPECT_EQ(std::memcmp(m, expected, 12), 0);
}

TEST_F(TimeLapse, NoListenerMeansNoLinkAndNotifyIsHarmless) {
    TimeLapseLink link;
    EXPECT_FALSE(link.Find(Path));
    EXPECT_FALSE(link.Found());
    link.Notify(1, 2);
    EXPECT_FALSE(link.Find(std::string(200, 'x'))); // longer than a socket path can be
}

TEST_F(TimeLapse, AListenerThatGoesAwayIsForgotten) {
    TimeLapseLink link;
    {
        Listener listener(Path);
        ASSERT_TRUE(link.Find(Path));
    }
    fs::remove(Path);
    link.Notify(1, 2);
    EXPECT_FALSE(link.Found());
}

} // namespace
} // namespace kv
