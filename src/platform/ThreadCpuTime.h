// SPDX-License-Identifier: GPL-3.0-or-later
// Processor time a thread has used, for the output worker's load figure.
#pragma once

#include <thread>

namespace kv {

// Seconds of CPU time `thread` has used so far; 0 when the system cannot say (e.g. it has ended
// and been joined).
double ThreadCpuSeconds(std::thread::native_handle_type thread);

} // namespace kv
