// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/view/ViewTimers.h"

#include <QThread>

namespace kv {

ViewTimers::ViewTimers(Handler onExpiry, QObject* parent)
    : QObject(parent), OnExpiry(std::move(onExpiry)) {}

bool ViewTimers::OnOwnThread() const {
    return QThread::currentThread() == thread();
}

QTimer& ViewTimers::TimerFor(int id) {
    auto& timer = Timers[id];
    if (!timer) {
        timer = std::make_unique<QTimer>();
        timer->setSingleShot(true);
        connect(timer.get(), &QTimer::timeout, this, [this, id] { OnExpiry(id); });
    }
    return *timer;
}

void ViewTimers::Start(int id, unsigned milliseconds) {
    if (!OnOwnThread()) {
        QMetaObject::invokeMethod(
            this, [this, id, milliseconds] { Start(id, milliseconds); }, Qt::QueuedConnection);
        return;
    }
    TimerFor(id).start(static_cast<int>(milliseconds));
}

void ViewTimers::Kill(int id) {
    if (!OnOwnThread()) {
        QMetaObject::invokeMethod(
            this, [this, id] { Kill(id); }, Qt::QueuedConnection);
        return;
    }
    auto it = Timers.find(id);
    if (it != Timers.end()) it->second->stop();
}

bool ViewTimers::IsActive(int id) const {
    auto it = Timers.find(id);
    return it != Timers.end() && it->second->isActive();
}

int ViewTimers::Interval(int id) const {
    auto it = Timers.find(id);
    return it != Timers.end() && it->second->isActive() ? it->second->interval() : -1;
}

} // namespace kv
