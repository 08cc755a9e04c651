// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/view/PrintCommands.h"

#include <QScreen>
#include <QShortcut>

#include "ui/common/CommandTable.h"
#include "ui/logview/GraphView.h"
#include "ui/print/PrintJob.h"
#include "ui/print/TapePrint.h"
#include "ui/view/ChildView.h"

namespace kv {

namespace {

PrintContext ContextFor(CChildView& view) {
    PrintContext context;
    context.MainWindow = view.window();
    context.PrinterHook = view.Hooks.PrinterHook;
    context.Tell = view.Hooks.MessageSink;
    return context;
}

int ScreenHeight(const CChildView& view) {
    const QScreen* screen = view.screen();
    return screen ? screen->size().height() : view.height();
}

} // namespace

bool IsPrintCommand(int id) {
    return id == cmd::Print || id == cmd::PrintImmediate || id == cmd::PrintTape;
}

void OnPrintCommand(CChildView& view, int id) {
    const PrintContext context = ContextFor(view);
    if (CGraphView* viewer = view.LogViewer()) {
        viewer->PrintGraph(context, id);
        return;
    }
    if (id == cmd::PrintTape) {
        const int screenHeight = ScreenHeight(view);
        RunPrintJob(context, id, [&view, screenHeight](QPainter& painter, QSize page) {
            DrawTapeStrips(painter, page, screenHeight, view.Core());
        });
        return;
    }
    RunPrintJob(context, id, PicturePage(view.Picture()));
}

void InstallPrintKeys(CChildView& view, QWidget& window) {
    for (const Accelerator& key : AcceleratorTable()) {
        if (!IsPrintCommand(key.Id)) continue;
        auto* shortcut = new QShortcut(key.Key, &window);
        const int id = key.Id;
        QObject::connect(shortcut, &QShortcut::activated, &view,
                         [&view, id] { emit view.CommandRequested(id); });
    }
}

} // namespace kv
