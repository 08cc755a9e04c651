// SPDX-License-Identifier: GPL-3.0-or-later
// Waiting in user-interface tests: Qt's events are processed while the test waits, so queued
// calls, timers and repaints happen as they would in the running program.
#pragma once

#include <QElapsedTimer>
#include <QTest>

namespace kv::test {

// Processes events until `done` or the time-out (milliseconds) passes; the final answer of `done`.
template <typename Predicate> bool WaitFor(Predicate done, int timeoutMs, int pollMs = 10) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < timeoutMs)
        QTest::qWait(pollMs);
    return done();
}

} // namespace kv::test
