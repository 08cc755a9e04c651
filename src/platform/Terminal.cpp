// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/Terminal.h"

#include <unistd.h>

namespace kv {

bool StandardErrorIsTerminal() {
    return ::isatty(STDERR_FILENO) == 1;
}

} // namespace kv
