// Tick notifications to an external "TimeLapse" listener: a program that wants them binds a Unix
// datagram socket named "TimeLapse" in $XDG_RUNTIME_DIR. At Run the view looks for it; while it is
// there, every buffer with a tick sends one 12-byte datagram: message 0x412, the word parameter
// (first tick position in milliseconds) and the long parameter (low 32 bits of the beat count),
// each a little-endian 32-bit integer. Sending never blocks; a vanished listener is dropped.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

namespace kv {

inline constexpr uint32_t TimeLapseMessage = 0x412;

// $XDG_RUNTIME_DIR/TimeLapse, or /tmp/runtime-<uid>/TimeLapse when the variable is unset.
std::string TimeLapseSocketPath();

class TimeLapseLink {
public:
    TimeLapseLink() = default;
    ~TimeLapseLink();
    TimeLapseLink(const TimeLapseLink&) = delete;
    TimeLapseLink& operator=(const TimeLapseLink&) = delete;

    // Looks the listener up again (at Run); true when one is there.
    bool Find(const std::string& path = TimeLapseSocketPath());
    bool Found() const { return Socket.load() >= 0; }
    // Capture thread: posts one tick.
    void Notify(uint32_t milliseconds, uint32_t beatCountLow);
    void Forget();

private:
    std::atomic<int> Socket{-1};
};

} // namespace kv
