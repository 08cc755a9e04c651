// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/view/ViewerCommands.h"

#include <QMessageBox>

#include "ui/logview/GraphView.h"
#include "ui/view/ChildView.h"
#include "ui/view/PrintCommands.h"

namespace kv {

namespace {

bool ConfirmOkCancel(CChildView& view, const QString& question) {
    if (view.Hooks.ConfirmHook) return view.Hooks.ConfirmHook(question);
    return QMessageBox::question(view.LogViewer() ? static_cast<QWidget*>(view.LogViewer()) : &view,
                                 QStringLiteral("Kestrovane"), question,
                                 QMessageBox::Ok | QMessageBox::Cancel) == QMessageBox::Ok;
}

CGraphView* OpenViewer(CChildView& view) {
    if (CGraphView* open = view.LogViewer()) return open;
    CGraphView::Setup setup;
    setup.LogPath = view.App().LogFile2;
    setup.Store = view.Session().SettingsFile();
    setup.Writer = &view.Session().LogFile();
    setup.Confirm = [&view](const QString& question) { return ConfirmOkCancel(view, question); };
    setup.Tell = [&view](const QString& text) { view.ShowMessageText(text); };
    setup.DriveDialog = view.Hooks.GraphSettingsDialogHook;
    QWidget* owner = view.window();
    auto* viewer = new CGraphView(std::move(setup), owner, owner->geometry());
    view.AttachLogViewer(viewer);
    InstallPrintKeys(view, *viewer);
    viewer->show();
    return viewer;
}

} // namespace

bool IsViewerCommand(int id) {
    return id == cmd::ShowViewer || id == cmd::DeleteSection || id == cmd::ResetViewer ||
           id == cmd::ViewerSettings;
}

CommandState ViewerCommandStatus(const CChildView& view, int id) {
    CommandState s;
    const CGraphView* viewer = view.LogViewer();
    if (id == cmd::ShowViewer) s.Checked = viewer != nullptr;
    if (id == cmd::DeleteSection) s.Enabled = viewer && viewer->SectionMarked();
    return s;
}

bool OnViewerCommand(CChildView& view, int id) {
    switch (id) {
    case cmd::ShowViewer:
        if (CGraphView* open = view.LogViewer())
            open->close();
        else
            OpenViewer(view);
        return true;
    case cmd::DeleteSection:
        if (CGraphView* open = view.LogViewer()) open->DeleteSection();
        return true;
    case cmd::ViewerSettings:
        OpenViewer(view)->RunSettingsDialog();
        return true;
    case cmd::ResetViewer:
        OpenViewer(view)->ResetDefaults();
        return true;
    default:
        return false;
    }
}

} // namespace kv
