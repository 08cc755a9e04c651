// SPDX-License-Identifier: GPL-3.0-or-later
// The application object: start-up order, process priority, the settings store, the main frame.
#pragma once

#include <memory>
#include <string>

#include "settings/SettingsStore.h"
#include "ui/app/MainFrame.h"

namespace kv {

class CKestrovaneApp {
public:
    CKestrovaneApp();
    ~CKestrovaneApp();
    // Start-up; false ends the program. `openFile` (may be empty) is played and measured at once
    // in place of the waveform file.
    bool InitInstance(const std::string& openFile = {});
    CMainFrame* Frame() { return MainFrame.get(); }

private:
    void RaiseProcessPriority();
    std::unique_ptr<SettingsStore> Store;
    std::unique_ptr<CMainFrame> MainFrame;
};

} // namespace kv
