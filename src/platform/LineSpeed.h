// SPDX-License-Identifier: GPL-3.0-or-later
// The line speed of a terminal device through termios2, so that any rate can be asked for, not
// only those termios has a Bxxx constant for. Its own file because <asm/termbits.h>, which
// declares termios2, cannot share a translation unit with <termios.h>.
#pragma once

#include <cstdint>

namespace kv {

// Sets the output speed of the terminal fd to bitsPerSecond and lets the input speed follow it:
// by its Bxxx constant where one exists (drivers written before arbitrary rates understand
// those), otherwise as an arbitrary rate (BOTHER). Returns the output speed the driver reports
// afterwards, which a UART may have rounded to what its divisor can make; 0 when the call fails.
// Called by the thread that configures the port, with no other call on fd at the same time.
uint32_t SetLineSpeed(int fd, uint32_t bitsPerSecond);

} // namespace kv
