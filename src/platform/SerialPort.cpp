// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/SerialPort.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cmath>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include "platform/LineSpeed.h"

namespace kv {
namespace {

using Clock = std::chrono::steady_clock;

// How far the speed the driver keeps may lie from the rate asked for, relative to it. A receiver
// samples the stop bit 9.5 bit times after the start edge, so the two ends of a line may differ
// by a little under 5% in all; each end is allowed less than half of that.
constexpr double kSpeedTolerance = 0.02;

bool CloseEnough(uint32_t actual, int wanted) {
    return std::abs(static_cast<double>(actual) - wanted) <= kSpeedTolerance * wanted;
}

// Milliseconds until deadline, rounded up so that a wait never ends early; 0 once it has passed.
int MillisecondsLeft(Clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return static_cast<int>(std::clamp<int64_t>(left, 0, INT_MAX));
}

Clock::time_point Deadline(uint32_t perByteMs, uint32_t constantMs, size_t bytes) {
    const uint64_t totalMs = uint64_t{perByteMs} * bytes + constantMs;
    return Clock::now() + std::chrono::milliseconds(totalMs);
}

class PosixSerialPort final : public SerialPort {
public:
    PosixSerialPort(int fd, int wakeFd) : fd_(fd), wakeFd_(wakeFd) {}
    ~PosixSerialPort() override {
        Close();
        ::close(wakeFd_);
    }

    bool ReadLineSettings() override {
        std::scoped_lock lock(readMutex_, writeMutex_);
        haveSettings_ = !closed_ && ::tcgetattr(fd_, &settings_) == 0;
        return haveSettings_;
    }

    bool ApplyLineSettings(int baud) override {
        std::scoped_lock lock(readMutex_, writeMutex_);
        if (closed_ || !haveSettings_ || baud < 1) return false;
        termios line = settings_;
        ::cfmakeraw(&line); // binary: no translation, no echo, no XON/XOFF, 8 bits, no parity
        line.c_cflag &= ~(CSTOPB | CRTSCTS);
        line.c_cflag |= CLOCAL | CREAD;
        // Reads return what is there; the time-outs are kept with poll.
        line.c_cc[VMIN] = 0;
        line.c_cc[VTIME] = 0;
        // The speed is set apart (termios2), so that rates without a Bxxx constant work too.
        if (::tcsetattr(fd_, TCSANOW, &line) != 0 ||
            !CloseEnough(SetLineSpeed(fd_, static_cast<uint32_t>(baud)), baud))
            return false;
        settings_ = line;
        // Some receivers take their power from these lines. Devices without modem lines (a
        // pseudo-terminal) refuse the call, which does not matter to them.
        int lines = TIOCM_DTR | TIOCM_RTS;
        (void)::ioctl(fd_, TIOCMBIS, &lines);
        return true;
    }

    bool ReadTimeouts(SerialTimeouts& current) override {
        std::scoped_lock lock(readMutex_, writeMutex_);
        current = timeouts_;
        return !closed_;
    }

    bool ApplyTimeouts(const SerialTimeouts& timeouts) override {
        std::scoped_lock lock(readMutex_, writeMutex_);
        if (closed_) return false;
        timeouts_ = timeouts;
        return true;
    }

    size_t Read(std::span<uint8_t> buffer) override {
        std::lock_guard lock(readMutex_);
        if (closed_ || buffer.empty()) return 0;
        const bool totalLimit = timeouts_.ReadTotalMultiplierMs || timeouts_.ReadTotalConstantMs;
        const Clock::time_point deadline =
            Deadline(timeouts_.ReadTotalMultiplierMs, timeouts_.ReadTotalConstantMs, buffer.size());
        size_t got = 0;
        while (got < buffer.size()) {
            int waitMs = totalLimit ? MillisecondsLeft(deadline) : -1;
            if (got > 0 && timeouts_.ReadIntervalMs > 0)
                waitMs = waitMs < 0 ? static_cast<int>(timeouts_.ReadIntervalMs)
                                    : std::min(waitMs, static_cast<int>(timeouts_.ReadIntervalMs));
            if (waitMs == 0 || !WaitFor(POLLIN, waitMs)) break;
            const ssize_t n = ::read(fd_, buffer.data() + got, buffer.size() - got);
            if (n > 0) {
                got += static_cast<size_t>(n);
            } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
                break; // the device has gone
            }
        }
        return got;
    }

    size_t Write(std::span<const uint8_t> bytes) override {
        std::lock_guard lock(writeMutex_);
        if (closed_) return 0;
        const Clock::time_point deadline = Deadline(timeouts_.WriteTotalMultiplierMs,
                                                    timeouts_.WriteTotalConstantMs, bytes.size());
        size_t done = 0;
        while (done < bytes.size()) {
            const int waitMs = MillisecondsLeft(deadline);
            if (waitMs == 0 || !WaitFor(POLLOUT, waitMs)) break;
            const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
            if (n > 0) {
                done += static_cast<size_t>(n);
            } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
                break;
            }
        }
        return done;
    }

    void DiscardInput() override {
        std::lock_guard lock(readMutex_);
        if (!closed_) ::tcflush(fd_, TCIFLUSH);
    }

    void Close() override {
        if (closed_.exchange(true)) return;
        const uint64_t wake = 1;
        (void)!::write(wakeFd_, &wake, sizeof wake);
        // A pending read or write wakes at once; the descriptor goes only after both are done.
        std::scoped_lock lock(readMutex_, writeMutex_);
        (void)::ioctl(fd_, TIOCNXCL);
        ::close(fd_);
        fd_ = -1;
    }

    bool IsClosed() const override { return closed_; }

private:
    // Waits until the port is ready for events or a Close wakes the wait; true when ready.
    bool WaitFor(short events, int waitMs) {
        pollfd p[2] = {{fd_, events, 0}, {wakeFd_, POLLIN, 0}};
        int ready;
        do {
            ready = ::poll(p, 2, waitMs);
        } while (ready < 0 && errno == EINTR);
        return ready > 0 && !(p[1].revents & POLLIN) && (p[0].revents & events);
    }

    int fd_;
    const int wakeFd_;
    std::atomic<bool> closed_{false};
    std::mutex readMutex_;  // held by Read and DiscardInput
    std::mutex writeMutex_; // held by Write
    termios settings_{};
    bool haveSettings_ = false;
    SerialTimeouts timeouts_; // written with both locks held, read with either
};

class PosixSerialPortOpener final : public SerialPortOpener {
public:
    std::unique_ptr<SerialPort> Open(const std::string& name) override {
        if (name.empty() || name.find('\0') != std::string::npos) return nullptr;
        const std::string path = SerialDevicePath(name);
        const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) return nullptr;
        struct stat info {};
        if (::fstat(fd, &info) != 0 || !S_ISCHR(info.st_mode)) {
            ::close(fd);
            return nullptr;
        }
        // Other programs may not open the port while it is ours.
        (void)::ioctl(fd, TIOCEXCL);
        const int wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (wakeFd < 0) {
            ::close(fd);
            return nullptr;
        }
        return std::make_unique<PosixSerialPort>(fd, wakeFd);
    }
};

} // namespace

std::string SerialDevicePath(const std::string& name) {
    return !name.empty() && name.front() == '/' ? name : "/dev/" + name;
}

SerialPortOpener& PosixSerialPorts() {
    static PosixSerialPortOpener opener;
    return opener;
}

} // namespace kv
