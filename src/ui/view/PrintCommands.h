// SPDX-License-Identifier: GPL-3.0-or-later
// The measuring window's three print commands, one handler: "Print ..." and "Print immediate"
// print a picture of the window, "Print tape ..." the whole paper tape in strips; while the log
// viewer is open each of them prints the viewer's graph instead. User-interface thread only.
#pragma once

class QWidget;

namespace kv {

class CChildView;

bool IsPrintCommand(int id);
// Runs print command `id` for `view`; messages go through the view's message hook.
void OnPrintCommand(CChildView& view, int id);
// Gives `window` (a window of its own, such as the log viewer) the print keys of the measuring
// window, so Ctrl+P there prints as it does in the measuring window.
void InstallPrintKeys(CChildView& view, QWidget& window);

} // namespace kv
