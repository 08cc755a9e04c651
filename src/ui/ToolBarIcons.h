// The tool bar's own icon set: one 16 x 15 picture per command, drawn at start-up.
#pragma once

#include <QIcon>

namespace kv {

QIcon ToolBarIcon(int commandId);

} // namespace kv
