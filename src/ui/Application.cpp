#include "ui/Application.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QMessageBox>
#include <QSessionManager>
#include <cerrno>
#include <sys/resource.h>

#include "settings/SettingsPaths.h"
#include "ui/SampleRecording.h"

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
    Store = std::make_unique<SettingsStore>(ConfigFilePath());
    Store->Load();
    CMainFrame::Options options;
    options.Store = Store.get();
    options.BundledSample = BundledSamplePath(QCoreApplication::applicationDirPath().toStdString());
    MainFrame = std::make_unique<CMainFrame>(options);
    MainFrame->ShowAtStart();
    QObject::connect(qApp, &QGuiApplication::commitDataRequest, MainFrame.get(),
                     [this](QSessionManager&) { MainFrame->View().Session().SessionEnd(); });
    return true;
}

} // namespace kv
