// The SNTP client against a real server: chronyd serving its local clock on 127.0.0.1 at a high
// port, started and stopped by the test, never allowed to adjust the machine's clock (-x).
#include "timebase/references/SntpClient.h"

#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace kv {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr const char* kChronyd = "/usr/sbin/chronyd";
constexpr auto kStartupWait = 10s;        // chronyd answers within a second of start
constexpr auto kExitWait = 3s;            // after SIGTERM, before SIGKILL
constexpr uint32_t kProbeTimeoutMs = 200; // per query while waiting for the server
constexpr double kSameClockSlack = 0.05;  // both clocks are the machine's; loopback is fast

// A UDP port on 127.0.0.1 that was free a moment ago.
int FreeUdpPort() {
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof a;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length) == 0)
        port = ntohs(a.sin_port);
    ::close(fd);
    return port;
}

// chronyd in the foreground with its files in a folder of its own; stopped when destroyed.
class ChronyServer {
public:
    ChronyServer()
        : folder_(fs::temp_directory_path() / ("kv-chrony-" + std::to_string(::getpid()))) {
        fs::create_directories(folder_);
        port_ = FreeUdpPort();
        std::ofstream(folder_ / "chrony.conf")
            << "port " << port_ << "\nbindaddress 127.0.0.1\nallow 127.0.0.1\nlocal stratum 8\n"
            << "cmdport 0\npidfile " << (folder_ / "chronyd.pid").string() << "\ndriftfile "
            << (folder_ / "drift").string() << "\n";
        const std::string conf = (folder_ / "chrony.conf").string();
        const std::string log = (folder_ / "chronyd.log").string();
        // -x: never touch the system clock; -d: stay in the foreground. Run as root, it keeps
        // root (-u root) so that it can write its files into the test's folder.
        std::vector<const char*> arguments = {kChronyd, "-x", "-d", "-f", conf.c_str()};
        if (::geteuid() == 0) arguments.insert(arguments.end(), {"-u", "root"});
        arguments.push_back(nullptr);
        pid_ = ::fork();
        if (pid_ == 0) {
            const int out = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            ::dup2(out, STDOUT_FILENO);
            ::dup2(out, STDERR_FILENO);
            ::execv(kChronyd, const_cast<char* const*>(arguments.data()));
            ::_exit(127);
        }
    }
    ~ChronyServer() {
        if (pid_ > 0) Stop();
        std::error_code ignored;
        fs::remove_all(folder_, ignored);
    }
    int Port() const { return port_; }
    bool Running() const { return pid_ > 0; }
    std::string Log() const {
        std::ifstream in(folder_ / "chronyd.log");
        return {std::istreambuf_iterator<char>(in), {}};
    }

private:
    void Stop() {
        ::kill(pid_, SIGTERM);
        const auto deadline = std::chrono::steady_clock::now() + kExitWait;
        while (::waitpid(pid_, nullptr, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline) {
                ::kill(pid_, SIGKILL);
                ::waitpid(pid_, nullptr, 0);
                break;
            }
            std::this_thread::sleep_for(20ms);
        }
        pid_ = -1;
    }

    fs::path folder_;
    int port_ = 0;
    pid_t pid_ = -1;
};

TEST(SntpChrony, ReadingsFromARealServerAreOk) {
    if (!fs::exists(kChronyd)) GTEST_SKIP() << "chronyd is not installed (Debian package chrony)";
    ChronyServer chrony;
    ASSERT_TRUE(chrony.Running());
    ASSERT_NE(chrony.Port(), 0);

    TimestampClock clock;
    CSNTPClient probe(PosixUdpSockets(), clock);
    probe.SetTimeout(kProbeTimeoutMs);
    SntpReply reply;
    const auto deadline = std::chrono::steady_clock::now() + kStartupWait;
    bool answered = false;
    while (!answered && std::chrono::steady_clock::now() < deadline)
        answered = probe.QueryServer(true, "127.0.0.1", reply, chrony.Port());
    ASSERT_TRUE(answered) << "chronyd did not answer; its log:\n" << chrony.Log();
    EXPECT_EQ(reply.Stratum, 8);

    SntpReference reference("127.0.0.1", chrony.Port(), PosixUdpSockets(), clock);
    for (int reading = 0; reading < 3; ++reading) {
        double offset = 99;
        std::string status;
        ASSERT_TRUE(reference.ReadOffset(
            ReadingPhase::Running, [] { return true; }, offset, status))
            << status;
        EXPECT_EQ(status, "SNTP Ok");
        EXPECT_LT(std::abs(offset), kSameClockSlack);
    }
}

} // namespace
} // namespace kv
