// SPDX-License-Identifier: GPL-3.0-or-later
// Termination requests from outside: Ctrl+C (SIGINT), a termination request (SIGTERM) and the loss
// of the controlling terminal (SIGHUP). Their handler only records the signal and wakes a
// descriptor, so the program can close the normal way (settings saved, a recording's header
// sizes written) on its own thread.
//
// Threads: construct, destroy and take on one thread (the user-interface thread); the signal
// handler may run on any thread. One instance at a time owns the handlers.
#pragma once

#include <vector>

namespace kv {

class TerminationSignals {
public:
    // Installs the handlers; Installed() is false when another instance holds them or the
    // system refuses.
    TerminationSignals();
    // Puts back the handlers that were there before.
    ~TerminationSignals();
    TerminationSignals(const TerminationSignals&) = delete;
    TerminationSignals& operator=(const TerminationSignals&) = delete;

    bool Installed() const { return WakeRead >= 0; }
    // Becomes readable when a signal has arrived and was not yet taken; for a poll or a
    // QSocketNotifier. -1 when not installed.
    int WakeDescriptor() const { return WakeRead; }
    // The signals received since the last call, each once, in ascending order; clears them.
    std::vector<int> TakePending();

private:
    void Restore();
    int WakeRead = -1;
};

} // namespace kv
