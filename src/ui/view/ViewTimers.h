// SPDX-License-Identifier: GPL-3.0-or-later
// The one-shot timers of the measuring view, by id. Start and Kill may be called from any thread:
// off the user-interface thread the request is queued to it, so QTimer is only touched there.
#pragma once

#include <QObject>
#include <QTimer>
#include <functional>
#include <map>
#include <memory>

namespace kv {

// The view's own timers, beside those its session asks for (analysis/AnalysisHost.h).
enum ViewTimerId : int {
    TimerRepaintRetry = 103, // delivers a repaint request the throttle held back
    TimerPointer = 105,      // hover refresh and the auto-scroll of a marking drag
};

class ViewTimers : public QObject {
    Q_OBJECT
public:
    using Handler = std::function<void(int id)>;

    explicit ViewTimers(Handler onExpiry, QObject* parent = nullptr);

    // (Re)starts timer `id` to fire once after `milliseconds`.
    void Start(int id, unsigned milliseconds);
    void Kill(int id);
    bool IsActive(int id) const;
    // Milliseconds the timer was last started with, or -1 when it is not running.
    int Interval(int id) const;

private:
    QTimer& TimerFor(int id);
    bool OnOwnThread() const;

    Handler OnExpiry;
    std::map<int, std::unique_ptr<QTimer>> Timers;
};

} // namespace kv
