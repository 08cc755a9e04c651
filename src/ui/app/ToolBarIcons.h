// SPDX-License-Identifier: GPL-3.0-or-later
// The tool bar's own icon set: one 16 x 15 picture per command, drawn at start-up, with a
// framed, highlighted variant for a checked command.
#pragma once

#include <QIcon>

namespace kv {

QIcon ToolBarIcon(int commandId);
// The program's icon: a watch case with a tick trace, drawn in several sizes.
QIcon ApplicationIcon();

} // namespace kv
