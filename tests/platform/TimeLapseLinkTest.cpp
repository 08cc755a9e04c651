// SPDX-License-Identifier: GPL-3.0-or-later
// Tick notifications reach a listener bound to the TimeLapse socket, and nothing breaks when there
// is none, when its queue is full or when it goes away.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "platform/TimeLapseLink.h"

namespace kv {
namespace {

namespace fs = std::filesystem;

constexpr size_t DatagramBytes = 12;

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

// A runtime folder of the test's own, named by XDG_RUNTIME_DIR while the test runs.
struct TimeLapse : ::testing::Test {
    fs::path Folder = fs::temp_directory_path() / ("kv-runtime-" + std::to_string(::getpid()));
    fs::path Path = Folder / "TimeLapse";
    std::string SavedRuntime;
    bool HadRuntime = false;

    void SetUp() override {
        fs::create_directories(Folder);
        if (const char* saved = std::getenv("XDG_RUNTIME_DIR")) {
            HadRuntime = true;
            SavedRuntime = saved;
        }
        ::setenv("XDG_RUNTIME_DIR", Folder.c_str(), 1);
    }
    void TearDown() override {
        if (HadRuntime)
            ::setenv("XDG_RUNTIME_DIR", SavedRuntime.c_str(), 1);
        else
            ::unsetenv("XDG_RUNTIME_DIR");
        fs::remove_all(Folder);
    }
};

TEST_F(TimeLapse, TheListenerIsLookedForInTheRuntimeFolder) {
    EXPECT_EQ(TimeLapseSocketPath(), Path.string());
    ::setenv("XDG_RUNTIME_DIR", "", 1);
    EXPECT_EQ(TimeLapseSocketPath(), "/tmp/runtime-" + std::to_string(::getuid()) + "/TimeLapse");
}

TEST_F(TimeLapse, EachTickIsOneLittleEndianDatagram) {
    Listener listener(Path);
    TimeLapseLink link;
    ASSERT_TRUE(link.Find());
    link.Notify(1234, 0x01020304);
    unsigned char m[16] = {};
    ASSERT_EQ(listener.Receive(m, sizeof m), static_cast<ssize_t>(DatagramBytes));
    const unsigned char expected[DatagramBytes] = {0x12, 0x04, 0, 0, 0xD2, 0x04, 0, 0, 4, 3, 2, 1};
    EXPECT_EQ(std::memcmp(m, expected, DatagramBytes), 0);
}

TEST_F(TimeLapse, NoListenerMeansNoLinkAndNotifyIsHarmless) {
    TimeLapseLink link;
    EXPECT_FALSE(link.Find());
    EXPECT_FALSE(link.Found());
    link.Notify(1, 2);
    EXPECT_FALSE(link.Find(std::string(200, 'x'))); // longer than a socket path can be
}

TEST_F(TimeLapse, AListenerThatGoesAwayIsForgotten) {
    TimeLapseLink link;
    {
        Listener listener(Path);
        ASSERT_TRUE(link.Find());
    }
    fs::remove(Path);
    link.Notify(1, 2);
    EXPECT_FALSE(link.Found());
}

TEST_F(TimeLapse, AFullQueueLosesTicksButKeepsTheListener) {
    Listener listener(Path);
    TimeLapseLink link;
    ASSERT_TRUE(link.Find());
    constexpr int MoreTicksThanAQueueHolds = 100000;
    for (int tick = 0; tick < MoreTicksThanAQueueHolds; ++tick)
        link.Notify(static_cast<uint32_t>(tick), 0);
    EXPECT_TRUE(link.Found());
    unsigned char m[16];
    while (listener.Receive(m, sizeof m) > 0) {
    }
    link.Notify(7, 8);
    EXPECT_EQ(listener.Receive(m, sizeof m), static_cast<ssize_t>(DatagramBytes));
}

// The capture thread notifies while the user-interface thread looks the listener up again and
// forgets it: ticks keep arriving, each datagram whole (and ThreadSanitizer sees no race).
TEST_F(TimeLapse, NotifyWhileTheListenerIsLookedUpAgain) {
    Listener listener(Path);
    TimeLapseLink link;
    std::atomic<bool> stop{false};
    std::thread capture([&] {
        for (uint32_t tick = 0; !stop.load(); ++tick)
            link.Notify(tick, tick);
    });
    constexpr int LookUps = 200;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    int received = 0;
    for (int i = 0; (i < LookUps || received == 0) && std::chrono::steady_clock::now() < deadline;
         ++i) {
        EXPECT_TRUE(link.Find());
        if (i % 2 == 0) link.Forget();
        unsigned char m[16];
        for (ssize_t got; (got = listener.Receive(m, sizeof m)) > 0; ++received)
            EXPECT_EQ(got, static_cast<ssize_t>(DatagramBytes));
    }
    stop = true;
    capture.join();
    EXPECT_GT(received, 0);
}

// A sender whose answers the test chooses.
struct ScriptedSender : LocalDatagramSender {
    bool IsConnected = false;
    DatagramResult Answer = DatagramResult::Sent;
    int Sends = 0;
    bool Connect(const std::string&) override { return IsConnected = true; }
    bool Connected() const override { return IsConnected; }
    DatagramResult Send(const unsigned char*, size_t) override {
        ++Sends;
        return Answer;
    }
    void Disconnect() override { IsConnected = false; }
};

TEST(TimeLapseLink, SendsOnlyWhileFoundAndForgetsOnlyAGoneListener) {
    auto owned = std::make_unique<ScriptedSender>();
    ScriptedSender& sender = *owned;
    TimeLapseLink link(std::move(owned));
    link.Notify(1, 1);
    EXPECT_EQ(sender.Sends, 0);

    ASSERT_TRUE(link.Find("listener"));
    sender.Answer = DatagramResult::Dropped;
    link.Notify(2, 2);
    EXPECT_TRUE(link.Found());

    sender.Answer = DatagramResult::PeerGone;
    link.Notify(3, 3);
    EXPECT_FALSE(link.Found());
    link.Notify(4, 4);
    EXPECT_EQ(sender.Sends, 2);
}

} // namespace
} // namespace kv
