// SPDX-License-Identifier: GPL-3.0-or-later
// The device and measuring notices of the measuring view. A notice from any thread is collected
// while the command that raised it runs and shown afterwards: the texts of one command in one
// box, one box at a time, opened without an event loop of its own, so no notice runs inside Run
// or Stop. Each box's text is also echoed to standard error.
#pragma once

#include <QString>
#include <QStringList>
#include <functional>

class QWidget;

namespace kv {

class ViewNotices {
public:
    // `sink`, when set, receives each box's text instead of a box (tests).
    ViewNotices(QWidget& parent, const std::function<void(const QString&)>& sink);

    // Any thread.
    void Add(const QString& text);
    // Shows a message at once and waits for it to be read (dialog validation).
    void ShowNow(const QString& text);
    int PendingCount() const { return static_cast<int>(Pending.size()); }

private:
    void Schedule();
    void Show();
    void Closed();

    QWidget& Parent;
    const std::function<void(const QString&)>& Sink;
    QStringList Pending;
    bool Scheduled = false;
    bool Open = false;
};

} // namespace kv
