// SPDX-License-Identifier: GPL-3.0-or-later
// chronyd serving its local clock on 127.0.0.1 at a high port for tests: started in the
// foreground with its files in a folder of its own, never allowed to adjust the machine's clock
// (-x), stopped when destroyed.
#pragma once

#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace kv::test {

inline constexpr const char* kChronyd = "/usr/sbin/chronyd";

inline constexpr auto kExitWait = std::chrono::seconds(3); // after SIGTERM, before SIGKILL

// A UDP port on 127.0.0.1 that was free a moment ago.
inline int FreeUdpPort() {
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
    static bool Installed() { return std::filesystem::exists(kChronyd); }
    // extraConfig: more chrony.conf lines, e.g. a public server's "ratelimit interval 3 burst 8".
    explicit ChronyServer(const std::string& extraConfig = "")
        : folder_(std::filesystem::temp_directory_path() /
                  ("kv-chrony-" + std::to_string(::getpid()))) {
        std::filesystem::create_directories(folder_);
        // chronyd refuses a command socket in a folder others may enter.
        std::filesystem::permissions(folder_, std::filesystem::perms::owner_all |
                                                  std::filesystem::perms::group_all);
        port_ = FreeUdpPort();
        std::ofstream(folder_ / "chrony.conf")
            << "port " << port_ << "\nbindaddress 127.0.0.1\nallow 127.0.0.1\nlocal stratum 8\n"
            << "cmdport 0\nbindcmdaddress " << Socket().string() << "\npidfile "
            << (folder_ / "chronyd.pid").string() << "\ndriftfile " << (folder_ / "drift").string()
            << "\n"
            << extraConfig;
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
        std::filesystem::remove_all(folder_, ignored);
    }
    int Port() const { return port_; }
    bool Running() const { return pid_ > 0; }
    // A counter of `chronyc serverstats`, such as "NTP packets received" or "NTP packets dropped"
    // (the queries its rate limit refused); -1 when it cannot be read.
    long ServerStat(const std::string& label) const {
        const std::string command = "chronyc -h " + Socket().string() + " serverstats 2>/dev/null";
        FILE* pipe = ::popen(command.c_str(), "r");
        if (pipe == nullptr) return -1;
        long value = -1;
        char line[256];
        while (std::fgets(line, sizeof line, pipe) != nullptr) {
            const std::string text(line);
            const size_t colon = text.find(':');
            if (text.rfind(label, 0) == 0 && colon != std::string::npos)
                value = std::strtol(text.c_str() + colon + 1, nullptr, 10);
        }
        ::pclose(pipe);
        return value;
    }
    std::string Log() const {
        std::ifstream in(folder_ / "chronyd.log");
        return {std::istreambuf_iterator<char>(in), {}};
    }

private:
    std::filesystem::path Socket() const { return folder_ / "chronyd.sock"; }
    void Stop() {
        ::kill(pid_, SIGTERM);
        const auto deadline = std::chrono::steady_clock::now() + kExitWait;
        while (::waitpid(pid_, nullptr, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline) {
                ::kill(pid_, SIGKILL);
                ::waitpid(pid_, nullptr, 0);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        pid_ = -1;
    }

    std::filesystem::path folder_;
    int port_ = 0;
    pid_t pid_ = -1;
};

} // namespace kv::test
