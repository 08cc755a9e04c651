// SPDX-License-Identifier: GPL-3.0-or-later
// Tick notifications to an external "TimeLapse" listener: a program that wants them binds a Unix
// datagram socket named "TimeLapse" in $XDG_RUNTIME_DIR. At Run the view looks for it; while it is
// there, every buffer with a tick sends one 12-byte datagram: message 0x412, the word parameter
// (first tick position in milliseconds) and the long parameter (low 32 bits of the beat count),
// each a little-endian 32-bit integer. Sending never blocks; a vanished listener is dropped.
//
// Threads: Find and Forget run on the user-interface thread, Notify on the capture thread; Found
// from either. The link owns the lock that keeps a send off a socket being replaced or closed.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "platform/LocalDatagramSender.h"

namespace kv {

inline constexpr uint32_t TimeLapseMessage = 0x412;

// $XDG_RUNTIME_DIR/TimeLapse, or /tmp/runtime-<uid>/TimeLapse when the variable is unset.
std::string TimeLapseSocketPath();

class TimeLapseLink {
public:
    TimeLapseLink();
    // Tests pass a fake sender.
    explicit TimeLapseLink(std::unique_ptr<LocalDatagramSender> sender);
    ~TimeLapseLink();
    TimeLapseLink(const TimeLapseLink&) = delete;
    TimeLapseLink& operator=(const TimeLapseLink&) = delete;

    // Looks the listener up again (at Run); true when one is there.
    bool Find(const std::string& path = TimeLapseSocketPath());
    bool Found() const;
    // Posts one tick.
    void Notify(uint32_t milliseconds, uint32_t beatCountLow);
    void Forget();

private:
    mutable std::mutex Lock;
    std::unique_ptr<LocalDatagramSender> Sender;
};

} // namespace kv
