// SPDX-License-Identifier: GPL-3.0-or-later
// The application object: start-up order, process priority, the settings store, the main frame.
#pragma once

#include <memory>

#include "settings/SettingsStore.h"
#include "ui/app/MainFrame.h"

namespace kv {

class CKestrovaneApp {
public:
    CKestrovaneApp();
    ~CKestrovaneApp();
    // Start-up; false ends the program.
    bool InitInstance();
    CMainFrame* Frame() { return MainFrame.get(); }

private:
    void RaiseProcessPriority();
    std::unique_ptr<SettingsStore> Store;
    std::unique_ptr<CMainFrame> MainFrame;
};

} // namespace kv
