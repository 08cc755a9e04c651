// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/view/ViewNotices.h"

#include <QMessageBox>
#include <QThread>
#include <QWidget>
#include <cstdio>

namespace kv {

namespace {
// A box's text also goes to standard error, one line a box, for a user who started the program
// from a terminal and for scripts that watch it.
void EchoMessageBox(const QString& text) {
    QString line = text;
    line.replace(QLatin1Char('\n'), QStringLiteral(" / "));
    std::fprintf(stderr, "kestrovane: message box: %s\n", line.toLocal8Bit().constData());
}
} // namespace

ViewNotices::ViewNotices(QWidget& parent, const std::function<void(const QString&)>& sink)
    : Parent(parent), Sink(sink) {}

void ViewNotices::ShowNow(const QString& text) {
    if (Sink) {
        Sink(text);
        return;
    }
    EchoMessageBox(text);
    QMessageBox::warning(&Parent, QStringLiteral("Kestrovane"), text);
}

void ViewNotices::Add(const QString& text) {
    if (QThread::currentThread() != Parent.thread()) {
        QMetaObject::invokeMethod(
            &Parent, [this, text] { Add(text); }, Qt::QueuedConnection);
        return;
    }
    if (!Pending.contains(text)) Pending << text;
    Schedule();
}

void ViewNotices::Schedule() {
    if (Scheduled) return;
    Scheduled = true;
    QMetaObject::invokeMethod(
        &Parent,
        [this] {
            Scheduled = false;
            Show();
        },
        Qt::QueuedConnection);
}

void ViewNotices::Show() {
    if (Open || Pending.isEmpty()) return;
    const QString text = Pending.join(QLatin1Char('\n'));
    Pending.clear();
    Open = true;
    if (Sink) {
        Sink(text);
        Closed();
        return;
    }
    EchoMessageBox(text);
    auto* box = new QMessageBox(QMessageBox::Warning, QStringLiteral("Kestrovane"), text,
                                QMessageBox::Ok, &Parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    QObject::connect(box, &QMessageBox::finished, &Parent, [this] { Closed(); });
    box->open();
}

void ViewNotices::Closed() {
    Open = false;
    if (!Pending.isEmpty()) Schedule();
}

} // namespace kv
