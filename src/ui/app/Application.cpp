// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/app/Application.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QMessageBox>
#include <QSessionManager>

#include "platform/Priority.h"
#include "session/SampleRecording.h"
#include "settings/SettingsPaths.h"

namespace kv {

CKestrovaneApp::CKestrovaneApp() = default;
CKestrovaneApp::~CKestrovaneApp() = default;

// Being held at the user's limit is not a failure; only an unexpected error is reported.
void CKestrovaneApp::RaiseProcessPriority() {
    if (kv::RaiseProcessPriority() == PriorityOutcome::Failed)
        QMessageBox::warning(nullptr, QStringLiteral("Kestrovane"),
                             QStringLiteral("Unable to set priority class"));
}

bool CKestrovaneApp::InitInstance(const std::string& openFile) {
    RaiseProcessPriority();
    Store = std::make_unique<SettingsStore>(ConfigFilePath());
    Store->Load();
    CMainFrame::Options options;
    options.Store = Store.get();
    options.BundledSample = BundledSamplePath(QCoreApplication::applicationDirPath().toStdString());
    options.OpenFile = openFile;
    MainFrame = std::make_unique<CMainFrame>(options);
    MainFrame->ShowAtStart();
    QObject::connect(qApp, &QGuiApplication::commitDataRequest, MainFrame.get(),
                     [this](QSessionManager&) { MainFrame->View().Session().SessionEnd(); });
    return true;
}

} // namespace kv
