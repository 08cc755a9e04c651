// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/TerminationSignals.h"

#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace kv {

namespace {

constexpr std::array<int, 3> HandledSignals = {SIGHUP, SIGINT, SIGTERM};

// The handler's state: lock-free atomics are safe to touch from a signal handler.
std::atomic<int> WakeWrite{-1};
std::atomic<unsigned> PendingMask{0};
std::atomic<bool> Owned{false};
std::array<struct sigaction, HandledSignals.size()> Previous{};
static_assert(std::atomic<int>::is_always_lock_free && std::atomic<unsigned>::is_always_lock_free);

unsigned BitOf(int signal) {
    return 1u << static_cast<unsigned>(signal);
}

// One wake byte per burst: a signal already pending writes nothing, so the pipe never fills and
// the handler never blocks. errno is kept for the code the signal interrupted.
void OnTerminationSignal(int signal) {
    const int savedErrno = errno;
    const unsigned before = PendingMask.fetch_or(BitOf(signal));
    const int fd = WakeWrite.load();
    if (before == 0 && fd >= 0) {
        const char wake = 1;
        [[maybe_unused]] const auto written = ::write(fd, &wake, 1);
    }
    errno = savedErrno;
}

void DrainWakeBytes(int fd) {
    char bytes[HandledSignals.size()]; // a burst leaves one wake byte; the loop takes any more
    while (::read(fd, bytes, sizeof bytes) > 0) {
    }
}

} // namespace

TerminationSignals::TerminationSignals() {
    if (Owned.exchange(true)) return;
    int pipeEnds[2];
    if (::pipe2(pipeEnds, O_CLOEXEC | O_NONBLOCK) != 0) {
        Owned = false;
        return;
    }
    WakeRead = pipeEnds[0];
    WakeWrite = pipeEnds[1];
    PendingMask = 0;
    struct sigaction action {};
    action.sa_handler = OnTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (size_t i = 0; i < HandledSignals.size(); ++i)
        sigaction(HandledSignals[i], &action, &Previous[i]);
}

TerminationSignals::~TerminationSignals() {
    if (Installed()) Restore();
}

void TerminationSignals::Restore() {
    for (size_t i = 0; i < HandledSignals.size(); ++i)
        sigaction(HandledSignals[i], &Previous[i], nullptr);
    ::close(WakeWrite.exchange(-1));
    ::close(WakeRead);
    WakeRead = -1;
    Owned = false;
}

std::vector<int> TerminationSignals::TakePending() {
    std::vector<int> taken;
    if (!Installed()) return taken;
    DrainWakeBytes(WakeRead);
    const unsigned mask = PendingMask.exchange(0);
    for (int signal : HandledSignals)
        if ((mask & BitOf(signal)) != 0) taken.push_back(signal);
    return taken;
}

} // namespace kv
