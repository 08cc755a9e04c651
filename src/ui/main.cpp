// Kestrovane: the measuring window.
#include <QApplication>
#include <QLocale>
#include <QSocketNotifier>
#include <clocale>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

#include "ui/Application.h"

namespace {

int SignalPipe[2] = {-1, -1};

void OnTerminate(int) {
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(SignalPipe[1], &byte, 1);
}

// Ctrl+C or a termination request closes the window the normal way, so the settings are saved
// and a recording gets its header sizes.
void CloseOnTermination(kv::CKestrovaneApp& instance, QObject* owner) {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, SignalPipe) != 0) return;
    auto* notifier = new QSocketNotifier(SignalPipe[0], QSocketNotifier::Read, owner);
    QObject::connect(notifier, &QSocketNotifier::activated, owner, [&instance] {
        char byte;
        [[maybe_unused]] const auto got = ::read(SignalPipe[0], &byte, 1);
        if (instance.Frame()) instance.Frame()->close();
    });
    struct sigaction action {};
    action.sa_handler = OnTerminate;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    // QApplication took LC_ALL from the environment. Every number the program reads or writes
    // uses "." whatever the desktop's language: C library conversions and Qt's default locale
    // both go back to "C".
    std::setlocale(LC_NUMERIC, "C");
    QLocale::setDefault(QLocale::c());
    kv::CKestrovaneApp instance;
    if (!instance.InitInstance()) return 1;
    CloseOnTermination(instance, &app);
    return QApplication::exec();
}
