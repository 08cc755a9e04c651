// SPDX-License-Identifier: GPL-3.0-or-later
// Whether a standard stream goes to a terminal, for output meant for a person watching
// (progress that rewrites its line) and not for a file or a pipe.
#pragma once

namespace kv {

bool StandardErrorIsTerminal();

} // namespace kv
