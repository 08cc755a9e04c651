// SPDX-License-Identifier: GPL-3.0-or-later
// The first start as a newcomer sees it: a fresh home, no sound card, a real X server with a window
// manager, and a busy machine. Every start must measure the bundled sample within seconds and show
// at most one message box. Ticks are counted through the TimeLapse socket, which the program
// notifies of every tick it finds; message boxes through the lines the program prints for them.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

#include "TickSynthesizer.h"
#include "support/FlacFile.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int Starts = 20;
// The time a newcomer is given to see the sample measured.
constexpr auto MeasureWithin = std::chrono::seconds(25);
// Ticks that show a running measurement, watched for skips: ten seconds of an 18000 vph watch.
constexpr int TicksWanted = 50;
// Each tick comes with its place in its one-beat analysis buffer, in whole milliseconds. It moves
// by the sample's 0.4 ms beat error and its rate (0.5 ms over the ticks watched), wraps at the
// buffer's end, and jumps once when centring puts the ticks on the datum; a playback that skipped
// makes it jump again. The first tick is left out: it can be caught in part, at a buffer's start.
constexpr double SkipToleranceMs = 3.0;
constexpr double BufferMs = 200.0; // one beat of the 18000 vph sample
constexpr int CentringJumps = 1;
constexpr auto ServerStartLimit = std::chrono::seconds(10);

// A child process, killed and reaped when it goes out of scope.
class Child {
public:
    Child() = default;
    Child(const std::vector<std::string>& argv, const std::vector<std::string>& env,
          const std::string& errFile = "/dev/null") {
        std::fflush(nullptr); // unwritten output would be written again by the child
        Pid = ::fork();
        if (Pid != 0) return;
        ::setpgid(0, 0);
        if (FILE* err = std::freopen(errFile.c_str(), "w", stderr)) (void)err;
        if (FILE* out = std::freopen("/dev/null", "w", stdout)) (void)out;
        std::vector<char*> args, vars;
        for (const auto& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        for (const auto& e : env)
            vars.push_back(const_cast<char*>(e.c_str()));
        args.push_back(nullptr);
        vars.push_back(nullptr);
        ::execve(args[0], args.data(), vars.data());
        ::_exit(127);
    }
    Child(Child&& other) noexcept : Pid(std::exchange(other.Pid, -1)) {}
    Child& operator=(Child&& other) noexcept {
        Stop();
        Pid = std::exchange(other.Pid, -1);
        return *this;
    }
    ~Child() { Stop(); }
    // Asks the child to end, then forces it after a grace period.
    void Stop() {
        if (Pid <= 0) return;
        ::kill(Pid, SIGTERM);
        for (int i = 0; i < 100; ++i) {
            if (::waitpid(Pid, nullptr, WNOHANG) == Pid) {
                Pid = -1;
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        ::kill(-Pid, SIGKILL);
        ::kill(Pid, SIGKILL);
        ::waitpid(Pid, nullptr, 0);
        Pid = -1;
    }
    bool Running() const { return Pid > 0 && ::waitpid(Pid, nullptr, WNOHANG) == 0; }

private:
    pid_t Pid = -1;
};

std::string FindProgram(const char* name) {
    for (const char* dir : {"/usr/bin", "/usr/local/bin", "/bin"}) {
        const fs::path p = fs::path(dir) / name;
        if (fs::exists(p)) return p.string();
    }
    return {};
}

// An X server with a window manager on a display of its own.
class Desktop {
public:
    bool Start() {
        const std::string xvfb = FindProgram("Xvfb"), openbox = FindProgram("openbox");
        if (xvfb.empty() || openbox.empty()) return false;
        Display = 100 + static_cast<int>(::getpid() % 400);
        const std::string name = ":" + std::to_string(Display);
        Server = Child({xvfb, name, "-screen", "0", "1600x1000x24", "-nolisten", "tcp"},
                       {"PATH=/usr/bin:/bin"});
        const fs::path socket = "/tmp/.X11-unix/X" + std::to_string(Display);
        const auto limit = Clock::now() + ServerStartLimit;
        while (!fs::exists(socket) && Clock::now() < limit)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        if (!fs::exists(socket)) return false;
        Manager = Child({openbox}, {"DISPLAY=" + name, "PATH=/usr/bin:/bin", "HOME=/tmp"});
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        return Manager.Running();
    }
    std::string Name() const { return ":" + std::to_string(Display); }

private:
    int Display = 0;
    Child Server, Manager;
};

// Keeps every core busy while it lives.
class Load {
public:
    Load() {
        for (unsigned i = 0; i < std::max(2u, std::thread::hardware_concurrency()); ++i)
            Burners.emplace_back([this] {
                volatile double x = 1.0;
                while (!Stop.load(std::memory_order_relaxed))
                    x = x * 1.0000001 + 1e-9;
            });
    }
    ~Load() {
        Stop = true;
        for (auto& t : Burners)
            t.join();
    }

private:
    std::atomic<bool> Stop{false};
    std::vector<std::thread> Burners;
};

// A bound TimeLapse socket in a runtime folder: counts the ticks the program sends.
class TickListener {
public:
    explicit TickListener(const fs::path& runtime) {
        Fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const std::string path = (runtime / "TimeLapse").string();
        path.copy(address.sun_path, sizeof address.sun_path - 1);
        Bound = ::bind(Fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        timeval wait{0, 200000};
        ::setsockopt(Fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    }
    ~TickListener() { ::close(Fd); }
    // A tick's place in its buffer in milliseconds, if one came.
    std::optional<uint32_t> Receive() {
        unsigned char datagram[64];
        if (::recv(Fd, datagram, sizeof datagram, 0) < 12) return std::nullopt;
        const auto field = [&](int i) {
            uint32_t v = 0;
            for (int b = 3; b >= 0; --b)
                v = v << 8 | datagram[4 * i + b];
            return v;
        };
        return field(1);
    }
    bool Bound = false;

private:
    int Fd = -1;
};

int CountBoxes(const fs::path& errFile) {
    std::ifstream in(errFile);
    int boxes = 0;
    for (std::string line; std::getline(in, line);)
        boxes += line.rfind("kestrovane: message box:", 0) == 0;
    return boxes;
}

struct StartResult {
    int Ticks = 0;
    int Skips = 0; // jumps of the ticks' place beyond centring: the playback skipped or repeated
    std::string Places; // the ticks' places in milliseconds, for a start that skipped
    double SecondsToFirstTick = -1;
    int Boxes = 0;
    std::string Errors;
};

// Starts the program with `arguments` on the home folder as it is, counts its ticks for a while
// and ends it the way a desktop does (a termination request), so it saves its settings.
StartResult StartWith(const Desktop& desktop, const fs::path& home,
                      const std::vector<std::string>& arguments) {
    const fs::path runtime = home / "runtime";
    fs::remove_all(runtime); // a socket left by an earlier start cannot be bound again
    fs::create_directories(runtime);
    fs::permissions(runtime, fs::perms::owner_all);
    TickListener listener(runtime);
    EXPECT_TRUE(listener.Bound);
    const fs::path errFile = home / "stderr.txt";
    std::vector<std::string> argv{KV_PROGRAM};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    Child program(argv,
                  {"HOME=" + home.string(), "XDG_RUNTIME_DIR=" + runtime.string(),
                   "DISPLAY=" + desktop.Name(), "PATH=/usr/bin:/bin", "LANG=C.UTF-8"},
                  errFile.string());
    StartResult r;
    const auto start = Clock::now();
    std::vector<double> places;
    while (r.Ticks < TicksWanted && Clock::now() - start < MeasureWithin) {
        const auto place = listener.Receive();
        if (!place) continue;
        if (r.Ticks++ == 0)
            r.SecondsToFirstTick = std::chrono::duration<double>(Clock::now() - start).count();
        places.push_back(*place);
    }
    int jumps = 0;
    for (size_t i = 2; i < places.size(); ++i) {
        const double move = std::fabs(places[i] - places[i - 1]);
        jumps += std::min(move, BufferMs - move) > SkipToleranceMs;
    }
    r.Skips = std::max(0, jumps - CentringJumps);
    if (r.Skips > 0)
        for (double place : places)
            r.Places += std::to_string(static_cast<int>(place)) + " ";
    program.Stop();
    r.Boxes = CountBoxes(errFile);
    std::ifstream in(errFile);
    std::stringstream text;
    text << in.rdbuf();
    r.Errors = text.str();
    return r;
}

StartResult StartOnce(const Desktop& desktop, const fs::path& home) {
    fs::remove_all(home);
    return StartWith(desktop, home, {});
}

TEST(FirstStart, EveryStartMeasuresTheSampleUnderLoadWithoutSkipsOrMoreThanOneMessageBox) {
    Desktop desktop;
    if (!desktop.Start()) GTEST_SKIP() << "Xvfb and openbox are needed";
    Load load;
    const fs::path base =
        fs::temp_directory_path() / ("kv-first-start-" + std::to_string(::getpid()));
    int skips = 0;
    for (int i = 0; i < Starts; ++i) {
        const StartResult r = StartOnce(desktop, base / std::to_string(i));
        EXPECT_GE(r.Ticks, TicksWanted) << "start " << i << ":\n" << r.Errors;
        EXPECT_LE(r.Boxes, 1) << "start " << i << ":\n" << r.Errors;
        skips += r.Skips;
        EXPECT_EQ(r.Skips, 0) << "start " << i << ", the ticks' places: " << r.Places;
        std::printf("start %d: %d ticks, first after %.2f s, %d skip(s), %d message box(es)\n", i,
                    r.Ticks, r.SecondsToFirstTick, r.Skips, r.Boxes);
    }
    std::printf("%d skip(s) in %d starts\n", skips, Starts);
    fs::remove_all(base);
}

// What the settings file says of the waveform file.
std::string StoredWaveFile(const fs::path& home) {
    std::ifstream in(home / ".config" / "VexlorDemo" / "Kestrovane.ini");
    for (std::string line; std::getline(in, line);)
        if (line.rfind("WaveFile2=", 0) == 0) return line.substr(10);
    return {};
}

// A watch recording written as FLAC by libsndfile.
bool WriteFlac(const fs::path& path) {
    kv::synth::SynthOptions o;
    o.BeatsPerHour = 18000;
    o.RateSecondsPerDay = 8;
    o.SampleRate = 48000;
    o.Seconds = 30;
    return kv::test::WriteFlac(path, kv::synth::Synthesize(o).Samples, 48000);
}

// `kestrovane FILE` as a file manager starts it: the recording is measured at once, and the
// waveform file of the settings is the one it was before; a file that is not a recording gets a
// message naming it, and the window measures the waveform file as on any start.
TEST(FirstStart, AFileOnTheCommandLineIsMeasuredAndTheSettingKept) {
    Desktop desktop;
    if (!desktop.Start()) GTEST_SKIP() << "Xvfb and openbox are needed";
    const fs::path home =
        fs::temp_directory_path() / ("kv-open-file-" + std::to_string(::getpid()));
    fs::remove_all(home);
    fs::create_directories(home / ".config" / "VexlorDemo");
    const std::string mine = (home / "recordings" / "mine.wav").string(); // not recorded yet
    std::ofstream(home / ".config" / "VexlorDemo" / "Kestrovane.ini")
        << "[Settings]\nWaveFile2=" << mine << "\nDuplexAudio=0\n";
    const fs::path flac = home / "bench recording.flac";
    ASSERT_TRUE(WriteFlac(flac));

    StartResult r = StartWith(desktop, home, {flac.string()});
    EXPECT_GE(r.Ticks, TicksWanted) << r.Errors;
    EXPECT_EQ(r.Errors.find("Cannot play"), std::string::npos) << r.Errors;
    EXPECT_EQ(StoredWaveFile(home), mine);

    const fs::path text = home / "notes.flac";
    std::ofstream(text) << "not a recording\n";
    fs::remove(home / ".config" / "VexlorDemo" / "Kestrovane.ini"); // the sample plays as usual
    r = StartWith(desktop, home, {text.string()});
    EXPECT_NE(r.Errors.find("kestrovane: message box: Cannot play " + text.string()),
              std::string::npos)
        << r.Errors;
    EXPECT_GE(r.Ticks, TicksWanted) << "the window measures the sample as usual\n" << r.Errors;
    EXPECT_EQ(StoredWaveFile(home), (home / ".local" / "share" / "Vexlor" / "cal.wav").string());
    fs::remove_all(home);
}

} // namespace
