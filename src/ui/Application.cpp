#include "ui/Application.h"

#include <QMessageBox>
#include <cerrno>
#include <sys/resource.h>

namespace kv {

namespace {
// The nice value the process asks for: a "high" class, well above normal programs.
constexpr int HighPriorityNice = -10;
} // namespace

CKestrovaneApp::CKestrovaneApp() = default;
CKestrovaneApp::~CKestrovaneApp() = default;

// Asks for the high nice value, or the best the user's RLIMIT_NICE allows; being held at that
// limit is not a failure.
void CKestrovaneApp::RaiseProcessPriority() {
    rlimit limit{};
    int wanted = HighPriorityNice;
    if (getrlimit(RLIMIT_NICE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY)
        wanted = std::max(wanted, 20 - static_cast<int>(limit.rlim_cur));
    errno = 0;
    const int current = getpriority(PRIO_PROCESS, 0);
    if (errno != 0 || wanted >= current) return;
    if (setpriority(PRIO_PROCESS, 0, wanted) != 0 && errno != EACCES && errno != EPERM)
        QMessageBox::warning(nullptr, QStringLiteral("Kestrovane"),
                             QStringLiteral("Unable to set priority class"));
}

bool CKestrovaneApp::InitInstance() {
    RaiseProcessPriority();
    MainFrame = std::make_unique<CMainFrame>();
    MainFrame->showMaximized();
    return true;
}

} // namespace kv
