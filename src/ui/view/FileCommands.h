// SPDX-License-Identifier: GPL-3.0-or-later
// The view's file commands: the waveform file (choose, record, play back) and the log file
// (choose, clear, switch on and off, annotate). The session does the work; these ask the user.
#pragma once

#include "ui/common/CommandTable.h"

namespace kv {

class CChildView;

// The check and enable state of a file command.
CommandState FileCommandStatus(const CChildView& view, int id);
// Runs a file command; false when `id` is not one.
bool OnFileCommand(CChildView& view, int id);

} // namespace kv
