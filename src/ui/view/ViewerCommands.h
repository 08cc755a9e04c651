// SPDX-License-Identifier: GPL-3.0-or-later
// The view's log viewer commands: show or hide the viewer, delete the marked section, edit and
// reset the viewer's settings. User-interface thread only.
#pragma once

#include "ui/common/CommandTable.h"

namespace kv {

class CChildView;

bool IsViewerCommand(int id);
CommandState ViewerCommandStatus(const CChildView& view, int id);
// Runs a viewer command; false when `id` is not one.
bool OnViewerCommand(CChildView& view, int id);

} // namespace kv
